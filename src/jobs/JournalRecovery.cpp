#include "jobs/JournalRecovery.h"

#include "jobs/Jobs.h"
#include "platform/Ansi.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tse/ProcLib.h"
#include "core/Core.h"
#include "tse/TseLib_C_Dekl.h"

#include <QStringList>

namespace {

const char* ProcessType(char cmd)
{
    return cmd == 'B' ? "Kassenbeleg-V1" : "SonstigerVorgang";
}

// The job file under its listed name, read as the job pass reads it, and
// which file that was. 0, or the error number of the open or read.
int ReadJob(const plat::FsPath& path, std::string& text, plat::FileId& id)
{
    plat::File f;
    if (int err = f.OpenRegular(path)) return err;
    plat::TDateTime modTime = 0.0;
    if (int err = f.Stat(id, modTime)) return err;
    if (int err = f.Read(text, kJobFileLimit + 1)) return err;
    return f.Close();
}

QString Code(int32_t res)
{
    return QString::fromStdString(ErgStrOf(res));
}

// One entry on its way to being settled.
class Settling {
public:
    Settling(TJournal& journal, const TJournalEntry& e, const TRecoveryEnv& env, plat::FileId* keptJob)
        : journal_(journal), e_(e), env_(env), keptJob_(keptJob),
          name_(plat::DisplayName(e.jobFile.left(e.jobFile.size() - 4))), ta_("  TA=" + QString::number(e.taNr))
    {
    }

    const QString& Name() const { return name_; }
    const QString& Ta() const { return ta_; }

    // Writes the answer, then deletes the job file, then closes the entry:
    // the answer is never written twice, and a kill between two steps
    // leaves a state the next start settles the same way.
    TSettled Answer(const TJobContext& job, const plat::FileId& jobId, const std::vector<std::string>& lines,
                    const TJournalEntry& finished)
    {
        const QByteArray jobName = e_.jobFile.left(e_.jobFile.size() - 4);
        if (int err = WriteAnswerFile(PathOf(env_.Dirs(), jobName + ".SIG"), lines)) {
            env_.log(name_ + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(err) +
                     ", die Antwort wird nachgeholt");
            return TSettled::Held;
        }
        Forget();
        if (env_.answered) env_.answered(TJournalAnswer{finished, job, lines});
        env_.log("Antwort aus dem Journal: " + name_ + ta_);
        const TJobDirs dirs = env_.Dirs();
        const int err = jobId == plat::FileId()
                            ? plat::DeleteFile(PathOf(dirs, e_.jobFile))
                            : plat::DeleteFileIfSame(DirOf(dirs, e_.jobFile), FileOf(e_.jobFile), jobId);
        if (err != 0 && err != ENOENT && err != plat::ErrOtherFile) {
            env_.log(name_ + ".TSE konnte nicht gelöscht werden");
            if (keptJob_) *keptJob_ = jobId;
            return TSettled::AnsweredKept;
        }
        (void)journal_.Done(e_.id);
        return TSettled::Answered;
    }

    // The entry cannot be settled now. Its job waits, at most kHoldLimit
    // (not at all when it can never be settled); then its client is told
    // that it failed, with a code that says why.
    TSettled Hold(const QString& why, int32_t code, bool never, const TJobContext* job, const plat::FileId& jobId)
    {
        env_.log(why);
        if (!never) {
            if (!env_.heldSince) return TSettled::Held;
            const plat::TDateTime now = env_.now();
            const auto [it, fresh] = env_.heldSince->try_emplace(e_.id, now);
            if (fresh || now - it->second < kHoldLimit) return TSettled::Held;
        }
        TJobContext values;
        values.KasID = job ? job->KasID : e_.kasId;
        if (job) {
            values.KasBonNr = job->KasBonNr;
            values.KasData = job->KasData;
        }
        env_.log("Journal: " + name_ + ta_ + " wird mit ERR " + Code(code) + " beantwortet");
        TJournalEntry failed = e_;
        failed.finishRes = code;
        return Answer(values, jobId, SignAnswerLines(e_.cmd, code, values, e_.startTime, {}, e_.taNr, 0, {}),
                      failed);
    }

