// A transaction the TSE still held open at a default export (its finish
// refused) and finished later, by the unattended start: the shop's series of
// default exports still holds its finish, and verify finds every signature
// counter and nothing wrong.
#include "ServiceHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <set>

namespace {

e2e::ClientResult Bon(const e2e::Service& svc, int n)
{
    return svc.Client({"bon", "--kasid", "Kasse01", "--bonid", QString::number(n), "--sigtext",
                       QStringLiteral("Beleg^%1.00:Bar").arg(n)});
}

QJsonObject ExportOnce(const e2e::Service& svc)
{
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Kasse01"});
    EXPECT_EQ(exp.exitCode, 0) << exp.out.toStdString() << exp.err.toStdString();
    return exp.json();
}

// The marker is stored after the answer is out.
bool MarkerBecomes(const e2e::Service& svc, const QByteArray& value)
{
    for (QDeadlineTimer deadline(10000); !deadline.hasExpired(); QThread::msleep(20))
        if (svc.ReadConfig().contains("\r\nEXP_TANR=" + value + "\r\n")) return true;
    return false;
}

void WriteFaults(const e2e::Service& svc, const QByteArray& lines)
{
    QDir().mkpath(svc.DriveDir() + "/.softtse");
    QFile f(svc.DriveDir() + "/.softtse/faults");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(lines);
}

}  // namespace

TEST(ExportLateFinish, TwoDefaultExportsAroundALateFinishHoldEveryCounterAndVerify)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_EQ(Bon(svc, 1).exitCode, 0);
    ASSERT_EQ(Bon(svc, 2).exitCode, 0);
    WriteFaults(svc, "se_finishTransaction = 0x3009 once\n");
    const e2e::ClientResult refused = Bon(svc, 3);
    ASSERT_EQ(refused.exitCode, 1) << refused.out.toStdString();
    ASSERT_EQ(Bon(svc, 4).exitCode, 0);

    // TA 3 is open at the export: the answer still names the whole range.
    const QJsonObject first = ExportOnce(svc);
    EXPECT_EQ(first.value("VONTA").toString(), "1");
    EXPECT_EQ(first.value("BISTA").toString(), "4");
    EXPECT_TRUE(MarkerBecomes(svc, "2")) << svc.ReadConfig().toStdString();

    // The unattended start finishes it, with its late signature.
    ASSERT_EQ(svc.Terminate(), 0);
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_EQ(Bon(svc, 5).exitCode, 0);
    const QJsonObject second = ExportOnce(svc);
    EXPECT_EQ(second.value("VONTA").toString(), "3");
    EXPECT_TRUE(MarkerBecomes(svc, second.value("BISTA").toString().toLatin1())) << svc.ReadConfig().toStdString();

    const QStringList archives = {svc.ExportDir() + "/" + first.value("DATEI").toString(),
                                  svc.ExportDir() + "/" + second.value("DATEI").toString()};
    std::set<uint32_t> counters;
    bool lateFinish = false;
    const QRegularExpression sig(QStringLiteral("_Sig-(\\d+)_"));
    for (const QString& archive : archives) {
        const QStringList members = e2e::TarList(archive);
        ASSERT_FALSE(members.isEmpty()) << archive.toStdString();
        for (const QString& m : members) {
            const QRegularExpressionMatch match = sig.match(m);
            if (match.hasMatch()) counters.insert(match.captured(1).toUInt());
            if (archive == archives[1] && m.contains("_Log-Tra_No-3_Finish_")) lateFinish = true;
        }
    }
    EXPECT_TRUE(lateFinish) << "the late finish is in no archive";
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ(*counters.begin(), 1u);
    EXPECT_EQ(*counters.rbegin(), counters.size()) << "a signature counter is missing";

    // A log message both archives hold counts once.
    QProcess verify;
    verify.start(QStringLiteral(VOK_TSE_CLIENT), QStringList{"verify", "--json"} + archives);
    ASSERT_TRUE(verify.waitForFinished(60000));
    const QByteArray out = verify.readAllStandardOutput();
    EXPECT_EQ(verify.exitCode(), 0) << out.toStdString() << verify.readAllStandardError().toStdString();
    const QJsonObject report = QJsonDocument::fromJson(out).object();
    EXPECT_TRUE(report.value("ok").toBool()) << out.toStdString();
    EXPECT_EQ(report.value("lastSignatureCounter").toInt(), static_cast<int>(*counters.rbegin()));
    svc.Terminate();
}
