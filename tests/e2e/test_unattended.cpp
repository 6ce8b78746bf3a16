// --unattended: every dialog takes its default answer and is written to the
// program log with its text and that answer, so the service never waits for
// an operator who is not there.
#include "ServiceHarness.h"

#include <QFile>
#include <QJsonArray>
#include <gtest/gtest.h>

TEST(ServiceUnattended, DialogsTakeTheirDefaultAndAreLogged)
{
    e2e::Service svc;
    // A TSE of a certification that has lost its validity: the start-up warns
    // in an information box, which nobody would press.
    QFile settings(svc.DriveDir() + "/softtse.ini");
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("certificationId=BSI-K-TR-0362-2020\n");
    settings.close();

    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QByteArray log = svc.ReadLog();  // Windows-1252
    EXPECT_TRUE(log.contains("  Dialog (unbeaufsichtigt): ACHTUNG! Das Zertifikat der TSE ist ung\xfcltig. "))
        << log.toStdString();
    EXPECT_TRUE(log.contains("schnellstm\xf6glich die TSE !!! -> OK\r\n")) << log.toStdString();

    // The service goes on and tells the clients.
    const e2e::ClientResult st = svc.Client({"--json", "status", "--kasid", "Kasse05"});
    EXPECT_EQ(st.exitCode, 0) << st.err.toStdString();
    const QJsonArray notices = st.json().value("MITTEILUNGEN").toArray();
    ASSERT_FALSE(notices.isEmpty()) << st.out.toStdString();
    EXPECT_EQ(notices.first().toString(), QString::fromUtf8("ACHTUNG! Das Zertifikat der TSE ist ung\xc3\xbcltig."));
}