    void Close(const QString& why)
    {
        Forget();
        (void)journal_.Done(e_.id);
        env_.log(why);
    }

private:
    void Forget()
    {
        if (env_.heldSince) env_.heldSince->erase(e_.id);
    }

    TJournal& journal_;
    const TJournalEntry& e_;
    const TRecoveryEnv& env_;
    plat::FileId* keptJob_;
    QString name_;
    QString ta_;
};

}  // namespace

bool FinishIsTheJobs(const TTransactionLogs& logs, const TJournalEntry& e, const TJobContext& job)
{
    return logs.haveFinish && logs.finishProcessType == ProcessType(e.cmd) &&
           logs.finishProcessData == job.KasData && logs.finishClient == e.kasId;
}

TSettled SettleJournalEntry(TJournal& journal, const TJournalEntry& entry, TRecoveryTse& tse,
                            const TRecoveryEnv& env, plat::FileId* keptJob)
{
    const TJournalEntry e = entry;  // the journal's own copy goes with Done
    Settling s(journal, e, env, keptJob);
    const QString& name = s.Name();
    const QString& ta = s.Ta();

    std::string text;
    plat::FileId jobId;
    const int readErr = ReadJob(PathOf(env.Dirs(), e.jobFile), text, jobId);
    if (readErr != 0 && readErr != ENOENT)
        return s.Hold("Journal: " + name + ".TSE nicht lesbar, Err=" + QString::number(readErr) + ta,
                      kHeldUnreadableJob, false, nullptr, e.jobId);
    if (readErr == ENOENT || text.size() > kJobFileLimit || Sha256Hex(text) != e.sha256 || !SameJobFile(e, jobId)) {
        // The client has taken its job back, or a new job stands under the
        // name (even with the same bytes): there is nobody to answer. A
        // transaction still open is finished like any other a crash left.
        s.Close("Journal: " + name + ".TSE nicht mehr vorhanden oder geändert" + ta);
        return TSettled::Abandoned;
    }
    TJobContext job;
    ApplyJobText(job, text, false);

    if (!e.finished) {
        if (!e.serial.empty() && e.serial != tse.Serial())
            return s.Hold("Journal: " + name + ta + " wurde an einer anderen TSE begonnen", kHeldOtherTse, true,
                          &job, jobId);
        std::set<uint32_t> open;
        if (!tse.OpenTransactions(open))
            return s.Hold("Journal: offene Transaktionen nicht lesbar, " + name + " wartet" + ta, kHeldNoOpenList,
                          false, &job, jobId);
        if (open.count(e.taNr)) {
            // The same receipt: its transaction is finished with its data.
            TTransResult r;
            const int32_t res = tse.Finish(e, job.KasData, ProcessType(e.cmd), r);
            (void)journal.Finished(e.id, res, r.logTime, r.signatureCounter, r.signatureValue);
        } else {
            // Finished before the service could note it: the TSE's own log
            // messages tell what the answer would have said, if that
            // finish signed this job and not something else (an operator's
            // "TA freigeben").
            TTransactionLogs logs;
            const int32_t res = tse.ReadBack(e.taNr, logs);
            if (res != 0 || !logs.haveFinish)
                return s.Hold("Journal: Abschluss von " + name + ta + " nicht lesbar, Err=" +
                                  Code(res != 0 ? res : ErrorTransactionNumberNotFound),
                              kHeldUnknownFinish, false, &job, jobId);
            if (!FinishIsTheJobs(logs, e, job)) {
                s.Close("Journal: Abschluss von " + name + ta + " gehört nicht zu diesem Job, er wird neu signiert");
                return TSettled::SignAnew;
            }
            (void)journal.Finished(e.id, 0, logs.endTime, logs.sigCounter, logs.signature);
        }
    }
    const auto it = journal.OpenEntries().find(e.id);
    if (it == journal.OpenEntries().end()) return TSettled::Held;
    const TJournalEntry f = it->second;
    return s.Answer(job, jobId,
                    SignAnswerLines(e.cmd, f.finishRes, job, f.startTime, f.endTime, f.taNr, f.sigCounter,
                                    f.signature),
                    f);
}

