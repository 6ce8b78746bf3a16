// The job pass: every tick of the poll timer scans the job directory and
// carries out the jobs of that scan, one after the other, one job of each
// register in turn. The answers of signed jobs are made durable in batches:
// each job is signed and its answer written, then one flush for the batch,
// then the batch's job files are deleted and their journal entries closed.
// Between batches the pass handles the core's events (pings, an end request,
// the HTTP door) and reads the directory again only when a job has arrived.
#include "jobs/AnswerBatch.h"
#include "jobs/JobOrder.h"
#include "jobs/Jobs.h"
#include "jobs/JournalRecovery.h"
#include "jobs/TseWatch.h"

#include "platform/CrashPoint.h"
#include "platform/DateTime.h"
#include "platform/FileSystemSync.h"
#include "platform/Files.h"
#include "platform/Monotonic.h"
#include "core/Core.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QCoreApplication>

#include <exception>
#include <set>

namespace {

constexpr int kDeleteAttempts = 4;

// No second pass starts from within this one's waits, however it is left.
class PassScope {
public:
    explicit PassScope(TCore& core) : core_(core) { core_.SetPassRunning(true); }
    ~PassScope() { core_.SetPassRunning(false); }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

private:
    TCore& core_;
};

// TSE_running is held for exactly one job, however the job is left;
// clearing it lets requests that arrived meanwhile run.
class JobScope {
public:
    explicit JobScope(TCore& core) : core_(core) { core_.SetTseRunning(true); }
    ~JobScope() { core_.SetTseRunning(false); }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

private:
    TCore& core_;
};

QString Hex4(uint16_t v)
{
    return ByteToHex(uint8_t(v >> 8)) + ByteToHex(uint8_t(v & 0xFF));
}

// The flush of a batch covers the job directory's file system and, once a
// job the HTTP door spooled is in the batch, the spool's, which may be
// another. A file system that could not be opened fails the flush (EBADF),
// and the batch's answers are written again, each with its own flush.
class TPassSync {
public:
    void OpenFor(const TCore& core, const QByteArray& jobDatei)
    {
        const bool spooled = IsSpooled(jobDatei);
        Dir& d = spooled ? spool_ : job_;
        if (d.wanted) return;
        d.wanted = true;
        (void)d.fs.Open(spooled ? core.SpoolVerz : core.DatenVerz);
    }
    int Sync()
    {
        int err = 0;
        for (Dir* d : {&job_, &spool_}) {
            if (!d->wanted) continue;
            const int e = d->fs.IsOpen() ? d->fs.Sync() : EBADF;
            if (err == 0) err = e;
        }
        return err;
    }

private:
    struct Dir {
        plat::FileSystemSync fs;
        bool wanted = false;
    };
    Dir job_, spool_;
};

// A job that cannot be carried out safely now stays where it is; the next
// pass takes it again.
void LogJobError(TCore& core, TJobPassState& st, const TJobContext& ctx, const QString& what)
{
    LogRepeated(core, st, ctx.JobDatei, "Fehler bei Job " + ctx.AktKas + ": " + what + ", der Job bleibt stehen");
}

// Lists the jobs waiting in the job directory, less those this pass has
// taken already, in the order to take them (one of each register in turn).
void ScanForTA(TCore& core, TJobContext& ctx, TJobPassState& st, const std::set<QByteArray>& taken)
{
    core.JobListe.clear();
    ctx.JobDateien.clear();
    core.ScanAnz += 1;

    // The scan's error is reported when it appears, not on every tick, so an
    // idle service with a broken job directory does not fill the log.
    QList<QByteArray> names;
    if (!st.JobDirGate) st.JobDirGate = std::make_unique<plat::ScanGate>(core.DatenVerz);
    if (st.JobDirGate->ScanNeeded()) {
        const int err = plat::FindEntries(core.DatenVerz, QStringLiteral("*.TSE"), names);
        if (err != 0 && err != st.LastScanError) core.Log("Fehler beim Scannen: " + plat::ErrorText(err));
        st.LastScanError = err;
        // Only a read that found no job file at all (and could read) lets
        // the next one be spared.
        st.JobDirGate->ScanDone(err == 0 && names.isEmpty());
    }

    // The HTTP door's jobs after those of the job directory; the door's
    // directory is the service's own, so its scan errors are not repeated.
    if (!core.SpoolVerz.isEmpty()) {
        core.SpoolChanged = false;
        QList<QByteArray> spooled;
        (void)plat::FindEntries(core.SpoolVerz, QStringLiteral("*.TSE"), spooled);
        for (const QByteArray& name : spooled) names << SpooledName(name);
    }
    st.Errors.KeepOnly(names);

    QList<QByteArray> waiting;
    for (const QByteArray& name : names) {
        // A job file a deletion holds aside for an instant is no job of its own.
        if (plat::IsSetAsideName(FileOf(name)) || taken.count(name)) continue;
        waiting << name;
    }
    ctx.JobDateien = FairOrder(waiting);
    if (ctx.JobDateien.isEmpty()) return;
    // The names as text only for the lines that show them: a directory of
    // thousands of jobs is scanned again during the pass.
    if (TseDebug || core.TestLogWanted()) {
        QStringList jobNames;
        for (const QByteArray& name : ctx.JobDateien) jobNames << plat::DisplayName(name.left(name.size() - 4));
        core.JobListe = jobNames.join('|');
    }
    if (TseDebug) core.Log("|Jobs gefunden für: " + core.JobListe);
    core.ZelnorsTestLog("Scan (" + QString::number(core.ScanAnz) + "): TSE-Dateien gefunden, " + core.JobListe);
    core.ScanAnz = 0;
}

void TakeNextJob(TJobContext& ctx)
{
    ctx.JobDatei = ctx.JobDateien.takeFirst();
    ctx.AktKasRaw = ctx.JobDatei.left(ctx.JobDatei.size() - 4);
    ctx.AktKas = plat::DisplayName(ctx.AktKasRaw);
}

}  // namespace

