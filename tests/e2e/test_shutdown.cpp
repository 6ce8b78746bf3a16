// SIGTERM while a burst or a flood of receipts is being signed: the service
// finishes the job or batch in hand and ends cleanly; no answer is left half
// written.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

TEST(ServiceShutdown, SigtermDuringABurstLeavesNothingHalfAnswered)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QDir jobs(svc.JobDir());

    constexpr int kClients = 24;
    std::vector<std::unique_ptr<QProcess>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(svc.StartClient({"--keep", "--timeout", "8", "--name", QString("B%1").arg(i, 2, 10, QChar('0')),
                                           "bon", "--kasid", "Kasse04", "--sigtext", "Beleg^1.00:Bar"}));

    // As soon as the first answer is there, the service is told to end.
    for (int i = 0; i < 3000 && jobs.entryList({"*.SIG"}, QDir::Files).isEmpty(); ++i) QThread::msleep(5);
    ASSERT_FALSE(jobs.entryList({"*.SIG"}, QDir::Files).isEmpty());
    EXPECT_EQ(svc.Terminate(), 0);

    int answered = 0;
    for (int i = 0; i < kClients; ++i) {
        QProcess& c = *clients[i];
        ASSERT_TRUE(c.waitForFinished(30000));
        const int code = c.exitCode();
        EXPECT_TRUE(code == 0 || code == 2) << "client " << i << ": " << code << " " << c.readAllStandardError().toStdString();
        if (code == 0) {
            ++answered;
            EXPECT_TRUE(QFile::exists(jobs.filePath(QString("B%1.SIG").arg(i, 2, 10, QChar('0')))));
        }
    }
    EXPECT_GE(answered, 1);

    // Every answer that exists is complete; no job or temporary file is left.
    for (const QString& name : jobs.entryList({"*.SIG"}, QDir::Files)) {
        QFile f(jobs.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("CMD=BON OK\r\n")) << name.toStdString();
        EXPECT_TRUE(bytes.endsWith("\r\n*EOF*\r\n")) << name.toStdString();
    }
    EXPECT_EQ(jobs.entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("\\.(TSE|tmp)$")), QStringList());

    const QList<QByteArray> log = svc.ReadLog().trimmed().split('\n');
    // "|Vok_TSE beendet": the "|" sends it to the log file only, with its time stamp.
    EXPECT_TRUE(QRegularExpression("^\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d  Vok_TSE beendet$")
                    .match(QString::fromLatin1(log.last().trimmed())).hasMatch())
        << log.last().toStdString();
}

namespace {

// The transaction numbers of the complete answers among FLUT_*.SIG.
QList<QByteArray> Transactions(const QDir& jobs)
{
    QList<QByteArray> numbers;
    for (const QString& name : jobs.entryList({"FLUT_*.SIG"}, QDir::Files)) {
        QFile f(jobs.filePath(name));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = f.readAll();
        if (!bytes.endsWith("*EOF*\r\n")) continue;
        for (const QByteArray& line : bytes.split('\n'))
            if (line.startsWith("TRANR=")) numbers << line.mid(6).trimmed();
    }
    return numbers;
}

}  // namespace

// An end request while a flood waits is not held up by the rest of the
// flood: the pass ends after the batch in hand, every answered receipt's job
// file is gone, and the next start answers the rest, each receipt once.
TEST(ServiceShutdown, SigtermDuringAFloodEndsAfterTheBatchInHand)
{
    constexpr int kFlood = 400;
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QDir jobs(svc.JobDir());
    ASSERT_TRUE(e2e::DropReceipts(svc.JobDir(), "FLUT", "Flutkasse", kFlood));
    for (int i = 0; i < 6000 && Transactions(jobs).size() < 20; ++i) QThread::msleep(10);
    ASSERT_GE(Transactions(jobs).size(), 20);
    EXPECT_EQ(svc.Terminate(), 0);

    const int answered = Transactions(jobs).size();
    EXPECT_LT(answered, kFlood) << "the end waited for the whole flood";
    for (const QString& sig : jobs.entryList({"FLUT_*.SIG"}, QDir::Files)) {
        const QString job = sig.left(sig.size() - 4) + ".TSE";
        EXPECT_FALSE(jobs.exists(job)) << job.toStdString() << " is answered but still there";
    }

    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    for (int i = 0; i < 18000 && Transactions(jobs).size() < kFlood; ++i) QThread::msleep(10);
    const QList<QByteArray> numbers = Transactions(jobs);
    EXPECT_EQ(numbers.size(), kFlood);
    EXPECT_EQ(QSet<QByteArray>(numbers.begin(), numbers.end()).size(), kFlood) << "a receipt was signed twice";
    EXPECT_EQ(svc.Terminate(), 0);
}