bool TServiceRecoveryTse::OpenTransactions(std::set<uint32_t>& numbers)
{
    std::string list = tse_getOpenTransactions();
    if (TseRes != 0) return false;
    while (!list.empty()) {
        bool ok = false;
        const uint32_t n = GetTerm(list, QLatin1Char(' ')).toUInt(&ok, 10);
        if (ok) numbers.insert(n);
    }
    return true;
}

int32_t TServiceRecoveryTse::Finish(const TJournalEntry& e, const std::string& processData,
                                    const std::string& processType, TTransResult& r)
{
    tse_finishTransaction(e.kasId, e.taNr, processData, processType, {}, r);
    return TseRes;
}

int32_t TServiceRecoveryTse::ReadBack(uint32_t taNr, TTransactionLogs& logs)
{
    const QString path = plat::NativePath(workDir_ + "/Vok_TSE.journal.tar");
    tse_exportDataToFile({}, taNr, taNr, 0, 0, plat::QToAnsi(path));
    const int32_t res = TseRes;
    // An archive that cannot be read leaves the finish unknown.
    if (res == 0 && ReadTransactionLogs(path, taNr, logs) != 0) logs = {};
    (void)plat::DeleteFile(path);
    return res;
}

std::string TServiceRecoveryTse::Serial()
{
    return TseSN;
}

// A deletion that the end of the process interrupted may have left a file
// set aside. A job file the journal knows was answered before it was set
// aside, so it goes; anything else is put back under its name and taken
// by the next pass.
void PutBackSetAside(TCore& core, const TJournal& journal)
{
    QList<QByteArray> names;
    (void)plat::FindEntries(core.DatenVerz, QStringLiteral(".vok-del.*"), names);
    for (const QByteArray& aside : names) {
        if (!plat::IsSetAsideName(aside)) continue;
        const plat::FsPath from(core.DatenVerz, aside);
        const QByteArray name = plat::NameOfSetAside(aside);
        plat::FileId id;
        if (plat::FileIdentity(from, id) != 0) continue;
        if (journal.FindFile(id)) {
            (void)plat::DeleteFile(from);
            continue;
        }
        if (int err = plat::RenameFile(from, plat::FsPath(core.DatenVerz, name)))
            core.Log(plat::DisplayName(aside) + " konnte nicht zurückbenannt werden, Err=" + QString::number(err));
    }
}

TRecoveryEnv ServiceRecoveryEnv(TCore& core, TJobPassState& st, std::function<void(const QString&)> log)
{
    TRecoveryEnv env;
    env.jobDir = core.DatenVerz;
    env.spoolDir = core.SpoolVerz;
    env.log = std::move(log);
    env.answered = [&core, &st](const TJournalAnswer& a) { NoteJournalAnswer(core, st, a); };
    env.heldSince = &st.HeldSince;
    return env;
}

void RecoverFromJournal(TCore& core)
{
    if (!core.JobState) core.JobState = std::make_shared<TJobPassState>();
    TJobPassState& st = *core.JobState;
    TJournal& journal = st.Journal;
    const QString path = plat::NativePath(core.AktVerz + "/" + JournalFileName);
    if (int err = journal.Open(path))
        core.Log(QString(JournalFileName) + " nicht verwendbar, Err=" + QString::number(err));
    if (journal.SkippedRecords() > 0)
        core.Log(QString(JournalFileName) + ": " + QString::number(journal.SkippedRecords()) +
                 " unvollständige Einträge übergangen");
    PutBackSetAside(core, journal);

    TServiceRecoveryTse tse(core.AktVerz);
    const TRecoveryEnv env = ServiceRecoveryEnv(core, st, [&core](const QString& line) { core.Log(line); });
    std::vector<TJournalEntry> open;
    for (const auto& [id, e] : journal.OpenEntries()) open.push_back(e);
    for (const TJournalEntry& e : open) {
        plat::FileId kept;
        if (SettleJournalEntry(journal, e, tse, env, &kept) == TSettled::AnsweredKept)
            KeepForDeletion(st, e, kept);
    }
}