void Zeit_setzen(TCore& core, TJobContext& ctx)
{
    TAdminSession admin(core);
    ctx.LoginRes = admin.loginResult;
    ctx.MaxLogins = admin.remainingRetries;
    if (admin.loginTseRes != 0 || ctx.LoginRes != 0)
        core.Log("Admin-Login nicht möglich, E=" + QString::fromLatin1(ErgStrOf(admin.loginTseRes)) + " L=" +
                 Hex4(uint16_t(ctx.LoginRes & 0xFFFF)) + "h R=" + Hex4(uint16_t(ctx.MaxLogins)) + "h");
    if (TseDebug) core.Log("°Zeit der TSE gesetzt, E=" + QString::fromLatin1(ErgStrOf(admin.timeTseRes)));
}

namespace {

// The protocol cuts values to its lengths; a register that sends more
// learns of it from the log, once for each job that is carried out.
void LogCuts(TCore& core, const TJobContext& ctx)
{
    for (const TJobContext::Cut& c : ctx.Cuts)
        core.Log(Txt(ctx.KasID) + "  " + QString::fromStdString(c.key) + " von " + QString::number(c.given) +
                 " auf " + QString::number(c.kept) + " Bytes gekürzt (" + ctx.AktKas + ")");
}

void Dispatch(TCore& core, TJobContext& ctx)
{
    if (ctx.KasCmd.empty()) return;
    switch (ctx.KasCmd[0]) {
    case 'B': Cmd_Bon_an_TSE(core, ctx); break;
    case 'E': Cmd_Export_von_TSE(core, ctx); break;
    case 'S': Cmd_Status_der_TSE(core, ctx); break;
    case 'T': Cmd_Text_an_TSE(core, ctx); break;
    default: break;  // no command: no answer, the job goes all the same
    }
}

// Deletes the job file that was read, never a file that the client has
// written under its name since (a client may write its next job the moment
// it has read the answer). True when the job file is gone.
bool DeleteJobFile(TCore& core, const TPendingAnswer& job)
{
    const QString name = job.name + ".TSE";
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
        const int err = plat::DeleteFileIfSame(DirOf(JobDirs(core), job.jobFile), FileOf(job.jobFile), job.jobId);
        if (err == 0 || err == ENOENT || err == plat::ErrOtherFile) {
            core.ZelnorsTestLog(err == 0 ? name + " gelöscht" : name + " ist schon ersetzt");
            if (job.journalId != 0) plat::CrashPoint("job-delete");
            return true;
        }
        const QString msg = name + " konnte vorerst nicht gelöscht werden, Err=" + QString::number(err);
        core.ZelnorsTestLog(msg);
        if (TseDebug) core.Log(msg);
        core.Delay(500);
    }
    core.Log(name + " konnte nicht gelöscht werden");
    core.ZelnorsTestLog(name + " löschen endgültig gescheitert");
    return false;
}

