// STATUS: whether the TSE is reachable and what it is, whether the asking
// client is registered, and the notices the window shows. Changes nothing.
#include "jobs/Jobs.h"

#include "platform/Ansi.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QListWidget>

namespace {

bool KasseBekannt(const TMainForm& form, const std::string& KasID)
{
    const QString id = Txt(KasID);
    for (const QString& line : TMainForm::Lines(form.liKas))
        if (line.compare(id, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// A byte as the certificate lists show it: visible ASCII as itself,
// everything else (the blank too) as ".".
char Printable(unsigned char b)
{
    return b >= 0x21 && b <= 0x7E ? char(b) : '.';
}

}  // namespace

QString TMainForm::GetFirstCert()
{
    // The export is a TAR archive: its first block starts with the first
    // member's name.
    const std::string bytes = HexToBytes(tse_exportCertificates());
    std::string result;
    for (size_t i = 0; i < bytes.size() && result.size() < 512; ++i)
        result += Printable(static_cast<unsigned char>(bytes[i]));
    const std::string tail = "_X509.cer";
    const size_t pos = result.find(tail);
    if (pos != std::string::npos) result.resize(pos + tail.size());
    return QString::fromLatin1(result);
}

void Cmd_Status_der_TSE(TMainForm& form, TJobContext& ctx)
{
    std::string list = tse_exportSerialNumbers();
    const int32_t snRes = TseRes;
    const std::string sn = GetTerm(list, '|').toStdString();

    form.Log(Txt(ctx.KasID) + "  Abfrage TSE-Status");

    // Written also when the file could not be created: the answer is kept
    // and written again on later passes.
    Rewrite_SigFile(form, ctx);
    WriteSigLine(ctx, "CMD=STATUS OK");
    WriteSigLine(ctx, sn.empty() ? "TSE=OFFLINE ERR=" + ErgStrOf(snRes) : std::string("TSE=ONLINE"));
    WriteSigLine(ctx, "KASID=" + ctx.KasID);
    WriteSigLine(ctx, KasseBekannt(form, ctx.KasID) ? "KASSE=BEKANNT" : "KASSE=UNBEKANNT");
    WriteSigLine(ctx, "SN=" + sn);
    WriteSigLine(ctx, "PUBKEY=" + HexToBase64(tse_exportPublicKey(sn)));
    WriteSigLine(ctx, "TIFO=" + tse_getTimeSyncVariant());
    WriteSigLine(ctx, "HASHALGO=" + tse_getSignatureAlgorithm());
    WriteSigLine(ctx, "ZERT1=" + plat::QToAnsi(form.GetFirstCert()));
    const QStringList notices = TMainForm::Lines(form.liErr);
    if (!notices.isEmpty()) {
        WriteSigLine(ctx, "MITTEILUNGEN");
        for (const QString& line : notices) WriteSigLine(ctx, plat::QToAnsi(line));
    }
    WriteSigLine(ctx, "*EOF*");
    Close_SigFile(form, ctx);
}
