#include "jobs/JournalRecovery.h"

#include "jobs/Jobs.h"
#include "platform/Ansi.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tse/ProcLib.h"
#include "shell/MainForm.h"
#include "tse/TseLib_C_Dekl.h"

#include <QStringList>

namespace {

const char* ProcessType(char cmd)
{
    return cmd == 'B' ? "Kassenbeleg-V1" : "SonstigerVorgang";
}

// The job file under its listed name, read as the job pass reads it. 0, or
// the error number of the open or read.
int ReadJob(const plat::FsPath& path, std::string& text)
{
    plat::File f;
    if (int err = f.OpenRegular(path)) return err;
    if (int err = f.Read(text, kJobFileLimit + 1)) return err;
    return f.Close();
}

}  // namespace

TSettled SettleJournalEntry(TJournal& journal, const TJournalEntry& entry, TRecoveryTse& tse,
                            const TRecoveryEnv& env)
{
    const TJournalEntry e = entry;  // the journal's own copy goes with Done
    const QByteArray jobName = e.jobFile.left(e.jobFile.size() - 4);
    const QString name = plat::DisplayName(jobName);
    const QString ta = "  TA=" + QString::number(e.taNr);

    std::string text;
    const int readErr = ReadJob(plat::FsPath(env.jobDir, e.jobFile), text);
    if (readErr != 0 && readErr != ENOENT) {
        env.log("Journal: " + name + ".TSE nicht lesbar, Err=" + QString::number(readErr) + ta);
        return TSettled::Held;
    }
    if (readErr == ENOENT || text.size() > kJobFileLimit || Sha256Hex(text) != e.sha256) {
        // The client has taken its job back or written a new one: there is
        // nobody to answer. A transaction still open is finished like any
        // other that a crash left.
        (void)journal.Done(e.id);
        env.log("Journal: " + name + ".TSE nicht mehr vorhanden oder geändert" + ta);
        return TSettled::Abandoned;
    }
    TJobContext job;
    ApplyJobText(job, text, false);

    if (!e.finished) {
        if (!e.serial.empty() && e.serial != tse.Serial()) {
            env.log("Journal: " + name + ta + " wurde an einer anderen TSE begonnen");
            return TSettled::Held;
        }
        std::set<uint32_t> open;
        if (!tse.OpenTransactions(open)) {
            env.log("Journal: offene Transaktionen nicht lesbar, " + name + " wartet" + ta);
            return TSettled::Held;
        }
        if (open.count(e.taNr)) {
            // The same receipt: its transaction is finished with its data.
            TTransResult r;
            const int32_t res = tse.Finish(e, job.KasData, ProcessType(e.cmd), r);
            (void)journal.Finished(e.id, res, r.logTime, r.signatureCounter, r.signatureValue);
        } else {
            // Finished before the service could note it: the TSE's own log
            // messages tell what the answer would have said.
            TTransactionLogs logs;
            const int32_t res = tse.ReadBack(e.taNr, logs);
            if (res != 0 || !logs.haveFinish) {
                env.log("Journal: Abschluss von " + name + ta + " nicht lesbar, Err=" +
                        QString::fromStdString(ErgStrOf(res != 0 ? res : ErrorTransactionNumberNotFound)));
                return TSettled::Held;
            }
            (void)journal.Finished(e.id, 0, logs.endTime, logs.sigCounter, logs.signature);
        }
    }
    const auto it = journal.OpenEntries().find(e.id);
    if (it == journal.OpenEntries().end()) return TSettled::Held;
    const TJournalEntry& f = it->second;

    const std::vector<std::string> lines = SignAnswerLines(e.cmd, f.finishRes, job, f.startTime, f.endTime,
                                                           f.taNr, f.sigCounter, f.signature);
    if (int err = WriteAnswerFile(plat::FsPath(env.jobDir, jobName + ".SIG"), lines)) {
        env.log(name + ".SIG konnte nicht geschrieben werden, Err=" + QString::number(err) +
                ", die Antwort wird nachgeholt");
        return TSettled::Held;
    }
    if (int err = plat::DeleteFile(plat::FsPath(env.jobDir, e.jobFile)); err != 0 && err != ENOENT) {
        env.log(name + ".TSE konnte nicht gelöscht werden");
        return TSettled::Held;
    }
    (void)journal.Done(e.id);
    env.log("Antwort aus dem Journal: " + name + ta);
    return TSettled::Answered;
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

void RecoverFromJournal(TMainForm& form)
{
    if (!form.JobState) form.JobState = std::make_shared<TJobPassState>();
    TJournal& journal = form.JobState->Journal;
    const QString path = plat::NativePath(form.AktVerz + "/" + JournalFileName);
    if (int err = journal.Open(path))
        form.Log(QString(JournalFileName) + " nicht verwendbar, Err=" + QString::number(err));
    if (journal.SkippedRecords() > 0)
        form.Log(QString(JournalFileName) + ": " + QString::number(journal.SkippedRecords()) +
                 " unvollständige Einträge übergangen");

    TServiceRecoveryTse tse(form.AktVerz);
    const TRecoveryEnv env{form.DatenVerz, [&form](const QString& line) { form.Log(line); }};
    std::vector<TJournalEntry> open;
    for (const auto& [id, e] : journal.OpenEntries()) open.push_back(e);
    for (const TJournalEntry& e : open) SettleJournalEntry(journal, e, tse, env);
}