// A job file far beyond any real job is not read whole and never reaches the
// TSE: a signing or export job is answered as refused, with its own lines.
void RefuseTooLarge(TCore& core, TJobContext& ctx)
{
    core.Log(ctx.AktKas + ".TSE ist zu groß (" + QString::number(ctx.JobId.size) +
             " Bytes) und wird nicht ausgeführt");
    if (ctx.KasCmd.empty()) return;
    const char cmd = ctx.KasCmd[0];
    if (cmd == 'S') {
        Cmd_Status_der_TSE(core, ctx);  // asks the TSE nothing the job could change
        return;
    }
    if (cmd != 'B' && cmd != 'T' && cmd != 'E') return;
    const std::string refused = " ERR " + ErgStrOf(ErrorParameterMismatch);
    Rewrite_SigFile(core, ctx);
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
    Close_SigFile(core, ctx);
}

// The job in hand with its answer, as later passes would need it.
TPendingAnswer AnsweredJob(const TJobContext& ctx)
{
    TPendingAnswer p;
    p.jobFile = ctx.JobDatei;
    p.jobName = ctx.AktKasRaw;
    p.name = ctx.AktKas;
    p.jobId = ctx.JobId;
    p.lines = ctx.Answer;
    p.journalId = ctx.JournalId;
    return p;
}

// answerErr 0: the answer is on the disk and only the job file's deletion
// is left; else the answer is written again on later passes.
void KeepPending(TCore& core, TJobPassState& st, TPendingAnswer p, int answerErr)
{
    p.answerWritten = answerErr == 0;
    const QByteArray jobFile = p.jobFile;
    const QString name = p.name;
    st.Pending[jobFile] = std::move(p);
    if (answerErr != 0)
        LogRepeated(core, st, jobFile,
                    name + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(answerErr) +
                        ", die Antwort wird nachgeholt");
}

void SaveAnswerCopy(TCore& core, const QByteArray& jobName, const QString& name,
                    const std::vector<std::string>& lines)
{
    plat::TDateTime modTime = 0.0;
    int err = plat::FileModTime(SigFilePath(core, jobName), modTime);
    if (err == 0) err = SaveFile(core, jobName, QStringLiteral("SIG"), lines, modTime);
    // The job has been carried out: a missing copy must not make it run a
    // second time.
    if (err != 0) core.Log(name + ".SIG Kopie nicht möglich, Err=" + QString::number(err));
}

// A journal that cannot be written is reported when that begins and when
// it ends, not for every job.
void NoteJournalResult(TCore& core, TJobPassState& st, int err)
{
    if (err == st.JournalWriteError) return;
    if (err != 0)
        core.Log(QString(JournalFileName) + " kann nicht geschrieben werden, Err=" + QString::number(err));
    else
        core.Log(QString(JournalFileName) + " wird wieder geschrieben");
    st.JournalWriteError = err;
}

void JournalDone(TCore& core, TJobPassState& st, uint64_t id)
{
    if (id == 0) return;
    NoteJournalResult(core, st, st.Journal.Done(id));
    plat::CrashPoint("journal-done");
}

// The end of an answered job (or of one with no command, which has no
// answer): its "/F" copy, the deletion of its job file,
// then the journal's record that it is done. A job file that would not go
// is kept for later passes, answered.
void FinishAnsweredJob(TCore& core, TJobPassState& st, TPendingAnswer job)
{
    if (TseLogFiles && !job.lines.empty()) SaveAnswerCopy(core, job.jobName, job.name, job.lines);
    if (DeleteJobFile(core, job)) {
        st.Errors.Clear(job.jobFile);
        JournalDone(core, st, job.journalId);
    } else
        KeepPending(core, st, std::move(job), 0);
}

