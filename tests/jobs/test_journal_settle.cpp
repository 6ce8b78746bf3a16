// Settling the journal's open entries against a scripted TSE: each case of
// a service that died between the TSE's start of a transaction and the
// deletion of its job.
#include "jobs/JournalRecovery.h"

#include "tse/TseLib_C_Dekl.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ScriptedTse : public TRecoveryTse {
public:
    bool canList = true;
    std::set<uint32_t> open;
    int32_t finishRes = 0;
    TTransResult finishGives;
    int32_t readBackRes = 0;
    TTransactionLogs readBackGives;
    std::string serial = "0A1B";

    std::vector<std::string> finished;  // "taNr|data|type" of every finish
    int readBacks = 0;

    bool OpenTransactions(std::set<uint32_t>& numbers) override
    {
        numbers = open;
        return canList;
    }
    int32_t Finish(const TJournalEntry& e, const std::string& data, const std::string& type,
                   TTransResult& r) override
    {
        finished.push_back(std::to_string(e.taNr) + "|" + data + "|" + type);
        r = finishGives;
        if (finishRes == 0) open.erase(e.taNr);
        return finishRes;
    }
    int32_t ReadBack(uint32_t, TTransactionLogs& logs) override
    {
        ++readBacks;
        logs = readBackGives;
        return readBackRes;
    }
    std::string Serial() override { return serial; }
};

// A finish as the TSE would have signed it for the job below.
TTransactionLogs FinishOf(const std::string& processData)
{
    TTransactionLogs logs;
    logs.haveStart = logs.haveFinish = true;
    logs.startClient = logs.finishClient = "Kasse01";
    logs.finishProcessType = "Kassenbeleg-V1";
    logs.finishProcessData = processData;
    logs.sigCounter = 1;
    logs.signature = "00";
    return logs;
}

const QByteArray kJob = "CMD=BON\r\nKASID=Kasse01\r\nBONID=77\r\nSIGTEXT=Beleg^9.99:Bar\r\n*EOF*\r\n";

class Settle : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TJournal journal;
    ScriptedTse tse;
    QStringList logged;
    TRecoveryEnv env;

    void SetUp() override
    {
        ASSERT_EQ(journal.Open(dir.path() + "/Vok_TSE.journal"), 0);
        env.jobDir = dir.path();
        env.log = [this](const QString& line) { logged << line; };
    }

    void Put(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.path() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    bool Exists(const QString& name) const { return QFile::exists(dir.path() + "/" + name); }
    QStringList Answer(const QString& name) const
    {
        QFile f(dir.path() + "/" + name);
        if (!f.open(QIODevice::ReadOnly)) return {};
        QStringList lines = QString::fromLatin1(f.readAll()).split("\r\n");
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }

    // An entry as the job pass writes it once the TSE has begun the job.
    TJournalEntry Begun(const QByteArray& jobFile, const QByteArray& content, uint32_t taNr)
    {
        TJournalEntry e;
        e.jobFile = jobFile;
        e.sha256 = Sha256Hex(content.toStdString());
        e.kasId = "Kasse01";
        e.cmd = 'B';
        e.taNr = taNr;
        e.startTime = "2026-12-09T10:00:00.000Z";
        e.serial = "0A1B";
        EXPECT_EQ(journal.Started(e), 0);
        return e;
    }

    TSettled Run(uint64_t id) { return SettleJournalEntry(journal, journal.OpenEntries().at(id), tse, env); }
};

TEST_F(Settle, AFinishedJobIsAnsweredFromItsRecordWithoutTheTse)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    ASSERT_EQ(journal.Finished(e.id, 0, "2026-12-09T10:00:01.000Z", 30, "0102FF"), 0);

    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_EQ(Answer("K1.SIG"), (QStringList{"CMD=BON OK", "KASID=Kasse01", "BONID=77", "SIGTEXT=Beleg^9.99:Bar",
                                              "START=2026-12-09T10:00:00.000Z", "ENDE=2026-12-09T10:00:01.000Z",
                                              "TRANR=12", "SIGNR=30", "SIG=AQL/", "*EOF*"}));
    EXPECT_FALSE(Exists("K1.TSE"));
    EXPECT_TRUE(journal.OpenEntries().empty());
    EXPECT_TRUE(tse.finished.empty());
    EXPECT_EQ(tse.readBacks, 0);
    EXPECT_TRUE(logged.contains("Antwort aus dem Journal: K1  TA=12")) << logged.join('\n').toStdString();
}

