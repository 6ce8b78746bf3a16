#include "jobs/Jobs.h"

#include "platform/Ansi.h"
#include "platform/Files.h"
#include "core/Core.h"
#include "tse/TseLib.h"

#include <vector>

namespace {

constexpr int kSigAttempts = 4;

}  // namespace

void Rewrite_SigFile(TCore& core, TJobContext& ctx)
{
    const plat::FsPath path = SigFilePath(core, ctx);
    const QString name = ctx.AktKas + ".SIG";
    ctx.Answer.clear();
    ctx.AnswerStarted = true;
    ctx.AnswerErr = 0;
    for (int Versuch = 1; Versuch <= kSigAttempts; ++Versuch) {
        // Create replaces a symbolic link or FIFO standing under the name
        // instead of writing through it.
        ctx.IORes = ctx.F.Create(path);
        if (ctx.IORes == 0) break;
        if (TseDebug)
            core.Log(name + " konnte vorerst nicht erstellt werden, Err=" + QString::number(ctx.IORes));
        core.Delay(500);
    }
    if (ctx.IORes != 0) {
        ctx.AnswerErr = ctx.IORes;
        core.Log(name + " konnte nicht erstellt werden, Err=" + QString::number(ctx.IORes));
        core.ZelnorsTestLog(name + " Rewrite unmöglich, Err=" + QString::number(ctx.IORes));
    } else {
        core.ZelnorsTestLog(name + " Rewrite erfolgt");
    }
}

// The lines are gathered and written with one call when the answer is
// closed: a client sees the answer whole or not yet, and a job pays one
// write instead of one a line.
void WriteSigLine(TJobContext& ctx, const std::string& line)
{
    ctx.Answer.push_back(line);
}

namespace {

void CloseSigFile(TCore& core, TJobContext& ctx, bool flush)
{
    const QString name = ctx.AktKas + ".SIG";
    // Nothing was created: the creation's error stands.
    if (!ctx.F.IsOpen()) return;
    if (ctx.AnswerErr == 0) {
        std::string text;
        for (const std::string& line : ctx.Answer) text += line + "\r\n";
        ctx.AnswerErr = ctx.F.Write(text);
    }
    // The job file is deleted right after this, so the answer must be on
    // the disk first: a power cut must not leave a job with neither its
    // file nor its answer. Only the flush can be retried; a close gives the
    // descriptor up whatever it reports.
    ctx.IORes = 0;
    for (int Versuch = 1; flush && Versuch <= kSigAttempts; ++Versuch) {
        ctx.IORes = ctx.F.Sync();
        if (ctx.IORes == 0 || ctx.IORes == EBADF) break;
        core.Delay(500);
    }
    const int32_t closeRes = ctx.F.Close();
    if (ctx.IORes == 0) ctx.IORes = closeRes;

    if (ctx.IORes != 0) {
        if (ctx.AnswerErr == 0) ctx.AnswerErr = ctx.IORes;
        core.Log(name + " konnte nicht geschlossen werden, Err=" + QString::number(ctx.IORes));
        core.ZelnorsTestLog(name + " CloseFile unmöglich, Err=" + QString::number(ctx.IORes));
        return;
    }
    if (!core.TestLogWanted()) return;  // the time is read for the trace alone
    ctx.FDatOk = plat::FileModTime(SigFilePath(core, ctx), ctx.DT) == 0;
    core.ZelnorsTestLog(ctx.FDatOk
                            ? name + " CloseFile erfolgt (FTime " + plat::FormatDateTime("hh:nn:ss:zzz", ctx.DT) + ")"
                            : name + " CloseFile erfolgt (FTime unbekannt)");
}

}  // namespace

void Close_SigFile(TCore& core, TJobContext& ctx)
{
    CloseSigFile(core, ctx, true);
}

void Close_SigFileForBatch(TCore& core, TJobContext& ctx)
{
    CloseSigFile(core, ctx, false);
    ctx.AnswerUnflushed = ctx.AnswerErr == 0;
}

int32_t WriteAnswerFile(const plat::FsPath& path, const std::vector<std::string>& lines)
{
    plat::File f;
    if (int err = f.Create(path)) return err;
    for (const std::string& line : lines)
        if (int err = f.WriteLine(line)) return err;
    if (int err = f.Sync()) return err;
    return f.Close();
}

int32_t SaveFile(TCore& core, const QByteArray& FNameOhneExt, const QString& Ext,
                 const std::vector<std::string>& lines, plat::TDateTime modTime)
{
    const QByteArray copyName =
        FileOf(FNameOhneExt) + plat::QToAnsi(plat::FormatDateTime("_hh-nn-ss-zzz_", modTime) + Ext + ".txt").c_str();
    plat::File out;
    if (int err = out.Create(plat::FsPath(core.DatenVerz, copyName))) return err;
    for (const std::string& line : lines)
        if (int err = out.WriteLine(line)) return err;
    return out.Close();
}
