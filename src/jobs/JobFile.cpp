#include "jobs/Jobs.h"

#include "platform/Ansi.h"
#include "shell/MainForm.h"
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
            return;
        }
    }
}

QString JobFilePath(const TMainForm& form, const TJobContext& ctx)
{
    return form.DatenVerz + "\\" + ctx.JobDatei;
}

QString SigFilePath(const TMainForm& form, const TJobContext& ctx)
{
    return form.DatenVerz + "\\" + ctx.AktKas + ".SIG";
}

int32_t ReadJobFile(TMainForm& form, TJobContext& ctx)
{
    const QString path = JobFilePath(form, ctx);
    const QString name = ctx.AktKas + ".TSE";

    // A directory under a job's name is no job file, however the platform
    // lets it be opened.
    ctx.IORes = plat::DirectoryExists(path) ? EISDIR : ctx.F.OpenRead(path);
    if (ctx.IORes != 0) {
        form.Log("°Fehler beim Reset " + name + "  Err=" + QString::number(ctx.IORes));
        form.ZelnorsTestLog(name + " Fehler beim Reset, Err=" + QString::number(ctx.IORes));
        return 0;
    }
    form.ZelnorsTestLog(ctx.FDatOk ? name + " Reset erfolgt (FTime " + ctx.DatStr + ")"
                                   : name + " Reset erfolgt (FTime unbekannt)");

    int32_t readErr = 0;
    for (;;) {
        std::string line;
        bool atEnd = false;
        readErr = ctx.F.ReadLine(line, atEnd);
        if (readErr != 0 || atEnd) break;
        ApplyJobLine(ctx, line);
    }

    ctx.IORes = ctx.F.Close();
    if (ctx.IORes != 0) {
        form.Delay(500);
        // A close gives the descriptor up whatever it reports, so a second
        // attempt has nothing left to close: the first error stands and the
        // job waits for the next pass.
        if (ctx.F.IsOpen()) ctx.IORes = ctx.F.Close();
    }
    form.ZelnorsTestLog(name + " CloseFile erfolgt");
    if (readErr == 0 && !ctx.KasEOF && TseDebug) form.Log("°TSE-Datei noch nicht vollständig");
    return readErr;
}
