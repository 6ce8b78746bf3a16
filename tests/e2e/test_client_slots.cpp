// A TSE with five client slots and eight registers: the three that find no
// slot are answered with the TSE's error, logged once each, and health says
// "degraded" until slots are freed.
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

    const QByteArray log = svc.ReadLog();
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