// Brings the batch's answers onto the disk together; only then are their
// job files deleted, so a power cut never leaves a job with neither its
// file nor its answer. An answer whose flush failed is written again on
// later passes and its job stays until then.
//
// One syncfs of the job directory's file system is the batch's flush: on
// this machine it costs a batch of 64 answers what per-file flushes cost
// for 10 (bench/README.md).
void FlushBatch(TCore& core, TJobPassState& st, TAnswerBatch& batch, TPassSync& jobDir)
{
    if (batch.Empty()) return;
    std::vector<TPendingAnswer> jobs = batch.Take();
    const int err = jobDir.Sync();
    if (err != 0) core.Log("Antworten nicht auf die Platte gebracht, Err=" + QString::number(err));
    for (TPendingAnswer& job : jobs) {
        if (err != 0) {
            KeepPending(core, st, std::move(job), err);
            continue;
        }
        if (job.journalId != 0) plat::CrashPoint("answer-flush");
        FinishAnsweredJob(core, st, std::move(job));
    }
}

// A job the TSE has begun before (the pass that took it ended early, or the
// answer is still to be written) is settled from the journal, never signed
// again.
bool SettleFromJournal(TCore& core, TJobContext& ctx, TJobPassState& st)
{
    if (ctx.KasCmd.empty() || (ctx.KasCmd[0] != 'B' && ctx.KasCmd[0] != 'T')) return false;
    const TJournalEntry* found = st.Journal.Find(ctx.JobDatei, ctx.JobSha256, ctx.JobId);
    if (!found) return false;
    const TJournalEntry entry = *found;
    TServiceRecoveryTse tse(core.AktVerz);
    const QByteArray jobFile = ctx.JobDatei;
    const TRecoveryEnv env =
        ServiceRecoveryEnv(core, st, [&](const QString& line) { LogRepeated(core, st, jobFile, line); });
    plat::FileId kept;
    const TSettled settled = SettleJournalEntry(st.Journal, entry, tse, env, &kept);
    if (settled != TSettled::Held) st.Errors.Clear(jobFile);
    if (settled == TSettled::AnsweredKept) KeepForDeletion(st, entry, kept);
    // A finish that signed something else leaves the job to be signed as new.
    return settled != TSettled::SignAnew;
}

bool SignsAtTse(const TJobContext& ctx)
{
    return !ctx.TooLarge && !ctx.KasCmd.empty() && (ctx.KasCmd[0] == 'B' || ctx.KasCmd[0] == 'T');
}

void Bearbeite_Job(TCore& core, TJobContext& ctx, TJobPassState& st, TAnswerBatch& batch,
                   TPassSync& jobDir)
{
    if (TseDebug) core.Log("|Bearbeite Job für " + ctx.AktKas);
    ctx.ResetJobValues();

    std::string text;
    if (!ReadJobFile(core, ctx, st, text)) return;
    if (TseLogFiles) {
        // Copied from the bytes read through the checked descriptor, never
        // by opening the name again.
        if (int err = SaveFile(core, ctx.AktKasRaw, QStringLiteral("TSE"), SplitLines(text), ctx.DT)) {
            LogJobError(core, st, ctx, "Kopie nicht möglich, Err=" + QString::number(err));
            return;
        }
    }
    if (!ctx.KasEOF && !ctx.TooLarge) return;
    LogCuts(core, ctx);
    // Any other job (an export may hold the TSE for minutes) waits until
    // the signed answers before it are on the disk and their jobs gone.
    if (!SignsAtTse(ctx)) FlushBatch(core, st, batch, jobDir);

    if (ctx.TooLarge) {
        RefuseTooLarge(core, ctx);
    } else {
        ctx.JobSha256 = Sha256Hex(text);
        if (plat::MonotonicMs() > core.NextTimeSet) Zeit_setzen(core, ctx);
        if (SettleFromJournal(core, ctx, st)) return;
        ctx.Journal = &st.Journal;
        Dispatch(core, ctx);
        if (ctx.JournalBlocked) {
            NoteJournalResult(core, st, ctx.JournalErr);
            LogJobError(core, st, ctx, "Journal nicht beschreibbar, Err=" + QString::number(ctx.JournalErr));
            return;
        }
        if (ctx.JournalId != 0) NoteJournalResult(core, st, ctx.JournalErr);
    }

    // An answer that is not whole on the disk is kept: the job stays, and
    // later passes only write the answer again, never send the job anew.
    if (ctx.AnswerStarted && ctx.AnswerErr != 0) {
        KeepPending(core, st, AnsweredJob(ctx), ctx.AnswerErr);
        return;
    }
    // A signed job's answer, written whole, waits for the batch's flush;
    // its job file goes only after that.
    if (ctx.AnswerUnflushed) {
        batch.Add(AnsweredJob(ctx), plat::MonotonicMs());
        return;
    }
    FinishAnsweredJob(core, st, AnsweredJob(ctx));
}

