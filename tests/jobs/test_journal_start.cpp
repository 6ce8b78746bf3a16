// The start settles what the journal holds, on the software TSE: a job the
// TSE began or finished before the service died is answered with that very
// transaction, and no new one is begun.
#include "JobFixture.h"

#include "jobs/JournalRecovery.h"
#include "tse/TseLib.h"

namespace {

using namespace jobtest;

class JournalStart : public JobFixture {
protected:
    const QByteArray job = Bon("Kasse01", "4711", "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar");

    // Ends the service and notes the entry as the job pass would have,
    // right after the TSE answered the start.
    void StopAndNote(const TTransResult& start)
    {
        const std::string serial = TseSN;
        service.reset();
        TJournal journal;
        ASSERT_EQ(journal.Open(progDir + "/" + JournalFileName), 0);
        TJournalEntry e;
        e.jobFile = "K1.TSE";
        e.sha256 = Sha256Hex(job.toStdString());
        e.kasId = "Kasse01";
        e.cmd = 'B';
        e.taNr = start.transactionNumber;
        e.startTime = start.logTime;
        e.serial = serial;
        ASSERT_EQ(journal.Started(e), 0);
        journal.Close();
        WriteFile(JobPath("K1"), job);
    }

    void Restart()
    {
        ASSERT_TRUE(StartAndWaitRunning());
        ASSERT_TRUE(RunUntil([&] { return Answered("K1"); })) << LogText().toStdString();
    }
};

TEST_F(JournalStart, AFinishNotNotedIsAnsweredFromTheTsesOwnLogMessages)
{
    StartService();
    Run("First", Bon("Kasse01", "1", "x"));  // the client is registered
    TTransResult start, finish;
    tse_startTransaction("Kasse01", {}, {}, {}, start);
    ASSERT_EQ(TseRes, 0);
    tse_finishTransaction("Kasse01", start.transactionNumber, "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar",
                          "Kassenbeleg-V1", {}, finish);
    ASSERT_EQ(TseRes, 0);
    StopAndNote(start);
    Restart();

    const auto v = SigValues("K1");
    EXPECT_EQ(SigLines("K1").value(0), "CMD=BON OK");
    EXPECT_EQ(v["BONID"], "4711");
    EXPECT_EQ(v["TRANR"], QByteArray::number(start.transactionNumber));
    EXPECT_EQ(v["START"], QByteArray::fromStdString(start.logTime));
    EXPECT_EQ(v["ENDE"], QByteArray::fromStdString(finish.logTime));
    EXPECT_EQ(v["SIGNR"], QByteArray::number(finish.signatureCounter));
    EXPECT_EQ(v["SIG"], QByteArray::fromStdString(HexToBase64(finish.signatureValue)));
    EXPECT_TRUE(LogText().contains("Antwort aus dem Journal: K1  TA=" + QString::number(start.transactionNumber)));
    EXPECT_FALSE(QFile::exists(progDir + "/Vok_TSE.journal.tar"));

    // No transaction was begun for it: the next job has the next number.
    const auto next = Run("Next", Bon("Kasse01", "2", "y"));
    EXPECT_TRUE(next.contains("TRANR=" + QByteArray::number(start.transactionNumber + 1)));
}

TEST_F(JournalStart, ATransactionLeftOpenIsFinishedWithItsJob)
{
    StartService({"--unattended"});
    Run("First", Bon("Kasse01", "1", "x"));
    TTransResult start;
    tse_startTransaction("Kasse01", {}, {}, {}, start);
    ASSERT_EQ(TseRes, 0);
    StopAndNote(start);
    ASSERT_TRUE(StartAndWaitRunning({"--unattended"}));
    ASSERT_TRUE(RunUntil([&] { return Answered("K1"); })) << LogText().toStdString();

    const auto v = SigValues("K1");
    EXPECT_EQ(SigLines("K1").value(0), "CMD=BON OK");
    EXPECT_EQ(v["TRANR"], QByteArray::number(start.transactionNumber));
    EXPECT_EQ(v["SIGTEXT"], "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar");
    // Finished with the receipt, not as a transaction a crash left.
    EXPECT_FALSE(LogText().contains("Manueller Abschluss"));
    EXPECT_TRUE(tse_getOpenTransactions().empty());

    // The signature is the one the TSE stored for the receipt's finish.
    TServiceRecoveryTse tse(progDir);
    TTransactionLogs logs;
    ASSERT_EQ(tse.ReadBack(start.transactionNumber, logs), 0);
    ASSERT_TRUE(logs.haveFinish);
    EXPECT_EQ(v["SIG"], QByteArray::fromStdString(HexToBase64(logs.signature)));
    EXPECT_EQ(v["SIGNR"], QByteArray::number(logs.sigCounter));
    EXPECT_EQ(v["START"], QByteArray::fromStdString(logs.startTime));
}

TEST_F(JournalStart, AReceiptSentAgainAfterItsAnswerIsANewJob)
{
    StartService();
    Run("K1", job);
    const QByteArray firstNr = SigValues("K1")["TRANR"];
    service.reset();
    // The journal holds nothing open for an answered job: the same content
    // under the same name, once its answer was read, is signed as a new job.
    WriteFile(JobPath("K1"), job);
    ASSERT_TRUE(StartAndWaitRunning());
    ASSERT_TRUE(RunUntil([&] { return Answered("K1"); }));
    EXPECT_EQ(SigValues("K1")["TRANR"], QByteArray::number(firstNr.toUInt() + 1));
    EXPECT_FALSE(LogText().contains("Antwort aus dem Journal"));
}

TEST_F(JournalStart, AnAnswerPendingAtTheEndIsWrittenAfterTheRestart)
{
    StartService();
    Run("First", Bon("Kasse01", "1", "x"));
    const uint32_t expected = SigValues("First")["TRANR"].toUInt() + 1;
    ASSERT_TRUE(QDir().mkdir(SigPath("K1")));  // the answer cannot be written
    PutJob("K1", job);
    ASSERT_TRUE(RunUntil([&] { return LogText().contains("die Antwort wird nachgeholt"); }));
    service.reset();
    ASSERT_TRUE(QFile::exists(JobPath("K1")));

    ASSERT_TRUE(QDir().rmdir(SigPath("K1")));
    ASSERT_TRUE(StartAndWaitRunning());
    ASSERT_TRUE(RunUntil([&] { return Answered("K1"); })) << LogText().toStdString();
    EXPECT_EQ(SigValues("K1")["TRANR"], QByteArray::number(expected));
    EXPECT_TRUE(LogText().contains("Antwort aus dem Journal: K1  TA=" + QString::number(expected)));
    const auto next = Run("Next", Bon("Kasse01", "2", "y"));
    EXPECT_TRUE(next.contains("TRANR=" + QByteArray::number(expected + 1)));
}

}  // namespace
