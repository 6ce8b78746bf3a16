// EXPORT: the TSE writes its stored data for a range of transaction numbers
// into a TAR file in the export directory. Without a last number the range
// ends at the current counter and the export marker follows it, but never
// past a transaction the TSE still holds open.
#include "jobs/Jobs.h"

#include "platform/Ansi.h"
#include "platform/Paths.h"
#include "core/Core.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <limits>
#include <optional>
#include <set>

namespace {

// The watchdog's time stretched for one export, however it ends.
class LongTseCall {
public:
    static constexpr int kAllowedSeconds = 60 * 60;
    explicit LongTseCall(TCore& core) : core_(core) { core_.LongTseCallBegins(kAllowedSeconds); }
    ~LongTseCall() { core_.LongTseCallEnds(); }
    LongTseCall(const LongTseCall&) = delete;
    LongTseCall& operator=(const LongTseCall&) = delete;

private:
    TCore& core_;
};

QString Erg()
{
    return QString::fromLatin1(ErgStr());
}

struct ExportRange {
    uint32_t VonTANr = 0;
    uint32_t BisTANr = 0;
    bool valid = true;          // both given numbers could be read
    bool counterAsked = false;  // BisTANr came from the TSE's counter
    bool counterOk = false;     // ... and that query succeeded
    QString invalid;            // the unreadable values, for the log
};

ExportRange GetRange(const TCore& core, const TJobContext& ctx)
{
    ExportRange r;
    if (ctx.ExpVonTA.empty()) {
        r.VonTANr = core.LastSavedTANr + 1;
    } else if (!ParseTANr(ctx.ExpVonTA, r.VonTANr)) {
        r.valid = false;
        r.invalid += " VONTA=" + Txt(ctx.ExpVonTA);
    }
    if (ctx.ExpBisTA.empty()) {
        r.BisTANr = tse_getTransactionCounter();
        r.counterAsked = true;
        r.counterOk = TseRes == 0;
    } else if (!ParseTANr(ctx.ExpBisTA, r.BisTANr)) {
        r.valid = false;
        r.invalid += " BISTA=" + Txt(ctx.ExpBisTA);
    }
    return r;
}

// The TSE's open transaction numbers; nothing (and the TSE's answer in
// `res`) when it cannot tell.
std::optional<std::set<uint32_t>> OpenTransactionNumbers(int32_t& res)
{
    std::string list = tse_getOpenTransactions();
    res = TseRes;
    if (res != 0) return std::nullopt;
    std::set<uint32_t> numbers;
    while (!list.empty()) {
        bool ok = false;
        const uint32_t n = GetTerm(list, QLatin1Char(' ')).toUInt(&ok, 10);
        if (ok) numbers.insert(n);
    }
    return numbers;
}

void ReOpenForExport(TCore& core, int32_t timeout)
{
    core.ReOpenTSE(timeout);
    if (TseRes != 0) core.Log("  Fehler beim Export, erneutes Öffnen der TSE unmöglich (" + Erg() + ")");
}

// Where the marker goes after a default export up to bisTaNr.
uint32_t MarkerAfterExport(uint32_t bisTaNr, const std::set<uint32_t>& openNumbers)
{
    if (openNumbers.empty()) return bisTaNr;
    const uint32_t lowest = *openNumbers.begin();
    if (lowest == 0) return 0;
    return std::min(bisTaNr, lowest - 1);
}

}  // namespace

bool ParseTANr(const std::string& text, uint32_t& value)
{
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    int64_t n = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
        if (n > int64_t(std::numeric_limits<int32_t>::max()) + 1) return false;
    }
    if (negative) n = -n;
    if (n > std::numeric_limits<int32_t>::max()) return false;
    value = uint32_t(int32_t(n));
    return true;
}

void Cmd_Export_von_TSE(TCore& core, TJobContext& ctx)
{
    const ExportRange r = GetRange(core, ctx);
    QString FName = "EXP_" + QString::number(r.VonTANr) + "-" + QString::number(r.BisTANr) + ".TAR";

    bool exported = false;
    int32_t answerRes = TseRes;
    // Asked before the export: a transaction finished between the two
    // calls has its finish in the archive, one still open has not.
    std::optional<std::set<uint32_t>> openAtExport;
    int32_t openQueryRes = 0;
    if (!r.valid) {
        // A range that cannot be read is not guessed at: nothing is exported.
        core.Log(Txt(ctx.KasID) + "  Export TSE-Daten nicht möglich, keine Transaktionsnummer:" + r.invalid);
        FName.clear();
        answerRes = ErrorParameterMismatch;
    } else {
        core.Log(Txt(ctx.KasID) + "  Export TSE-Daten " + FName);
        if (r.VonTANr > r.BisTANr) {
            FName.clear();
        } else {
            // An export of many transactions can take minutes, during which
            // this thread sends systemd no sign of life.
            const LongTseCall longCall(core);
            // A failed re-open does not stop the attempt.
            ReOpenForExport(core, 60000);
            if (r.counterAsked) openAtExport = OpenTransactionNumbers(openQueryRes);
            tse_exportDataToFile({}, r.VonTANr, r.BisTANr, 0, 0,
                                 plat::QToAnsi(plat::NativePath(core.ExpVerz + "\\" + FName)));
            exported = TseRes == 0;
            if (!exported) core.Log("  Fehler beim Export (" + Erg() + ")");
        }
        answerRes = TseRes;
    }

    // Written also when the file could not be created: the answer is kept
    // and written again on later passes.
    Rewrite_SigFile(core, ctx);
    WriteSigLine(ctx, answerRes == 0 ? std::string("CMD=EXPORT OK") : "CMD=EXPORT ERR " + ErgStrOf(answerRes));
    WriteSigLine(ctx, "KASID=" + ctx.KasID);
    WriteSigLine(ctx, "VONTA=" + std::to_string(r.VonTANr));
    WriteSigLine(ctx, "BISTA=" + std::to_string(r.BisTANr));
    WriteSigLine(ctx, "DATEI=" + plat::QToAnsi(FName));
    WriteSigLine(ctx, "*EOF*");
    Close_SigFile(core, ctx);

    ReOpenForExport(core, 5000);

    // The marker moves only over transactions that really went out, or when
    // the counter showed there was nothing new; a refused export or an
    // unreachable TSE leaves it, so the next default export repeats the range.
    const bool emptyRange = r.valid && r.VonTANr > r.BisTANr;
    if (!r.counterAsked || !r.valid || !(exported || (emptyRange && r.counterOk))) return;
    if (emptyRange) openAtExport = OpenTransactionNumbers(openQueryRes);
    // A transaction still open has only its start in this archive. Its
    // finish comes later and belongs to a transaction number the marker
    // would already have passed, so the marker stays below it: the next
    // default export repeats from there and takes the late finish along.
    if (!openAtExport) {
        core.Log("  Export: offene Transaktionen nicht abfragbar (" +
                 QString::fromStdString(ErgStrOf(openQueryRes)) + "), Exportstand bleibt " +
                 QString::number(core.LastSavedTANr));
        return;
    }
    const uint32_t marker = MarkerAfterExport(r.BisTANr, *openAtExport);
    if (marker < r.BisTANr)
        core.Log("  Export: TA=" + QString::number(marker + 1) +
                 " noch offen, der nächste Export beginnt dort");
    core.LastSavedTANr = marker;
    core.SaveConfig();
}
