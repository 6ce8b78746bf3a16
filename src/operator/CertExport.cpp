// Certificate export: the TSE's certificate archive saved unchanged as
// Cer.TAR, and the names of its certificate members listed in Cer.txt.
#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "core/Core.h"
#include "operator/Operator.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

namespace {

constexpr size_t BlockSize = 512;  // a TAR member's header fills one block
const std::string CertMarker = "_X509.cer";

// One character per byte: 0x21..0x7E as it is, everything else ".".
std::string PrintableForm(const std::string& bytes)
{
    std::string text(bytes.size(), '.');
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x21 && b <= 0x7E) text[i] = static_cast<char>(b);
    }
    return text;
}

QString ErrSuffix(int err)
{
    return QStringLiteral(" (Err #") + QString::number(err) + QStringLiteral(")");
}

// Closes an open file on every path out; a failed close of a file that was
// written is reported by the caller through Close() itself.
struct FileCloser {
    plat::File& file;
    ~FileCloser()
    {
        if (file.IsOpen()) file.Close();
    }
};

}  // namespace

int32_t ExpCert(TCore& core)
{
    const std::string hex = tse_exportCertificates();
    const int32_t exportRes = TseRes.load();
    if (exportRes != 0) {
        // A refused export must neither look like a success nor wipe the
        // files of an earlier run.
        core.Log(QStringLiteral("Export der Zertifikate nicht möglich (") + core.ErgStr() + QStringLiteral(")"));
        return exportRes;
    }

    const QString tarPath = core.ExpVerz + QStringLiteral("\\Cer.TAR");
    const QString txtPath = core.ExpVerz + QStringLiteral("\\Cer.txt");

    {
        plat::File tar;
        FileCloser closer{tar};
        if (const int n = tar.Create(tarPath)) {
            core.Log(QStringLiteral("Datei Cer.TAR konnten nicht angelegt werden") + ErrSuffix(n));
            return n;
        }
        int n = tar.Write(HexToBytes(hex));
        if (n == 0) n = tar.Close();
        if (n != 0) {
            core.Log(QStringLiteral("Datei Cer.TAR konnte nicht geschrieben werden") + ErrSuffix(n));
            return n;
        }
    }

    std::string NameListe;
    {
        plat::File tar;
        FileCloser closer{tar};
        if (const int n = tar.OpenRead(tarPath)) {
            core.Log(QStringLiteral("Zertifikate-Datei konnten nicht geöffnet werden") + ErrSuffix(n));
            return n;
        }
        // Block by block, at least once; a name never spans two blocks.
        bool atEnd = false;
        do {
            std::string block;
            if (const int n = tar.Read(block, BlockSize)) {
                core.Log(QStringLiteral("Zertifikate-Datei konnte nicht gelesen werden") + ErrSuffix(n));
                return n;
            }
            atEnd = block.size() < BlockSize;
            const std::string text = PrintableForm(block);
            const size_t pos = text.find(CertMarker);
            if (pos != std::string::npos) NameListe += "|" + text.substr(0, pos + CertMarker.size());
        } while (!atEnd);
    }

    plat::File txt;
    FileCloser closer{txt};
    if (const int n = txt.Create(txtPath)) {
        core.Log(QStringLiteral("Datei Cer.txt konnten nicht angelegt werden") + ErrSuffix(n));
        return n;
    }
    int n = 0;
    while (n == 0 && !NameListe.empty()) {
        const QString name = GetTerm(NameListe, QLatin1Char('|'));
        if (!name.isEmpty()) n = txt.WriteLine(plat::QToAnsi(name));
    }
    if (n == 0) n = txt.Close();
    if (n != 0) {
        core.Log(QStringLiteral("Datei Cer.txt konnte nicht geschrieben werden") + ErrSuffix(n));
        return n;
    }
    return 0;
}
