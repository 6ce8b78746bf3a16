// A TSE with five client slots and eight registers: the three that find no
// slot are answered with the TSE's error, logged once each, and health says
// "degraded". An id the INI's KASSEN= does not name never reaches the TSE,
// and the list survives the INI's rewrite by a default export.
#include "ServiceHarness.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>

TEST(ClientSlots, RegistersBeyondTheTsesSlotsAreRefusedOnceAndHealthIsDegraded)
{
    e2e::Service svc;
    QFile settings(svc.DriveDir() + "/softtse.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("maxClients=5\n");
    settings.close();
    // The administrator's list: every "Kasse..." may sign, nobody else.
    QFile ini(svc.ProgramDir() + "/Vok_TSE.INI");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\nKASSEN=Kasse*\r\n");
    ini.close();
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    for (int round = 0; round < 2; ++round) {
        for (int k = 1; k <= 8; ++k) {
            const QString id = QStringLiteral("Kasse%1").arg(k);
            const e2e::ClientResult bon =
                svc.Client({"bon", "--kasid", id, "--bonid", QString::number(round + 1), "--sigtext", "x"});
            if (k <= 5) {
                EXPECT_EQ(bon.exitCode, 0) << id.toStdString() << bon.out.toStdString();
            } else {
                EXPECT_EQ(bon.exitCode, 1) << id.toStdString() << bon.out.toStdString();
                EXPECT_TRUE((bon.out + bon.err).contains("300Bh")) << id.toStdString() << bon.out.toStdString();
            }
        }
    }

    // An id not on the list never reaches the TSE, however many slots.
    const e2e::ClientResult guest = svc.Client({"bon", "--kasid", "Gast", "--bonid", "1", "--sigtext", "x"});
    EXPECT_EQ(guest.exitCode, 1);
    EXPECT_TRUE((guest.out + guest.err).contains("3007h")) << guest.out.toStdString();

    // A default export rewrites the INI: the list stays.
    EXPECT_EQ(svc.Client({"export", "--kasid", "Kasse1"}).exitCode, 0);
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(20))
        if (svc.ReadConfig().contains("\r\nEXP_TANR=10\r\n")) break;
    EXPECT_EQ(svc.ReadConfig(), "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=10\r\nKASSEN=Kasse*\r\n");

    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(log.count("Gast  Kasse nicht zugelassen (KASSEN=)\r\n"), 1);
    for (int k = 6; k <= 8; ++k) {
        const QByteArray line = "Kasse" + QByteArray::number(k) + "  Kasse nicht registriert, Err=300Bh\r\n";
        EXPECT_EQ(log.count(line), 1) << line.constData() << log.toStdString();
        EXPECT_FALSE(log.contains("Neue Kasse registriert: Kasse" + QByteArray::number(k))) << k;
    }
    EXPECT_EQ(log.count("Neue Kasse registriert: "), 5);

    // The status file follows the jobs at the end of their pass.
    e2e::ClientResult health;
    for (QDeadlineTimer deadline(15000); !deadline.hasExpired(); QThread::msleep(200)) {
        health = svc.Client({"health"});
        if (health.exitCode == 1) break;
    }
    EXPECT_EQ(health.exitCode, 1) << health.out.toStdString();
    EXPECT_TRUE(health.out.contains("client slots 5 of 5 used")) << health.out.toStdString();
    const QJsonObject status = QJsonDocument::fromJson(svc.Client({"health", "--json"}).out).object();
    EXPECT_EQ(status.value("clients").toInt(), 5);
    EXPECT_EQ(status.value("client_slots").toInt(), 5);
    EXPECT_EQ(status.value("client_slots_free").toInt(), 0);
    const e2e::ClientResult prom = svc.Client({"health", "--prometheus"});
    EXPECT_TRUE(prom.out.contains("\nvok_tse_client_slots_used_percent 100\n")) << prom.out.toStdString();
    svc.Terminate();
}
