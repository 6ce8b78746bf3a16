// The real program killed at random moments while it answers a burst of
// jobs, and started again: in the end every job has one complete answer and
// no signature is handed out twice.
#include "support/AppFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kRounds = 5;
constexpr int kJobsPerRound = 20;

QList<QByteArray> Lines(const QString& path)
{
    QList<QByteArray> lines = testenv::ReadFile(path).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

bool WaitFor(const std::function<bool()>& pred, int ms)
{
    for (int waited = 0; !pred(); waited += 20) {
        if (waited >= ms) return false;
        QThread::msleep(20);
    }
    return true;
}

class CrashTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString prog, jobs;
    QStringList written;
    QProcess service;

    void SetUp() override
    {
        prog = tmp.path() + "/prog";
        jobs = prog + "/TSE";
        QDir().mkpath(jobs);
        QDir().mkpath(tmp.path() + "/drives/e");
        testenv::WriteFile(tmp.path() + "/drives/e/TSE-IO.bin", {});
        testenv::WriteFile(prog + "/Vok_TSE.INI", "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.insert("VOK_TSE_DRIVES", tmp.path() + "/drives");
        env.insert("VOK_TSE_DELAY_FACTOR", "0.01");
        service.setProcessEnvironment(env);
        service.setWorkingDirectory(prog);
        service.setProgram(QCoreApplication::applicationDirPath() + "/vok_tse");
        service.setArguments({"--unattended"});
        service.setStandardOutputFile(QProcess::nullDevice());
        service.setStandardErrorFile(QProcess::nullDevice());
    }

    void TearDown() override
    {
        if (service.state() != QProcess::NotRunning) {
            service.kill();
            service.waitForFinished(5000);
        }
    }

    void PutJob(const QString& name, int i)
    {
        const QByteArray text = i % 3 ? "CMD=BON\r\nKASID=Kasse0" + QByteArray::number(i % 2) + "\r\nBONID=" +
                                            QByteArray::number(i) + "\r\nSIGTEXT=Beleg " + name.toLatin1() + "\r\n*EOF*\r\n"
                                      : "CMD=TEXT\r\nKASID=Kasse01\r\nSIGTEXT=Vorgang\r\n*EOF*\r\n";
        testenv::WriteFile(jobs + "/" + name + ".part", text);
        QFile::rename(jobs + "/" + name + ".part", jobs + "/" + name + ".TSE");
        written << name;
    }

    int AnsweredCount() const
    {
        int n = 0;
        for (const QString& name : written) n += QFile::exists(jobs + "/" + name + ".SIG") ? 1 : 0;
        return n;
    }
};

TEST_F(CrashTest, KilledDuringABurstLosesAndRepeatsNothing)
{
    ASSERT_TRUE(QFile::exists(service.program())) << service.program().toStdString();
    QRandomGenerator rng(QRandomGenerator::global()->generate());

    int killsWithJobsWaiting = 0;
    for (int round = 0; round < kRounds; ++round) {
        service.start();
        ASSERT_TRUE(service.waitForStarted(10000));
        const int before = AnsweredCount();
        PutJob(QString("R%1_0").arg(round), 0);
        ASSERT_TRUE(WaitFor([&] { return AnsweredCount() > before; }, 30000)) << "round " << round;
        // The rest of the burst at once (the service takes a job the moment
        // it appears), killed at a random moment while it is being answered.
        for (int i = 1; i < kJobsPerRound; ++i) PutJob(QString("R%1_%2").arg(round).arg(i), i);
        QThread::msleep(rng.bounded(40));
        service.kill();
        ASSERT_TRUE(service.waitForFinished(10000));
        killsWithJobsWaiting += QDir(jobs).entryList({"*.TSE"}).isEmpty() ? 0 : 1;
    }
    // Otherwise the kills would not have tested anything.
    EXPECT_GT(killsWithJobsWaiting, 0);

    service.start();
    ASSERT_TRUE(service.waitForStarted(10000));
    const bool drained = WaitFor([&] { return QDir(jobs).entryList({"*.TSE"}).isEmpty(); }, 40000);
    service.terminate();
    service.waitForFinished(10000);
    ASSERT_TRUE(drained) << QDir(jobs).entryList({"*.TSE"}).join(' ').toStdString();

    QSet<QByteArray> taNumbers, sigCounters;
    for (const QString& name : written) {
        const QList<QByteArray> lines = Lines(jobs + "/" + name + ".SIG");
        ASSERT_FALSE(lines.isEmpty()) << name.toStdString();
        EXPECT_EQ(lines.last(), "*EOF*") << name.toStdString();
        EXPECT_TRUE(lines.first().endsWith(" OK")) << name.toStdString() << ": " << lines.first().constData();
        for (const QByteArray& l : lines) {
            QSet<QByteArray>* seen = l.startsWith("TRANR=") ? &taNumbers : l.startsWith("SIGNR=") ? &sigCounters : nullptr;
            if (!seen) continue;
            EXPECT_FALSE(seen->contains(l)) << name.toStdString() << ": " << l.constData();
            seen->insert(l);
        }
    }
    EXPECT_EQ(taNumbers.size(), written.size());
    EXPECT_EQ(sigCounters.size(), written.size());
}

}  // namespace
