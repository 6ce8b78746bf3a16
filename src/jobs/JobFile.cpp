#include "jobs/Jobs.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Monotonic.h"
#include "core/Core.h"
#include "tse/TseLib.h"

#include <string_view>

namespace {

struct JobKey {
    std::string_view key;
    size_t longest;
    std::string TJobContext::*value;
};

// A key counts only at the very start of the line, exactly as written; its
// value is cut, not trimmed.
constexpr JobKey kJobKeys[] = {
    {"CMD=", 10, &TJobContext::KasCmd},     {"KASID=", 30, &TJobContext::KasID},
    {"BONID=", 10, &TJobContext::KasBonNr}, {"SIGTEXT=", 100, &TJobContext::KasData},
    {"VONTA=", 30, &TJobContext::ExpVonTA}, {"BISTA=", 30, &TJobContext::ExpBisTA},
};

}  // namespace

QString Txt(const std::string& bytes)
{
    return plat::AnsiToQ(bytes);
}

void ApplyJobLine(TJobContext& ctx, const std::string& line)
{
    if (line == "*EOF*") {
        ctx.KasEOF = true;
        return;
    }
    for (const JobKey& k : kJobKeys) {
        if (line.compare(0, k.key.size(), k.key) == 0) {
            ctx.*k.value = line.substr(k.key.size(), k.longest);
            // The last line of a key wins, and so does its length.
            const std::string key(k.key.substr(0, k.key.size() - 1));
            std::erase_if(ctx.Cuts, [&](const TJobContext::Cut& c) { return c.key == key; });
            const size_t given = line.size() - k.key.size();
            if (given > k.longest) ctx.Cuts.push_back({key, given, k.longest});
            return;
        }
    }
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < text.size()) {
        size_t nl = text.find('\n', from);
        const size_t next = nl == std::string::npos ? text.size() : nl + 1;
        if (nl == std::string::npos) nl = text.size();
        size_t end = nl;
        if (end > from && nl < text.size() && text[end - 1] == '\r') --end;
        lines.emplace_back(text, from, end - from);
        from = next;
    }
    return lines;
}

void ApplyJobText(TJobContext& ctx, const std::string& text, bool cut)
{
    std::string_view view(text);
    if (cut) {
        // What follows the last line end is a line torn at the bound.
        const size_t lastNl = view.rfind('\n');
        view = lastNl == std::string_view::npos ? std::string_view() : view.substr(0, lastNl + 1);
    }
    for (const std::string& line : SplitLines(std::string(view))) ApplyJobLine(ctx, line);
}

TJobDirs JobDirs(const TCore& core)
{
    return {core.DatenVerz, core.SpoolVerz};
}

plat::FsPath JobFilePath(const TCore& core, const TJobContext& ctx)
{
    return PathOf(JobDirs(core), ctx.JobDatei);
}

plat::FsPath SigFilePath(const TCore& core, const TJobContext& ctx)
{
    return SigFilePath(core, ctx.AktKasRaw);
}

plat::FsPath SigFilePath(const TCore& core, const QByteArray& jobName)
{
    return PathOf(JobDirs(core), jobName + ".SIG");
}

void LogRepeated(TCore& core, TJobPassState& st, const QByteArray& jobFile, const QString& line)
{
    const QString shown = st.Errors.Filter(jobFile, line, plat::MonotonicMs());
    if (!shown.isEmpty()) core.Log(shown);
}

bool ReadJobFile(TCore& core, TJobContext& ctx, TJobPassState& st, std::string& text)
{
    const QString name = ctx.AktKas + ".TSE";
    text.clear();

    // Only a plain file is a job: a link could hand out any file the service
    // may read, and a FIFO or device could block the service for good. Such
    // an entry is refused like a file that cannot be opened, and left.
    ctx.IORes = ctx.F.OpenRegular(JobFilePath(core, ctx));
    if (ctx.IORes != 0) {
        LogRepeated(core, st, ctx.JobDatei, "°Fehler beim Reset " + name + "  Err=" + QString::number(ctx.IORes));
        core.ZelnorsTestLog(name + " Fehler beim Reset, Err=" + QString::number(ctx.IORes));
        return false;
    }
    ctx.FDatOk = ctx.F.Stat(ctx.JobId, ctx.DT) == 0;
    if (core.TestLogWanted()) {
        ctx.DatStr = plat::FormatDateTime(QStringLiteral("hh:nn:ss:zzz"), ctx.DT);
        core.ZelnorsTestLog(ctx.FDatOk ? name + " Reset erfolgt (FTime " + ctx.DatStr + ")"
                                       : name + " Reset erfolgt (FTime unbekannt)");
    }

    // One byte past the bound tells a file that is too large, also one that
    // keeps growing while it is read.
    const int32_t readErr = ctx.F.Read(text, kJobFileLimit + 1);

    ctx.IORes = ctx.F.Close();
    if (ctx.IORes != 0) {
        core.Delay(500);
        // A close gives the descriptor up whatever it reports, so a second
        // attempt has nothing left to close: the first error stands and the
        // job waits for the next pass.
        if (ctx.F.IsOpen()) ctx.IORes = ctx.F.Close();
    }
    core.ZelnorsTestLog(name + " CloseFile erfolgt");
    if (readErr != 0) {
        LogRepeated(core, st, ctx.JobDatei,
                    "Fehler bei Job " + ctx.AktKas + ": Lesefehler, Err=" + QString::number(readErr) +
                        ", der Job bleibt stehen");
        return false;
    }
    if (ctx.IORes != 0) return false;

    ctx.TooLarge = text.size() > kJobFileLimit;
    if (ctx.TooLarge) text.resize(kJobFileLimit);
    ApplyJobText(ctx, text, ctx.TooLarge);
    if (!ctx.KasEOF && !ctx.TooLarge && TseDebug) core.Log("°TSE-Datei noch nicht vollständig");
    return true;
}
