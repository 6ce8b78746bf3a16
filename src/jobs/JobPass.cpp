// The job pass: every tick of the poll timer scans the job directory and
// carries out the jobs of that scan, one after the other.
#include "jobs/Jobs.h"
#include "jobs/JournalRecovery.h"
#include "jobs/TseWatch.h"

#include "platform/CrashPoint.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Monotonic.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QLabel>
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
void LogJobError(TMainForm& form, TJobPassState& st, const TJobContext& ctx, const QString& what)
{
    LogRepeated(form, st, ctx.JobDatei, "Fehler bei Job " + ctx.AktKas + ": " + what + ", der Job bleibt stehen");
}

void ScanForTA(TMainForm& form, TJobContext& ctx, TJobPassState& st)
{
    form.JobListe.clear();
    ctx.JobDateien.clear();
    form.ScanAnz += 1;

    // The scan's error is reported when it appears, not on every tick, so an
    // idle service with a broken job directory does not fill the log.
    QList<QByteArray> names;
    const int err = plat::FindEntries(form.DatenVerz, QStringLiteral("*.TSE"), names);
    if (err != 0 && err != st.LastScanError) form.Log("Fehler beim Scannen: " + plat::ErrorText(err));
    st.LastScanError = err;
    st.Errors.KeepOnly(names);

    QStringList jobNames;
    for (const QByteArray& name : names) {
        // A job file a deletion holds aside for an instant is no job of its own.
        if (plat::IsSetAsideName(name)) continue;
        ctx.JobDateien << name;
        jobNames << plat::DisplayName(name.left(name.size() - 4));
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
    ctx.AktKasRaw = ctx.JobDatei.left(ctx.JobDatei.size() - 4);
    ctx.AktKas = plat::DisplayName(ctx.AktKasRaw);
    QStringList rest;
    for (const QByteArray& name : ctx.JobDateien) rest << plat::DisplayName(name.left(name.size() - 4));
    form.JobListe = rest.join('|');
}

}  // namespace

void Zeit_setzen(TMainForm& form, TJobContext& ctx)
{
    tse_authenticateUser(TseAdminUser, TseAdminPin, ctx.LoginRes, ctx.MaxLogins);
    if (TseRes != 0 || ctx.LoginRes != 0)
        form.Log("Admin-Login nicht möglich, E=" + Erg() + " L=" + Hex4(uint16_t(ctx.LoginRes & 0xFFFF)) + "h R=" +
                 Hex4(uint16_t(ctx.MaxLogins)) + "h");
    tse_updateTime();
    if (TseDebug) form.Log("°Zeit der TSE gesetzt, E=" + Erg());
    // One second early, so the TSE never finds its clock overdue.
    form.NextTimeSet = plat::MonotonicMs() + (static_cast<int64_t>(form.TimeSyncInterval) - 1) * 1000;
    tse_logOut(TseAdminUser);
}

