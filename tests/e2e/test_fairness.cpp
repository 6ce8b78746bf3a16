// Fair to every register: one register drops 300 receipts at once, another
// sends single ones while the service works through them. A single receipt
// is answered long before the flood is through: it waits for the answers
// the service had in hand, not for the rest of the flood it listed, also
// when it comes under the name of a job whose file is still there.
// Answers are counted, nothing is timed.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kFlood = 300;

int FloodAnswered(const QString& dir)
{
    return e2e::CompleteAnswers(dir, "FLUT");
}

// The flood is dropped, and the quiet register writes once the service is
// well into it: the flood's jobs have long been listed by then.
void DropFloodAndWaitForATenth(const QString& dir)
{
    ASSERT_TRUE(e2e::DropReceipts(dir, "FLUT", "Flutkasse", kFlood));
    for (int waited = 0; FloodAnswered(dir) < kFlood / 10 && waited < 60000; waited += 20) QThread::msleep(20);
}

// One receipt of the quiet register, through its job name Kasse02.
e2e::ClientResult QuietReceipt(e2e::Service& svc, int bon)
{
    return svc.Client({"--name", "Kasse02", "--timeout", "120", "--json", "bon", "--kasid", "Kasse02", "--bonid",
                       QString::number(bon), "--sigtext", "Ruhig^1.00_0.00_0.00_0.00_0.00^1.00:Bar"},
                      180000);
}

// The flood is answered whole, each receipt once.
void WaitForTheWholeFlood(const QString& dir)
{
    for (int waited = 0; FloodAnswered(dir) < kFlood && waited < 180000; waited += 200) QThread::msleep(200);
    EXPECT_EQ(FloodAnswered(dir), kFlood);
}

TEST(Fairness, AQuietRegistersReceiptIsAnsweredLongBeforeAnotherRegistersFloodIsThrough)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    ASSERT_NO_FATAL_FAILURE(DropFloodAndWaitForATenth(svc.JobDir()));
    const e2e::ClientResult quiet = QuietReceipt(svc, 1);
    const int answeredBefore = FloodAnswered(svc.JobDir());
    ASSERT_EQ(quiet.exitCode, 0) << quiet.out.toStdString() << quiet.err.toStdString();
    EXPECT_EQ(quiet.json().value("CMD").toString(), "BON OK");
    EXPECT_LT(answeredBefore, kFlood * 2 / 3) << "the single receipt waited for most of the flood";

    WaitForTheWholeFlood(svc.JobDir());
    EXPECT_TRUE(QDir(svc.JobDir()).entryList({"FLUT_*.TSE"}, QDir::Files).isEmpty());
    ASSERT_EQ(svc.Terminate(), 0);
}

// A register sends its receipts one after the other under one name: each
// job file is written the moment the answer before it has been read, often
// before the service has deleted the job that answer belongs to. During a
// flood each such job is still taken in its register's turn, and answered
// as itself.
TEST(Fairness, ARegisterReusingItsJobNameDuringAFloodHasEachReceiptAnsweredInTurn)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    ASSERT_NO_FATAL_FAILURE(DropFloodAndWaitForATenth(svc.JobDir()));
    QSet<QString> transactions;
    for (int bon = 1; bon <= 5; ++bon) {
        const e2e::ClientResult r = QuietReceipt(svc, bon);
        ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
        EXPECT_EQ(r.json().value("CMD").toString(), "BON OK");
        EXPECT_EQ(r.json().value("BONID").toString(), QString::number(bon)) << "another job's answer";
        transactions.insert(r.json().value("TRANR").toString());
    }
    const int answeredBefore = FloodAnswered(svc.JobDir());
    EXPECT_EQ(transactions.size(), 5) << "a receipt was answered with another one's transaction";
    EXPECT_LT(answeredBefore, kFlood) << "a job under a reused name waited for the flood to end";

    WaitForTheWholeFlood(svc.JobDir());
    EXPECT_FALSE(QFile::exists(svc.JobDir() + "/Kasse02.TSE"));
    ASSERT_EQ(svc.Terminate(), 0);
}

}  // namespace
