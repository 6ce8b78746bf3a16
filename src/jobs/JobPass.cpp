// The job pass: every tick of the poll timer scans the job directory and
// carries out the jobs of that scan, one after the other.
#include "jobs/Jobs.h"

#include "platform/DateTime.h"
#include "platform/Files.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QTimer>
#include <exception>

namespace {

constexpr int kDeleteAttempts = 4;

// The poll timer runs again however the pass is left.
class PassScope {
public:
    explicit PassScope(TMainForm& form) : form_(form) { form_.Timer1->stop(); }
    ~PassScope() { form_.Timer1->start(); }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

private:
    TMainForm& form_;
};

// TSE_running is held for exactly one job, however the job is left;
// clearing it lets requests that arrived meanwhile run.
class JobScope {
public:
    explicit JobScope(TMainForm& form) : form_(form) { form_.SetTseRunning(true); }
    ~JobScope() { form_.SetTseRunning(false); }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

private:
    TMainForm& form_;
};

QString Hex4(uint16_t v)
{
    return ByteToHex(uint8_t(v >> 8)) + ByteToHex(uint8_t(v & 0xFF));
}

QString Erg()
{
    return QString::fromLatin1(ErgStr());
}

// A job that cannot be carried out safely now stays where it is; the next
// pass takes it again.
void LogJobError(TMainForm& form, const TJobContext& ctx, const QString& what)
{
    form.Log("Fehler bei Job " + ctx.AktKas + ": " + what + ", der Job bleibt stehen");
}

// The scan's error is reported when it appears, not on every tick, so an
// idle service with a broken job directory does not fill the log.
int lastScanError = 0;

void ScanForTA(TMainForm& form, TJobContext& ctx)
{
    form.JobListe.clear();
    ctx.JobDateien.clear();
    form.ScanAnz += 1;

    QStringList names;
    const int err = plat::FindFiles(form.DatenVerz, QStringLiteral("*.TSE"), names);
    if (err != 0 && err != lastScanError) form.Log("Fehler beim Scannen: " + plat::ErrorText(err));
    lastScanError = err;

    QStringList jobNames;
    for (const QString& name : names) {
        ctx.JobDateien << name;
        jobNames << name.left(name.size() - 4);
    }
    form.JobListe = jobNames.join('|');

    if (ctx.JobDateien.isEmpty()) return;
    if (TseDebug) form.Log("|Jobs gefunden für: " + form.JobListe);
    form.ZelnorsTestLog("Scan (" + QString::number(form.ScanAnz) + "): TSE-Dateien gefunden, " + form.JobListe);
    form.ScanAnz = 0;
}

// Takes the next job of the scan; JobListe keeps the names still waiting.
void TakeNextJob(TMainForm& form, TJobContext& ctx)
{
    ctx.JobDatei = ctx.JobDateien.takeFirst();
    ctx.AktKas = ctx.JobDatei.left(ctx.JobDatei.size() - 4);
    QStringList rest;
    for (const QString& name : ctx.JobDateien) rest << name.left(name.size() - 4);
    form.JobListe = rest.join('|');
}

void Zeit_setzen(TMainForm& form, TJobContext& ctx)
{
    tse_authenticateUser(TseAdminUser, TseAdminPin, ctx.LoginRes, ctx.MaxLogins);
    if (TseRes != 0 || ctx.LoginRes != 0)
        form.Log("Admin-Login nicht möglich, E=" + Erg() + " L=" + Hex4(uint16_t(ctx.LoginRes & 0xFFFF)) + "h R=" +
                 Hex4(uint16_t(ctx.MaxLogins)) + "h");
    tse_updateTime();
    if (TseDebug) form.Log("°Zeit der TSE gesetzt, E=" + Erg());
    // One second early, so the TSE never finds its clock overdue.
    form.NextTimeSet = plat::Now() + (form.TimeSyncInterval - 1) / 86400.0;
    tse_logOut(TseAdminUser);
}

void Dispatch(TMainForm& form, TJobContext& ctx)
{
    if (ctx.KasCmd.empty()) return;
    switch (ctx.KasCmd[0]) {
    case 'B': Cmd_Bon_an_TSE(form, ctx); break;
    case 'E': Cmd_Export_von_TSE(form, ctx); break;
    case 'S': Cmd_Status_der_TSE(form, ctx); break;
    case 'T': Cmd_Text_an_TSE(form, ctx); break;
    default: break;  // no command: no answer, the job goes all the same
    }
}

void DeleteJobFile(TMainForm& form, TJobContext& ctx)
{
    const QString path = JobFilePath(form, ctx);
    const QString name = ctx.AktKas + ".TSE";
    for (ctx.Versuch = 1; ctx.Versuch <= kDeleteAttempts; ++ctx.Versuch) {
        const int err = plat::DeleteFile(path);
        if (err == 0) {
            form.ZelnorsTestLog(name + " gelöscht");
            return;
        }
        const QString msg = name + " konnte vorerst nicht gelöscht werden, Err=" + QString::number(err);
        form.ZelnorsTestLog(msg);
        if (TseDebug) form.Log(msg);
        form.Delay(500);
    }
    form.Log(name + " konnte nicht gelöscht werden");
    form.ZelnorsTestLog(name + " löschen endgültig gescheitert");
}

void Bearbeite_Job(TMainForm& form, TJobContext& ctx)
{
    if (TseDebug) form.Log("|Bearbeite Job für " + ctx.AktKas);
    ctx.ResetJobValues();

    const QString base = form.DatenVerz + "\\" + ctx.AktKas;
    if (TseLogFiles) {
        if (int err = SaveFile(form, ctx, base, QStringLiteral("TSE"), ctx.JobDatei.right(3))) {
            LogJobError(form, ctx, "Kopie nicht möglich, Err=" + QString::number(err));
            return;
        }
    }

    ctx.FDatOk = plat::FileModTime(JobFilePath(form, ctx), ctx.DT) == 0;
    ctx.DatStr = plat::FormatDateTime(QStringLiteral("hh:nn:ss:zzz"), ctx.DT);
    if (int readErr = ReadJobFile(form, ctx)) {
        LogJobError(form, ctx, "Lesefehler, Err=" + QString::number(readErr));
        return;
    }
    if (ctx.IORes != 0 || !ctx.KasEOF) return;

    if (plat::Now() > form.NextTimeSet) Zeit_setzen(form, ctx);
    Dispatch(form, ctx);

    // An answer cut short must not stand as the job's answer: the job runs
    // again and writes a whole one.
    if (ctx.SigWriteErr != 0) {
        LogJobError(form, ctx, ctx.AktKas + ".SIG Schreibfehler, Err=" + QString::number(ctx.SigWriteErr));
        return;
    }
    if (TseLogFiles) {
        // The job has been carried out: a missing copy must not make it run a
        // second time.
        if (int err = SaveFile(form, ctx, base, QStringLiteral("SIG")))
            form.Log(ctx.AktKas + ".SIG Kopie nicht möglich, Err=" + QString::number(err));
    }
    DeleteJobFile(form, ctx);
}

}  // namespace

void TMainForm::Abarbeiten_TseJobs()
{
    PassScope pass(*this);
    SetTseRunning(false);

    TJobContext ctx;
    ScanForTA(*this, ctx);
    while (!ctx.JobDateien.isEmpty() && !ProgEnde && !SessionEndPending) {
        TakeNextJob(*this, ctx);
        JobScope job(*this);
        try {
            Bearbeite_Job(*this, ctx);
        } catch (const std::exception& e) {
            LogJobError(*this, ctx, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            LogJobError(*this, ctx, QStringLiteral("unbekannter Fehler"));
        }
        // Only after an error already logged can a file still be open here;
        // the job stays, so the handle is merely given back.
        if (ctx.F.IsOpen()) (void)ctx.F.Close();
    }
}