TEST_F(Settle, AFinishTheServiceDidNotNoteIsReadBackFromTheTse)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    tse.readBackGives = FinishOf("Beleg^9.99:Bar");
    tse.readBackGives.endTime = "2026-12-09T10:00:02.000Z";
    tse.readBackGives.sigCounter = 31;
    tse.readBackGives.signature = "0102FF";

    EXPECT_EQ(Run(e.id), TSettled::Answered);
    const QStringList a = Answer("K1.SIG");
    EXPECT_TRUE(a.contains("CMD=BON OK"));
    EXPECT_TRUE(a.contains("START=2026-12-09T10:00:00.000Z"));
    EXPECT_TRUE(a.contains("ENDE=2026-12-09T10:00:02.000Z"));
    EXPECT_TRUE(a.contains("TRANR=12"));
    EXPECT_TRUE(a.contains("SIGNR=31"));
    EXPECT_TRUE(a.contains("SIG=AQL/"));
    EXPECT_TRUE(tse.finished.empty());
    EXPECT_FALSE(Exists("K1.TSE"));
}

TEST_F(Settle, AFinishThatCannotBeReadBackHoldsTheJobUntilItCan)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    tse.readBackRes = ErrorSECommunicationFailed;
    EXPECT_EQ(Run(e.id), TSettled::Held);
    EXPECT_TRUE(Exists("K1.TSE"));
    EXPECT_FALSE(Exists("K1.SIG"));
    EXPECT_EQ(journal.OpenEntries().size(), 1u);

    // An export without the finish is no better.
    tse.readBackRes = 0;
    tse.readBackGives.haveStart = true;
    EXPECT_EQ(Run(e.id), TSettled::Held);
    tse.canList = false;
    EXPECT_EQ(Run(e.id), TSettled::Held);
    EXPECT_TRUE(tse.finished.empty());

    tse.canList = true;
    tse.readBackGives = FinishOf("Beleg^9.99:Bar");
    tse.readBackGives.sigCounter = 40;
    tse.readBackGives.signature = "AA";
    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_TRUE(Answer("K1.SIG").contains("SIGNR=40"));
}

TEST_F(Settle, AnOpenTransactionIsFinishedWithTheJobsOwnData)
{
    const QByteArray text = "CMD=TEXT\r\nKASID=Kasse01\r\nSIGTEXT=Schublade\r\n*EOF*\r\n";
    Put("K1.TSE", text);
    TJournalEntry e;
    e.jobFile = "K1.TSE";
    e.sha256 = Sha256Hex(text.toStdString());
    e.kasId = "Kasse01";
    e.cmd = 'T';
    e.taNr = 12;
    e.startTime = "2026-12-09T10:00:00.000Z";
    e.serial = "0A1B";
    ASSERT_EQ(journal.Started(e), 0);
    tse.open = {11, 12};
    tse.finishGives.logTime = "2026-12-09T10:05:00.000Z";
    tse.finishGives.signatureCounter = 50;
    tse.finishGives.signatureValue = "00";

    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_EQ(tse.finished, (std::vector<std::string>{"12|Schublade|SonstigerVorgang"}));
    EXPECT_EQ(Answer("K1.SIG"), (QStringList{"CMD=TEXT OK", "KASID=Kasse01", "SIGTEXT=Schublade",
                                              "START=2026-12-09T10:00:00.000Z", "ENDE=2026-12-09T10:05:00.000Z",
                                              "TRANR=12", "SIGNR=50", "SIG=AA==", "*EOF*"}));
    EXPECT_EQ(tse.open, (std::set<uint32_t>{11}));  // the other one is not the journal's
}