namespace {

// The protocol cuts values to its lengths; a register that sends more
// learns of it from the log, once for each job that is carried out.
void LogCuts(TMainForm& form, const TJobContext& ctx)
{
    for (const TJobContext::Cut& c : ctx.Cuts)
        form.Log(Txt(ctx.KasID) + "  " + QString::fromStdString(c.key) + " von " + QString::number(c.given) +
                 " auf " + QString::number(c.kept) + " Bytes gekürzt (" + ctx.AktKas + ")");
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

// Deletes the job file that was read, never a file that the client has
// written under its name since (a client may write its next job the moment
// it has read the answer). True when the job file is gone.
bool DeleteJobFile(TMainForm& form, TJobContext& ctx)
{
    const QString name = ctx.AktKas + ".TSE";
    for (ctx.Versuch = 1; ctx.Versuch <= kDeleteAttempts; ++ctx.Versuch) {
        const int err = plat::DeleteFileIfSame(form.DatenVerz, ctx.JobDatei, ctx.JobId);
        if (err == 0 || err == ENOENT || err == plat::ErrOtherFile) {
            form.ZelnorsTestLog(err == 0 ? name + " gelöscht" : name + " ist schon ersetzt");
            if (ctx.JournalId != 0) plat::CrashPoint("job-delete");
            return true;
        }
        const QString msg = name + " konnte vorerst nicht gelöscht werden, Err=" + QString::number(err);
        form.ZelnorsTestLog(msg);
        if (TseDebug) form.Log(msg);
        form.Delay(500);
    }
    form.Log(name + " konnte nicht gelöscht werden");
    form.ZelnorsTestLog(name + " löschen endgültig gescheitert");
    return false;
}

// A job file far beyond any real job is not read whole and never reaches the
// TSE: a signing or export job is answered as refused, with its own lines.
void RefuseTooLarge(TMainForm& form, TJobContext& ctx)
{
    form.Log(ctx.AktKas + ".TSE ist zu groß (" + QString::number(ctx.JobId.size) +
             " Bytes) und wird nicht ausgeführt");
    if (ctx.KasCmd.empty()) return;
    const char cmd = ctx.KasCmd[0];
    if (cmd == 'S') {
        Cmd_Status_der_TSE(form, ctx);  // asks the TSE nothing the job could change
        return;
    }
    if (cmd != 'B' && cmd != 'T' && cmd != 'E') return;
    const std::string refused = " ERR " + ErgStrOf(ErrorParameterMismatch);
    Rewrite_SigFile(form, ctx);
    if (cmd == 'E') {
        WriteSigLine(ctx, "CMD=EXPORT" + refused);
        WriteSigLine(ctx, "KASID=" + ctx.KasID);
        WriteSigLine(ctx, "VONTA=0");
        WriteSigLine(ctx, "BISTA=0");
        WriteSigLine(ctx, "DATEI=");
    } else {
        WriteSigLine(ctx, (cmd == 'B' ? "CMD=BON" : "CMD=TEXT") + refused);
        WriteSigLine(ctx, "KASID=" + ctx.KasID);
        if (cmd == 'B') WriteSigLine(ctx, "BONID=" + ctx.KasBonNr);
        WriteSigLine(ctx, "SIGTEXT=");
        WriteSigLine(ctx, "START=");
        WriteSigLine(ctx, "ENDE=");
        WriteSigLine(ctx, "TRANR=0");
        WriteSigLine(ctx, "SIGNR=0");
        WriteSigLine(ctx, "SIG=");
    }
    WriteSigLine(ctx, "*EOF*");
    Close_SigFile(form, ctx);
}

void KeepPending(TMainForm& form, TJobPassState& st, const TJobContext& ctx, bool answerWritten)
{
    TPendingAnswer p;
    p.jobFile = ctx.JobDatei;
    p.jobName = ctx.AktKasRaw;
    p.name = ctx.AktKas;
    p.jobId = ctx.JobId;
    p.lines = ctx.Answer;
    p.answerWritten = answerWritten;
    p.journalId = ctx.JournalId;
    st.Pending[ctx.JobDatei] = std::move(p);
    if (!answerWritten)
        LogRepeated(form, st, ctx.JobDatei,
                    ctx.AktKas + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(ctx.AnswerErr) +
                        ", die Antwort wird nachgeholt");
}

void SaveAnswerCopy(TMainForm& form, const QByteArray& jobName, const QString& name,
                    const std::vector<std::string>& lines)
{
    plat::TDateTime modTime = 0.0;
    int err = plat::FileModTime(SigFilePath(form, jobName), modTime);
    if (err == 0) err = SaveFile(form, jobName, QStringLiteral("SIG"), lines, modTime);
    // The job has been carried out: a missing copy must not make it run a
    // second time.
    if (err != 0) form.Log(name + ".SIG Kopie nicht möglich, Err=" + QString::number(err));
}

// A journal that cannot be written is reported when that begins and when
// it ends, not for every job.
void NoteJournalResult(TMainForm& form, TJobPassState& st, int err)
{
    if (err == st.JournalWriteError) return;
    if (err != 0)
        form.Log(QString(JournalFileName) + " kann nicht geschrieben werden, Err=" + QString::number(err));
    else
        form.Log(QString(JournalFileName) + " wird wieder geschrieben");
    st.JournalWriteError = err;
}

void JournalDone(TMainForm& form, TJobPassState& st, uint64_t id)
{
    if (id == 0) return;
    NoteJournalResult(form, st, st.Journal.Done(id));
    plat::CrashPoint("journal-done");
}

// A job the TSE has begun before (the pass that took it ended early, or the
// answer is still to be written) is settled from the journal, never signed
// again.
bool SettleFromJournal(TMainForm& form, TJobContext& ctx, TJobPassState& st)
{
    if (ctx.KasCmd.empty() || (ctx.KasCmd[0] != 'B' && ctx.KasCmd[0] != 'T')) return false;
    const TJournalEntry* found = st.Journal.Find(ctx.JobDatei, ctx.JobSha256, ctx.JobId);
    if (!found) return false;
    const TJournalEntry entry = *found;
    TServiceRecoveryTse tse(form.AktVerz);
    const QByteArray jobFile = ctx.JobDatei;
    const TRecoveryEnv env =
        ServiceRecoveryEnv(form, st, [&](const QString& line) { LogRepeated(form, st, jobFile, line); });
    plat::FileId kept;
    const TSettled settled = SettleJournalEntry(st.Journal, entry, tse, env, &kept);
    if (settled != TSettled::Held) st.Errors.Clear(jobFile);
    if (settled == TSettled::AnsweredKept) KeepForDeletion(st, entry, kept);
    // A finish that signed something else leaves the job to be signed as new.
    return settled != TSettled::SignAnew;
}

void Bearbeite_Job(TMainForm& form, TJobContext& ctx, TJobPassState& st)
{
    if (TseDebug) form.Log("|Bearbeite Job für " + ctx.AktKas);
    ctx.ResetJobValues();

    std::string text;
    if (!ReadJobFile(form, ctx, st, text)) return;
    if (TseLogFiles) {
        // Copied from the bytes read through the checked descriptor, never
        // by opening the name again.
        if (int err = SaveFile(form, ctx.AktKasRaw, QStringLiteral("TSE"), SplitLines(text), ctx.DT)) {
            LogJobError(form, st, ctx, "Kopie nicht möglich, Err=" + QString::number(err));
            return;
        }
    }
    if (!ctx.KasEOF && !ctx.TooLarge) return;
    LogCuts(form, ctx);

    if (ctx.TooLarge) {
        RefuseTooLarge(form, ctx);
    } else {
        ctx.JobSha256 = Sha256Hex(text);
        if (plat::MonotonicMs() > form.NextTimeSet) Zeit_setzen(form, ctx);
        if (SettleFromJournal(form, ctx, st)) return;
        ctx.Journal = &st.Journal;
        Dispatch(form, ctx);
        if (ctx.JournalBlocked) {
            NoteJournalResult(form, st, ctx.JournalErr);
            LogJobError(form, st, ctx, "Journal nicht beschreibbar, Err=" + QString::number(ctx.JournalErr));
            return;
        }
        if (ctx.JournalId != 0) NoteJournalResult(form, st, ctx.JournalErr);
    }

    // An answer that is not whole on the disk is kept: the job stays, and
    // later passes only write the answer again, never send the job anew.
    if (ctx.AnswerStarted && ctx.AnswerErr != 0) {
        KeepPending(form, st, ctx, false);
        return;
    }
    if (TseLogFiles && ctx.AnswerStarted) SaveAnswerCopy(form, ctx.AktKasRaw, ctx.AktKas, ctx.Answer);
    if (DeleteJobFile(form, ctx)) {
        st.Errors.Clear(ctx.JobDatei);
        JournalDone(form, st, ctx.JournalId);
    } else
        KeepPending(form, st, ctx, true);  // answered: only the deletion is left
}

// Answers the TSE has given that are not yet whole on the disk, and answered
// jobs whose file would not go: only the file work is done again, one
// attempt each pass.
void RetryPending(TMainForm& form, TJobPassState& st)
{
    for (auto it = st.Pending.begin(); it != st.Pending.end() && !form.ProgEnde && !SessionEndPending;) {
        TPendingAnswer& p = it->second;
        const plat::FsPath jobPath(form.DatenVerz, p.jobFile);
        plat::FileId now;
        const bool jobThere = plat::FileIdentity(jobPath, now) == 0;
        if (jobThere && !(now == p.jobId)) {
            // The client replaced the job under the same name: it is a new job.
            if (!p.answerWritten) LogLostAnswer(form, p);
            JournalDone(form, st, p.journalId);
            it = st.Pending.erase(it);
            continue;
        }
        if (!p.answerWritten) {
            if (int err = WriteAnswerFile(SigFilePath(form, p.jobName), p.lines)) {
                LogRepeated(form, st, p.jobFile,
                            p.name + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(err) +
                                ", die Antwort wird nachgeholt");
                ++it;
                continue;
            }
            p.answerWritten = true;
            form.Log(p.name + ".SIG nachträglich geschrieben");
            if (TseLogFiles) SaveAnswerCopy(form, p.jobName, p.name, p.lines);
        }
        if (jobThere) {
            const int err = plat::DeleteFileIfSame(form.DatenVerz, p.jobFile, p.jobId);
            if (err != 0 && err != ENOENT && err != plat::ErrOtherFile) {
                LogRepeated(form, st, p.jobFile, p.name + ".TSE konnte nicht gelöscht werden");
                ++it;
                continue;
            }
            form.ZelnorsTestLog(p.name + ".TSE gelöscht");
            if (p.journalId != 0) plat::CrashPoint("job-delete");
        }
        st.Errors.Clear(p.jobFile);
        JournalDone(form, st, p.journalId);
        it = st.Pending.erase(it);
    }
}

TJobPassState& PassState(TMainForm& form)
{
    if (!form.JobState) form.JobState = std::make_shared<TJobPassState>();
    return *form.JobState;
}

}  // namespace

// The lines of an answer that never reached the disk go to the log, so
// nothing the TSE signed is lost.
void LogLostAnswer(TMainForm& form, const TPendingAnswer& p)
{
    form.Log("Antwort für " + p.name + " nicht geschrieben:");
    for (const std::string& line : p.lines) form.Log("°  " + Txt(line));
}

void NoteJournalAnswer(TMainForm& form, TJobPassState& st, const TJournalAnswer& a)
{
    LogOperation(form, a.job, a.entry.cmd, a.entry.taNr);
    form.lbTANr->setText(QString::number(a.entry.taNr));
    if (a.entry.finishRes == 0) form.lbSigNr->setText(QString::number(a.entry.sigCounter));
    if (TseLogFiles) {
        const QByteArray jobName = a.entry.jobFile.left(a.entry.jobFile.size() - 4);
        SaveAnswerCopy(form, jobName, plat::DisplayName(jobName), a.lines);
    }
    st.Health.lastJob = plat::Now();
    st.HealthFactsStale = true;
}

void KeepForDeletion(TJobPassState& st, const TJournalEntry& e, const plat::FileId& jobId)
{
    TPendingAnswer p;
    p.jobFile = e.jobFile;
    p.jobName = e.jobFile.left(e.jobFile.size() - 4);
    p.name = plat::DisplayName(p.jobName);
    p.jobId = jobId;
    p.answerWritten = true;
    p.journalId = e.id;
    st.Pending[e.jobFile] = std::move(p);
}

void LogPendingAnswers(TMainForm& form)
{
    if (!form.JobState) return;
    for (const auto& [file, p] : form.JobState->Pending)
        if (!p.answerWritten) LogLostAnswer(form, p);
    form.JobState->Pending.clear();
}

void TMainForm::Abarbeiten_TseJobs()
{
    PassScope pass(*this);
    SetTseRunning(false);

    TJobPassState& st = PassState(*this);
    TJobContext ctx;
    ScanForTA(*this, ctx, st);
    const int jobsFound = static_cast<int>(ctx.JobDateien.size());
    RetryPending(*this, st);
    while (!ctx.JobDateien.isEmpty() && !ProgEnde && !SessionEndPending) {
        TakeNextJob(*this, ctx);
        if (st.Pending.count(ctx.JobDatei)) continue;  // answered already; only its file work is left
        JobScope job(*this);
        try {
            TseBeforeJob(*this, st);
            Bearbeite_Job(*this, ctx, st);
            TseAfterJob(*this, st, ctx);
        } catch (const std::exception& e) {
            LogJobError(*this, st, ctx, QString::fromLocal8Bit(e.what()));
        } catch (...) {
            LogJobError(*this, st, ctx, QStringLiteral("unbekannter Fehler"));
        }
        // Only after an error already logged can a file still be open here;
        // the job stays, so the handle is merely given back.
        if (ctx.F.IsOpen()) (void)ctx.F.Close();
    }
    TseAfterPass(*this, st, jobsFound);
}
