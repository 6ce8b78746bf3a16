// A shop's archive of default exports, as a tax audit asks for it: two
// consecutive EXPORT jobs with a restart of the service between them hold
// every signature counter exactly once, and vok-tse-client verify finds
// nothing wrong with them.
#include "ServiceHarness.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <map>

namespace {

QString ExportOnce(const e2e::Service& svc)
{
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Kasse01"});
    EXPECT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    const QString name = exp.json().value("DATEI").toString();
    EXPECT_FALSE(name.isEmpty()) << exp.out.toStdString();
    return svc.ExportDir() + "/" + name;
}

void SignReceipts(const e2e::Service& svc, int count)
{
    for (int i = 0; i < count; ++i) {
        const e2e::ClientResult bon =
            svc.Client({"bon", "--kasid", "Kasse01", "--sigtext", QStringLiteral("Beleg^%1.00:Bar").arg(i + 1)});
        ASSERT_EQ(bon.exitCode, 0) << bon.out.toStdString() << bon.err.toStdString();
    }
}

}  // namespace

TEST(ExportSeries, ConsecutiveDefaultExportsHoldEveryCounterOnceAndVerify)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    SignReceipts(svc, 3);
    const QString first = ExportOnce(svc);
    // A restart logs in, sets the time and logs out: system logs between
    // the two ranges' transactions.
    ASSERT_EQ(svc.Terminate(), 0);
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    SignReceipts(svc, 2);
    const QString second = ExportOnce(svc);
    ASSERT_NE(first, second);

    std::map<uint32_t, int> counters;
    const QRegularExpression sig(QStringLiteral("_Sig-(\\d+)_"));
    for (const QString& archive : {first, second}) {
        const QStringList members = e2e::TarList(archive);
        ASSERT_FALSE(members.isEmpty()) << archive.toStdString();
        for (const QString& m : members) {
            const QRegularExpressionMatch match = sig.match(m);
            if (match.hasMatch()) ++counters[match.captured(1).toUInt()];
        }
    }
    ASSERT_FALSE(counters.empty());
    EXPECT_EQ(counters.begin()->first, 1u);
    EXPECT_EQ(counters.rbegin()->first, counters.size()) << "a signature counter is missing";
    for (const auto& [counter, times] : counters) EXPECT_EQ(times, 1) << "signature counter " << counter;

    QProcess verify;
    verify.start(QStringLiteral(VOK_TSE_CLIENT), {"verify", "--json", first, second});
    ASSERT_TRUE(verify.waitForFinished(60000));
    const QByteArray out = verify.readAllStandardOutput();
    EXPECT_EQ(verify.exitCode(), 0) << out.toStdString() << verify.readAllStandardError().toStdString();
    const QJsonObject report = QJsonDocument::fromJson(out).object();
    EXPECT_TRUE(report.value("ok").toBool()) << out.toStdString();
    EXPECT_EQ(report.value("archives").toInt(), 2);
    EXPECT_EQ(report.value("transactions").toInt(), 5);
    EXPECT_EQ(report.value("lastSignatureCounter").toInt(), static_cast<int>(counters.size()));
    svc.Terminate();
}