TEST_F(Settle, AFinishTheTseRefusesIsAnsweredAsThatError)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    tse.open = {12};
    tse.finishRes = ErrorSECommunicationFailed;
    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_EQ(Answer("K1.SIG").value(0), "CMD=BON ERR 1004h");
}

TEST_F(Settle, AJobGoneOrChangedIsNotAnswered)
{
    const TJournalEntry gone = Begun("Gone.TSE", kJob, 12);
    Put("New.TSE", kJob + "SIGTEXT=anders\r\n");
    const TJournalEntry changed = Begun("New.TSE", kJob, 13);
    tse.open = {12, 13};

    EXPECT_EQ(Run(gone.id), TSettled::Abandoned);
    EXPECT_EQ(Run(changed.id), TSettled::Abandoned);
    EXPECT_TRUE(journal.OpenEntries().empty());
    EXPECT_TRUE(Exists("New.TSE"));  // a new job: the pass signs it
    EXPECT_FALSE(Exists("New.SIG"));
    EXPECT_FALSE(Exists("Gone.SIG"));
    // Left for the open-transactions handling, which the operator or the
    // unattended start does.
    EXPECT_TRUE(tse.finished.empty());
}

TEST_F(Settle, ATransactionOfAnotherTseIsNeverFinishedAndItsJobIsToldAtOnce)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    tse.serial = "FFFF";
    tse.open = {12};
    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_TRUE(tse.finished.empty());
    EXPECT_EQ(Answer("K1.SIG"), (QStringList{"CMD=BON ERR 3009h", "KASID=Kasse01", "BONID=77",
                                              "SIGTEXT=Beleg^9.99:Bar", "START=2026-12-09T10:00:00.000Z", "ENDE=",
                                              "TRANR=12", "SIGNR=0", "SIG=", "*EOF*"}));
    EXPECT_FALSE(Exists("K1.TSE"));
    EXPECT_TRUE(journal.OpenEntries().empty());
}

TEST_F(Settle, AFinishThatSignedSomethingElseIsNeverTheJobsAnswer)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    // An operator's "TA freigeben", another client, another type: none of
    // them signed this receipt.
    TTransactionLogs manual = FinishOf("Manueller Abschluss von TA-Nr.: 12");
    manual.finishProcessType = "SonstigerVorgang";
    TTransactionLogs otherClient = FinishOf("Beleg^9.99:Bar");
    otherClient.finishClient = "Kasse02";
    TTransactionLogs otherType = FinishOf("Beleg^9.99:Bar");
    otherType.finishProcessType = "SonstigerVorgang";
    for (const TTransactionLogs& finish : {manual, otherClient, otherType}) {
        const TJournalEntry again = journal.OpenEntries().empty() ? Begun("K1.TSE", kJob, 12) : e;
        tse.readBackGives = finish;
        EXPECT_EQ(Run(again.id), TSettled::SignAnew);
        EXPECT_TRUE(journal.OpenEntries().empty());
        EXPECT_TRUE(Exists("K1.TSE"));  // the pass signs it as a new job
        EXPECT_FALSE(Exists("K1.SIG"));
    }
    EXPECT_TRUE(tse.finished.empty());
}

TEST_F(Settle, ANewFileUnderTheNameIsANewJobEvenWithTheSameBytes)
{
    Put("K1.TSE", kJob);
    plat::FileId first;
    ASSERT_EQ(plat::FileIdentity(plat::FsPath(dir.path() + "/K1.TSE"), first), 0);
    TJournalEntry e;
    e.jobFile = "K1.TSE";
    e.sha256 = Sha256Hex(kJob.toStdString());
    e.jobId = first;
    e.kasId = "Kasse01";
    e.taNr = 12;
    ASSERT_EQ(journal.Started(e), 0);
    ASSERT_EQ(journal.Finished(e.id, 0, "2026-12-09T10:00:01.000Z", 30, "0102FF"), 0);

    // The client read the answer, the service died before its record of
    // the deletion, the client wrote the same operation again.
    ASSERT_TRUE(QFile::remove(dir.path() + "/K1.TSE"));
    Put("K1.TSE", kJob);
    plat::FileId second;
    ASSERT_EQ(plat::FileIdentity(plat::FsPath(dir.path() + "/K1.TSE"), second), 0);
    ASSERT_FALSE(first == second);
    EXPECT_EQ(journal.Find("K1.TSE", e.sha256, second), nullptr);
    ASSERT_NE(journal.Find("K1.TSE", e.sha256, first), nullptr);

    EXPECT_EQ(Run(e.id), TSettled::Abandoned);
    EXPECT_TRUE(Exists("K1.TSE"));
    EXPECT_FALSE(Exists("K1.SIG"));
}

