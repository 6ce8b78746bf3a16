#include "jobs/Jobs.h"

#include "platform/Files.h"
#include "shell/MainForm.h"
#include "tse/TseLib.h"

#include <vector>

namespace {

constexpr int kSigAttempts = 4;

}  // namespace

void Rewrite_SigFile(TMainForm& form, TJobContext& ctx)
{
    const QString path = SigFilePath(form, ctx);
    const QString name = ctx.AktKas + ".SIG";
    ctx.SigWriteErr = 0;
    for (int Versuch = 1; Versuch <= kSigAttempts; ++Versuch) {
        // Create replaces a symbolic link standing under the name instead of
        // writing through it.
        ctx.IORes = ctx.F.Create(path);
        if (ctx.IORes == 0) break;
        if (TseDebug)
            form.Log(name + " konnte vorerst nicht erstellt werden, Err=" + QString::number(ctx.IORes));
        form.Delay(500);
    }
    if (ctx.IORes != 0) {
        form.Log(name + " konnte nicht erstellt werden, Err=" + QString::number(ctx.IORes));
        form.ZelnorsTestLog(name + " Rewrite unmöglich, Err=" + QString::number(ctx.IORes));
    } else {
        form.ZelnorsTestLog(name + " Rewrite erfolgt");
    }
}

void WriteSigLine(TJobContext& ctx, const std::string& line)
{
    if (ctx.SigWriteErr == 0) ctx.SigWriteErr = ctx.F.WriteLine(line);
}

void Close_SigFile(TMainForm& form, TJobContext& ctx)
{
    const QString name = ctx.AktKas + ".SIG";
    // The job file is deleted right after this, so the answer must be on
    // the disk first: a power cut must not leave a job with neither its
    // file nor its answer. Only the flush can be retried; a close gives the
    // descriptor up whatever it reports.
    for (int Versuch = 1; Versuch <= kSigAttempts; ++Versuch) {
        ctx.IORes = ctx.F.Sync();
        if (ctx.IORes == 0 || ctx.IORes == EBADF) break;
        form.Delay(500);
    }
    const int32_t closeRes = ctx.F.Close();
    if (ctx.IORes == 0) ctx.IORes = closeRes;

    if (ctx.IORes != 0) {
        form.Log(name + " konnte nicht geschlossen werden, Err=" + QString::number(ctx.IORes));
        form.ZelnorsTestLog(name + " CloseFile unmöglich, Err=" + QString::number(ctx.IORes));
        return;
    }
    ctx.FDatOk = plat::FileModTime(SigFilePath(form, ctx), ctx.DT) == 0;
    form.ZelnorsTestLog(ctx.FDatOk
                            ? name + " CloseFile erfolgt (FTime " + plat::FormatDateTime("hh:nn:ss:zzz", ctx.DT) + ")"
                            : name + " CloseFile erfolgt (FTime unbekannt)");
}

int32_t SaveFile(TMainForm& form, TJobContext& ctx, const QString& FNameOhneExt, const QString& Ext,
                 const QString& SrcExt)
{
    (void)form;
    const QString source = FNameOhneExt + "." + (SrcExt.isEmpty() ? Ext : SrcExt);
    ctx.FDatOk = plat::FileModTime(source, ctx.DT) == 0;
    if (!ctx.FDatOk) return ENOENT;
    const QString copy = FNameOhneExt + plat::FormatDateTime("_hh-nn-ss-zzz_", ctx.DT) + Ext + ".txt";

    std::vector<std::string> lines;
    {
        plat::File in;
        if (int err = in.OpenRead(source)) return err;
        for (;;) {
            std::string line;
            bool atEnd = false;
            if (int err = in.ReadLine(line, atEnd)) return err;
            if (atEnd) break;
            lines.push_back(std::move(line));
        }
        if (int err = in.Close()) return err;
    }

    plat::File out;
    if (int err = out.Create(copy)) return err;
    for (const std::string& line : lines)
        if (int err = out.WriteLine(line)) return err;
    return out.Close();
}
