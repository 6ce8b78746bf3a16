// Fair to every register: one register drops 300 receipts at once, another
// sends a single one right after. The single receipt is answered long before
// the flood is through; it waits for the jobs the service had in hand, not
// for the whole flood. Answers are counted, nothing is timed.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kFlood = 300;

// A register that drops many jobs at once writes them itself, each under a
// name of its own (written beside, then renamed in, as the protocol asks).
void DropJob(const QString& dir, const QString& name, int bonId)
{
    const QByteArray text = "CMD=BON\r\nKASID=Flutkasse\r\nBONID=" + QByteArray::number(bonId) +
                            "\r\nSIGTEXT=Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar\r\n*EOF*\r\n";
    QFile f(dir + "/" + name + ".tmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(text), text.size());
    f.close();
    ASSERT_TRUE(QFile::rename(dir + "/" + name + ".tmp", dir + "/" + name + ".TSE"));
}

// Answers of the flood that are complete (last line "*EOF*").
int FloodAnswered(const QString& dir)
{
    int n = 0;
    for (const QString& sig : QDir(dir).entryList({"FLUT_*.SIG"}, QDir::Files)) {
        QFile f(dir + "/" + sig);
        if (f.open(QIODevice::ReadOnly) && f.readAll().endsWith("*EOF*\r\n")) ++n;
    }
    return n;
}

TEST(Fairness, AQuietRegistersReceiptIsAnsweredLongBeforeAnotherRegistersFloodIsThrough)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    for (int i = 1; i <= kFlood; ++i) DropJob(svc.JobDir(), QStringLiteral("FLUT_%1").arg(i, 4, 10, QChar('0')), i);
    const e2e::ClientResult quiet = svc.Client({"--name", "Kasse02", "--timeout", "120", "--json", "bon", "--kasid",
                                                "Kasse02", "--bonid", "1", "--sigtext", "Ruhig^1.00_0.00_0.00_0.00_0.00^1.00:Bar"},
                                               180000);
    const int answeredBefore = FloodAnswered(svc.JobDir());
    ASSERT_EQ(quiet.exitCode, 0) << quiet.out.toStdString() << quiet.err.toStdString();
    EXPECT_EQ(quiet.json().value("CMD").toString(), "BON OK");
    EXPECT_LT(answeredBefore, kFlood * 2 / 3) << "the single receipt waited for most of the flood";

    // The flood itself is answered whole, each receipt once.
    for (int waited = 0; FloodAnswered(svc.JobDir()) < kFlood && waited < 180000; waited += 200) QThread::msleep(200);
    EXPECT_EQ(FloodAnswered(svc.JobDir()), kFlood);
    EXPECT_TRUE(QDir(svc.JobDir()).entryList({"FLUT_*.TSE"}, QDir::Files).isEmpty());
    ASSERT_EQ(svc.Terminate(), 0);
}

}  // namespace