TEST_F(Settle, AnEntryHeldFiveMinutesIsAnsweredAsFailed)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    std::map<uint64_t, plat::TDateTime> held;
    plat::TDateTime now = 46000.5;
    env.heldSince = &held;
    env.now = [&now] { return now; };
    tse.canList = false;

    EXPECT_EQ(Run(e.id), TSettled::Held);
    now += 4.0 / (24 * 60);
    EXPECT_EQ(Run(e.id), TSettled::Held);
    EXPECT_TRUE(Exists("K1.TSE"));
    now += 1.5 / (24 * 60);
    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_EQ(Answer("K1.SIG").value(0), "CMD=BON ERR " + QString::fromStdString(ErgStrOf(kHeldNoOpenList)));
    EXPECT_FALSE(Exists("K1.TSE"));
    EXPECT_TRUE(journal.OpenEntries().empty());
    EXPECT_TRUE(held.empty());
    EXPECT_TRUE(tse.finished.empty());
}

TEST_F(Settle, AnAnswerWhoseJobWouldNotGoIsWrittenOnceAndNotedOnce)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    ASSERT_EQ(journal.Finished(e.id, 0, "2026-12-09T10:00:01.000Z", 30, "0102FF"), 0);
    int noted = 0;
    env.answered = [&](const TJournalAnswer& a) {
        ++noted;
        EXPECT_EQ(a.entry.sigCounter, 30u);
        EXPECT_EQ(a.job.KasBonNr, "77");
    };
    plat::SetDeleteFailureForTest(EACCES);
    plat::FileId kept;
    EXPECT_EQ(SettleJournalEntry(journal, journal.OpenEntries().at(e.id), tse, env, &kept), TSettled::AnsweredKept);
    plat::SetDeleteFailureForTest(0);
    EXPECT_EQ(noted, 1);
    EXPECT_TRUE(Answer("K1.SIG").contains("SIGNR=30"));
    plat::FileId there;
    ASSERT_EQ(plat::FileIdentity(plat::FsPath(dir.path() + "/K1.TSE"), there), 0);
    EXPECT_EQ(kept, there);
    EXPECT_EQ(journal.OpenEntries().size(), 1u);  // closed once the file is gone
}

TEST_F(Settle, AnAnswerThatCannotBeWrittenStaysInTheJournal)
{
    Put("K1.TSE", kJob);
    const TJournalEntry e = Begun("K1.TSE", kJob, 12);
    tse.open = {12};
    tse.finishGives.signatureCounter = 60;
    ASSERT_TRUE(QDir(dir.path()).mkdir("K1.SIG"));  // nothing can be written under the name

    EXPECT_EQ(Run(e.id), TSettled::Held);
    ASSERT_EQ(journal.OpenEntries().size(), 1u);
    EXPECT_TRUE(journal.OpenEntries().begin()->second.finished);
    EXPECT_TRUE(Exists("K1.TSE"));

    // A later attempt writes the kept answer; the TSE is not asked again.
    ASSERT_TRUE(QDir(dir.path()).rmdir("K1.SIG"));
    EXPECT_EQ(Run(e.id), TSettled::Answered);
    EXPECT_EQ(tse.finished.size(), 1u);
    EXPECT_TRUE(Answer("K1.SIG").contains("SIGNR=60"));
}

}  // namespace