// Answers the TSE has given that are not yet whole on the disk, and answered
// jobs whose file would not go: only the file work is done again, one
// attempt each pass.
void RetryPending(TCore& core, TJobPassState& st)
{
    for (auto it = st.Pending.begin(); it != st.Pending.end() && !core.ProgEnde && !SessionEndPending;) {
        TPendingAnswer& p = it->second;
        const plat::FsPath jobPath = PathOf(JobDirs(core), p.jobFile);
        plat::FileId now;
        const bool jobThere = plat::FileIdentity(jobPath, now) == 0;
        if (jobThere && !(now == p.jobId)) {
            // The client replaced the job under the same name: it is a new job.
            if (!p.answerWritten) LogLostAnswer(core, p);
            JournalDone(core, st, p.journalId);
            it = st.Pending.erase(it);
            continue;
        }
        if (!p.answerWritten) {
            if (int err = WriteAnswerFile(SigFilePath(core, p.jobName), p.lines)) {
                LogRepeated(core, st, p.jobFile,
                            p.name + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(err) +
                                ", die Antwort wird nachgeholt");
                ++it;
                continue;
            }
            p.answerWritten = true;
            core.Log(p.name + ".SIG nachträglich geschrieben");
            if (TseLogFiles) SaveAnswerCopy(core, p.jobName, p.name, p.lines);
        }
        if (jobThere) {
            const int err = plat::DeleteFileIfSame(DirOf(JobDirs(core), p.jobFile), FileOf(p.jobFile), p.jobId);
            if (err != 0 && err != ENOENT && err != plat::ErrOtherFile) {
                LogRepeated(core, st, p.jobFile, p.name + ".TSE konnte nicht gelöscht werden");
                ++it;
                continue;
            }
            core.ZelnorsTestLog(p.name + ".TSE gelöscht");
            if (p.journalId != 0) plat::CrashPoint("job-delete");
        }
        st.Errors.Clear(p.jobFile);
        JournalDone(core, st, p.journalId);
        it = st.Pending.erase(it);
    }
}

TJobPassState& PassState(TCore& core)
{
    if (!core.JobState) core.JobState = std::make_shared<TJobPassState>();
    return *core.JobState;
}

}  // namespace

// The lines of an answer that never reached the disk go to the log, so
// nothing the TSE signed is lost.
void LogLostAnswer(TCore& core, const TPendingAnswer& p)
{
    core.Log("Antwort für " + p.name + " nicht geschrieben:");
    for (const std::string& line : p.lines) core.Log("°  " + Txt(line));
}

