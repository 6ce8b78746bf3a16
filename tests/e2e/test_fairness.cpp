// Fair to every register: one register drops 300 receipts at once, another
// sends a single one while the service works through them. The single
// receipt is answered long before the flood is through: it waits for the
// answers the service had in hand, not for the rest of the flood it listed.
// Answers are counted, nothing is timed.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kFlood = 300;

// A register that drops many jobs at once writes them itself, each under a
// name of its own, written beside and renamed in as the protocol asks. All
// are written first and renamed in a row, so the flood stands there whole
// at once.
void DropFlood(const QString& dir)
{
    for (int i = 1; i <= kFlood; ++i) {
        const QByteArray text = "CMD=BON\r\nKASID=Flutkasse\r\nBONID=" + QByteArray::number(i) +
                                "\r\nSIGTEXT=Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar\r\n*EOF*\r\n";
        QFile f(QStringLiteral("%1/FLUT_%2.tmp").arg(dir).arg(i, 4, 10, QChar('0')));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_EQ(f.write(text), text.size());
    }
    for (int i = 1; i <= kFlood; ++i) {
        const QString name = QStringLiteral("%1/FLUT_%2").arg(dir).arg(i, 4, 10, QChar('0'));
        ASSERT_TRUE(QFile::rename(name + ".tmp", name + ".TSE"));
    }
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

    DropFlood(svc.JobDir());
    // The quiet register writes once the service is well into the flood:
    // the flood's jobs have long been listed by then.
    for (int waited = 0; FloodAnswered(svc.JobDir()) < kFlood / 10 && waited < 60000; waited += 20) QThread::msleep(20);
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
