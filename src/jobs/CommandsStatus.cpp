// STATUS: whether the TSE is reachable and what it is, whether the asking
// client is registered, and the notices the operator is shown. Changes nothing.
#include "jobs/Jobs.h"

#include "jobs/TransactionLogs.h"
#include "platform/Ansi.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "core/Core.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <map>

namespace {

bool KasseBekannt(const TCore& core, const std::string& KasID)
{
    const QString id = Txt(KasID);
    for (const QString& line : core.Shown.Clients())
        if (line.compare(id, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// A byte as the certificate lists show it: visible ASCII as itself,
// everything else (the blank too) as ".".
char Printable(unsigned char b)
{
    return b >= 0x21 && b <= 0x7E ? char(b) : '.';
}

// The form of the TSE's log times ("unixTime", "utcTime", ...), which the QR
// text names. The SE-API has no query for it: it is read from the log
// messages of the TSE's newest transaction, once per TSE. Empty while the
// TSE has none.
std::string LogTimeFormat(const TCore& core)
{
    static std::map<std::string, std::string> known;  // by serial number
    if (const auto it = known.find(TseSN); it != known.end()) return it->second;
    const uint32_t counter = tse_getTransactionCounter();
    if (TseRes != 0 || counter == 0) return {};
    const QString path = plat::NativePath(core.AktVerz + "/Vok_TSE.status.tar");
    tse_exportDataToFile({}, counter, counter, 0, 0, plat::QToAnsi(path));
    TTransactionLogs logs;
    const bool read = TseRes == 0 && ReadTransactionLogs(path, counter, logs) == 0;
    (void)plat::DeleteFile(path);
    if (!read || logs.logTimeFormat.empty()) return {};
    known[TseSN] = logs.logTimeFormat;
    return logs.logTimeFormat;
}

}  // namespace

QString GetFirstCert()
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

void Cmd_Status_der_TSE(TCore& core, TJobContext& ctx)
{
    std::string list = tse_exportSerialNumbers();
    const int32_t snRes = TseRes;
    const std::string sn = GetTerm(list, '|').toStdString();

    core.Log(Txt(ctx.KasID) + "  Abfrage TSE-Status");

    // Written also when the file could not be created: the answer is kept
    // and written again on later passes.
    Rewrite_SigFile(core, ctx);
    WriteSigLine(ctx, "CMD=STATUS OK");
    WriteSigLine(ctx, sn.empty() ? "TSE=OFFLINE ERR=" + ErgStrOf(snRes) : std::string("TSE=ONLINE"));
    WriteSigLine(ctx, "KASID=" + ctx.KasID);
    WriteSigLine(ctx, KasseBekannt(core, ctx.KasID) ? "KASSE=BEKANNT" : "KASSE=UNBEKANNT");
    WriteSigLine(ctx, "SN=" + sn);
    WriteSigLine(ctx, "PUBKEY=" + HexToBase64(tse_exportPublicKey(sn)));
    WriteSigLine(ctx, "TIFO=" + tse_getTimeSyncVariant());
    WriteSigLine(ctx, "HASHALGO=" + tse_getSignatureAlgorithm());
    WriteSigLine(ctx, "ZERT1=" + plat::QToAnsi(GetFirstCert()));
    // Added last, so that a register reading the older lines by their
    // position still finds them where they were.
    WriteSigLine(ctx, "LOGTIFO=" + (sn.empty() ? std::string() : LogTimeFormat(core)));
    const QStringList notices = core.Shown.Notices();
    if (!notices.isEmpty()) {
        WriteSigLine(ctx, "MITTEILUNGEN");
        for (const QString& line : notices) WriteSigLine(ctx, plat::QToAnsi(line));
    }
    WriteSigLine(ctx, "*EOF*");
    Close_SigFile(core, ctx);
}
