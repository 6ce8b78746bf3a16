// A TSE that drops away and comes back is opened again without a restart;
// the status file and `vok-tse-client health` say how the service is; an
// unattended start finishes what a crash left open.
#include "ServiceHarness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

namespace {

bool WaitFor(const std::function<bool()>& done, int ms = 60000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QThread::msleep(50);
    }
    return true;
}

QJsonObject StatusFile(const e2e::Service& svc)
{
    QFile f(svc.JobDir() + "/Vok_TSE.status.json");
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

QByteArray Bon(const e2e::Service& svc, const QByteArray& bonId, int* exitCode)
{
    const e2e::ClientResult r =
        svc.Client({"bon", "--kasid", "Kasse01", "--bonid", QString::fromLatin1(bonId), "--sigtext", "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar"});
    *exitCode = r.exitCode;
    return r.out + r.err;
}

TEST(TseRecovery, TheDriveGoesAndComesBackWithoutARestart)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    int rc = -1;
    Bon(svc, "1", &rc);
    ASSERT_EQ(rc, 0);
    // The job shows in the status file within about a second (a change is
    // written at most once a second).
    ASSERT_TRUE(WaitFor([&] {
        const QJsonObject o = StatusFile(svc);
        return !o.value("last_job").isNull() && o.value("signature_counter").toInteger() > 0;
    })) << QJsonDocument(StatusFile(svc)).toJson().toStdString();
    const QJsonObject online = StatusFile(svc);
    EXPECT_EQ(online.value("tse_online"), QJsonValue(true));
    EXPECT_EQ(online.value("pid").toInteger(), svc.Pid());
    EXPECT_FALSE(online.value("last_job").isNull());
    EXPECT_EQ(svc.Client({"health"}).exitCode, 0) << svc.Client({"health"}).out.toStdString();

    // The stick loses power.
    const QString marker = svc.DriveDir() + "/TSE-IO.bin";
    ASSERT_TRUE(QFile::rename(marker, marker + ".away")) << "marker not moved away";
    const QByteArray refused = Bon(svc, "2", &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(refused.startsWith("CMD=BON ERR 1004h")) << refused.toStdString();
    ASSERT_TRUE(WaitFor([&] { return StatusFile(svc).value("tse_online") == QJsonValue(false); }))
        << QJsonDocument(StatusFile(svc)).toJson().toStdString() << svc.ReadLog().toStdString();
    // The job's own code, or that of a reconnection tried since (the TSE
    // cannot be started).
    const QStringList unreachable = {"1004h", "100Fh"};
    EXPECT_TRUE(unreachable.contains(StatusFile(svc).value("tse_error").toString()))
        << StatusFile(svc).value("tse_error").toString().toStdString();
    const e2e::ClientResult degraded = svc.Client({"health"});
    EXPECT_EQ(degraded.exitCode, 1) << degraded.out.toStdString();
    const e2e::ClientResult prom = svc.Client({"health", "--prometheus"});
    EXPECT_TRUE(prom.out.contains("\nvok_tse_tse_online 0\n")) << prom.out.toStdString();

    // STATUS says so as for an unplugged TSE, with the notice.
    const e2e::ClientResult status = svc.Client({"status", "--kasid", "Kasse01"});
    EXPECT_TRUE(status.out.contains("TSE=OFFLINE ERR=1004h") || status.out.contains("TSE=OFFLINE ERR=100Fh"))
        << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("TSE nicht erreichbar seit ")) << status.out.toStdString();

    // Back again: the service notices without any job.
    ASSERT_TRUE(QFile::rename(marker + ".away", marker)) << "marker not put back";
    ASSERT_TRUE(WaitFor([&] { return StatusFile(svc).value("tse_online") == QJsonValue(true); }))
        << svc.ReadLog().toStdString();
    const QByteArray signedBon = Bon(svc, "3", &rc);
    EXPECT_EQ(rc, 0) << signedBon.toStdString() << svc.ReadLog().toStdString();
    EXPECT_TRUE(signedBon.startsWith("CMD=BON OK")) << signedBon.toStdString();
    const e2e::ClientResult after = svc.Client({"status", "--kasid", "Kasse01"});
    EXPECT_FALSE(after.out.contains("TSE nicht erreichbar")) << after.out.toStdString();

    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(log.count("TSE nicht erreichbar, Err=1004h"), 1) << log.toStdString();
    EXPECT_EQ(log.count("TSE wieder verbunden"), 1) << log.toStdString();

    EXPECT_EQ(svc.Terminate(10000), 0);
    EXPECT_EQ(svc.Client({"health"}).exitCode, 2);
}

TEST(TseRecovery, AnUnattendedStartFinishesTransactionsLeftOpen)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    int rc = -1;
    Bon(svc, "1", &rc);
    ASSERT_EQ(rc, 0);

    // Two receipts whose transactions the TSE starts but never finishes,
    // as when the service dies between the two calls.
    QFile faults(svc.DriveDir() + "/.softtse/faults");
    ASSERT_TRUE(faults.open(QIODevice::WriteOnly));
    faults.write("se_finishTransaction = 0x3009\n");
    faults.close();
    Bon(svc, "2", &rc);
    Bon(svc, "3", &rc);
    ASSERT_TRUE(faults.remove());
    ASSERT_TRUE(WaitFor([&] { return StatusFile(svc).value("open_transactions").toInteger() == 2; }))
        << QJsonDocument(StatusFile(svc)).toJson().toStdString();
    ASSERT_EQ(svc.Terminate(10000), 0);

    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_TRUE(WaitFor([&] { return StatusFile(svc).value("pid").toInteger() == svc.Pid(); }));
    EXPECT_EQ(StatusFile(svc).value("open_transactions").toInteger(), 0)
        << QJsonDocument(StatusFile(svc)).toJson().toStdString();
    const e2e::ClientResult status = svc.Client({"status", "--kasid", "Kasse01"});
    EXPECT_FALSE(status.out.contains("offene Trans")) << status.out.toStdString();
    // Only the two refusals of the first run; the start finished both.
    EXPECT_EQ(svc.ReadLog().count("FinishTransaction nicht m\xf6glich"), 2) << svc.ReadLog().toStdString();
    Bon(svc, "4", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(svc.Terminate(10000), 0);
}

}  // namespace