void NoteJournalAnswer(TCore& core, TJobPassState& st, const TJournalAnswer& a)
{
    LogOperation(core, a.job, a.entry.cmd, a.entry.taNr);
    core.Shown.SetTaNr(a.entry.taNr);
    if (a.entry.finishRes == 0) core.Shown.SetSigNr(a.entry.sigCounter);
    if (TseLogFiles) {
        const QByteArray jobName = a.entry.jobFile.left(a.entry.jobFile.size() - 4);
        SaveAnswerCopy(core, jobName, plat::DisplayName(jobName), a.lines);
    }
    NoteJobForHealth(core, st, false);
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

void LogPendingAnswers(TCore& core)
{
    if (!core.JobState) return;
    for (const auto& [file, p] : core.JobState->Pending)
        if (!p.answerWritten) LogLostAnswer(core, p);
    core.JobState->Pending.clear();
}

namespace {

// Also when the passes are held or switched off, or the end is asked for,
// while the pass handled events between its batches.
bool PassEnds(const TCore& core)
{
    return core.ProgEnde || SessionEndPending || !core.MayPoll();
}

void RunJob(TCore& core, TJobContext& ctx, TJobPassState& st, TAnswerBatch& batch, TPassSync& jobDir)
{
    JobScope job(core);
    try {
        TseBeforeJob(core, st);
        Bearbeite_Job(core, ctx, st, batch, jobDir);
        TseAfterJob(core, st, ctx);
    } catch (const std::exception& e) {
        LogJobError(core, st, ctx, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        LogJobError(core, st, ctx, QStringLiteral("unbekannter Fehler"));
    }
    // Only after an error already logged can a file still be open here;
    // the job stays, so the handle is merely given back.
    if (ctx.F.IsOpen()) (void)ctx.F.Close();
}

// Between batches the core's events are handled, so that a pass over
// thousands of jobs keeps the service manager's pings going and holds up
// neither an end request nor the HTTP door's requests and answers. The pass
// holds TSE_running meanwhile: an operator's request or a close waits for the
// pass's end as it waits for a job. Input waits too, since a question to the
// operator would hold the pass for as long as nobody answers it.
void HandleEventsBetweenBatches(TCore& core)
{
    JobScope hold(core);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// The batch's flush and deletions hold the TSE_running flag as a job does:
// an operator's request waits until the batch's jobs are settled.
void CloseBatch(TCore& core, TJobPassState& st, TAnswerBatch& batch, TPassSync& jobDir)
{
    if (batch.Empty()) return;
    JobScope scope(core);
    try {
        FlushBatch(core, st, batch, jobDir);
    } catch (const std::exception& e) {
        // The jobs not yet deleted stay, their journal entries open: a later
        // pass settles them from the journal.
        core.Log("Fehler beim Abschluss der Antworten: " + QString::fromLocal8Bit(e.what()));
    }
}

}  // namespace

void Abarbeiten_TseJobs(TCore& core)
{
    PassScope pass(core);
    core.SetTseRunning(false);

    TJobPassState& st = PassState(core);
    TJobContext ctx;
    ctx.BatchAnswers = true;
    TAnswerBatch batch;
    TPassSync jobDir;  // opened before the pass writes its first answer
    std::set<QByteArray> taken;  // by this pass: a later scan of it does not take them again
    ScanForTA(core, ctx, st, taken);
    const int jobsFound = static_cast<int>(ctx.JobDateien.size());
    RetryPending(core, st);
    // Whether a job file came in since the open batch began: a client may
    // have written its next job under the name of one the batch took.
    bool arrivedInBatch = false;
    while (!ctx.JobDateien.isEmpty() && !PassEnds(core)) {
        TakeNextJob(ctx);
        taken.insert(ctx.JobDatei);
        if (st.Pending.count(ctx.JobDatei)) continue;  // answered already; only its file work is left
        // Opened before any answer is written, so the batch's flush reports
        // a write-back of any of them that failed. Not opened: the flush
        // fails and the answers are written again, each with its own flush.
        jobDir.OpenFor(core, ctx.JobDatei);
        RunJob(core, ctx, st, batch, jobDir);
        // A job file that came in since the scan joins the queue at once, in
        // its register's turn: a quiet register's job waits for one job of
        // each busy one, not for the rest of a flood or the end of a batch.
        // Where arrivals are not reported (a network share), the directory
        // is read again after each batch instead, not after every job.
        const bool watched = st.JobDirGate && st.JobDirGate->Watching();
        const bool arrived = !watched || st.JobDirGate->NameArrived(".TSE");
        arrivedInBatch = arrivedInBatch || arrived;
        if (batch.ShouldClose(plat::MonotonicMs())) {
            CloseBatch(core, st, batch, jobDir);
            HandleEventsBetweenBatches(core);
            if (core.OnBatchClosed) core.OnBatchClosed();
            if (PassEnds(core)) break;
            // The batch's job files are gone (or answered and kept): a file
            // under one of their names now is a new job. Without any arrival
            // the queue is still whole, and a drain of thousands is not read
            // again after every batch.
            taken.clear();
            if (arrivedInBatch || core.SpoolChanged) ScanForTA(core, ctx, st, taken);
            arrivedInBatch = false;
        } else if (arrived && watched) {
            ScanForTA(core, ctx, st, taken);
        }
    }
    CloseBatch(core, st, batch, jobDir);
    TseAfterPass(core, st, jobsFound);
}
