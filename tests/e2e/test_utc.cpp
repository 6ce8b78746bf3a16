// The TSE's clock under a zone with summer time: true UTC in the log
// messages, the answer and the QR text; TSE_ZEIT=LOKAL keeps the old clock
// that runs on local time labelled UTC.
#include "LogMessages.h"
#include "ServiceHarness.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

using e2e::ClientResult;
using e2e::Service;

namespace {

QString Str(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString(); }

QString AnswerTime(qint64 unixTime)
{
    return QDateTime::fromSecsSinceEpoch(unixTime, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'.000Z'"));
}

struct Receipt {
    QJsonObject answer;
    qint64 before = 0;      // true UTC just before the job
    qint64 after = 0;       // and after its answer
    qint64 startTime = -1;  // the log times of its start and finish, from an export
    qint64 finishTime = -1;
};

// Signs one receipt with its QR text under TZ=Europe/Berlin and reads its
// log times back from an export.
void SignAndExport(Service& svc, Receipt& r)
{
    svc.SetEnv(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    r.before = QDateTime::currentSecsSinceEpoch();
    const ClientResult bon =
        svc.Client({"--json", "bon", "--qr", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "Beleg^1.00:Bar"});
    r.after = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    r.answer = bon.json();

    const ClientResult exp = svc.Client({"--json", "export", "--kasid", "Kasse01"});
    ASSERT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    QTemporaryDir unpacked;
    ASSERT_TRUE(e2e::TarExtract(svc.ExportDir() + "/" + Str(exp.json(), "DATEI"), unpacked.path()));
    const QString ta = "_Log-Tra_No-" + Str(r.answer, "TRANR") + "_";
    for (QDirIterator it(unpacked.path(), {"*.log"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        if (!path.contains(ta)) continue;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        e2e::LogMessage m;
        ASSERT_TRUE(e2e::ParseLogMessage(f.readAll(), m, &why)) << why.toStdString();
        (path.contains("_Start_") ? r.startTime : r.finishTime) = m.logTime;
    }
    ASSERT_GE(r.startTime, 0);
    ASSERT_GE(r.finishTime, 0);
}

TEST(TseClock, ReceiptTimesAreTrueUtc)
{
    Service svc;
    Receipt r;
    SignAndExport(svc, r);
    EXPECT_GE(r.finishTime, r.before - 2);
    EXPECT_LE(r.finishTime, r.after + 2);
    EXPECT_EQ(Str(r.answer, "START"), AnswerTime(r.startTime));
    EXPECT_EQ(Str(r.answer, "ENDE"), AnswerTime(r.finishTime));
    const QStringList qr = Str(r.answer, "QR").split(';');
    ASSERT_EQ(qr.size(), 12);
    EXPECT_EQ(qr[6], Str(r.answer, "START"));
    EXPECT_EQ(qr[7], Str(r.answer, "ENDE"));
    EXPECT_EQ(qr[9], "unixTime");  // the software TSE writes its log time as an INTEGER
}

TEST(TseClock, LocalClockSettingKeepsTheOldTimes)
{
    Service svc;
    {
        QFile ini(svc.ProgramDir() + "/Vok_TSE.INI");
        ASSERT_TRUE(ini.open(QIODevice::Append));
        ini.write("TSE_ZEIT=LOKAL\r\n");
    }
    Receipt r;
    SignAndExport(svc, r);
    const int offset = QTimeZone("Europe/Berlin").offsetFromUtc(QDateTime::currentDateTimeUtc());
    ASSERT_GT(offset, 0);
    EXPECT_GE(r.finishTime, r.before + offset - 2);
    EXPECT_LE(r.finishTime, r.after + offset + 2);
    EXPECT_EQ(Str(r.answer, "ENDE"), AnswerTime(r.finishTime));
    EXPECT_TRUE(svc.ReadLog().contains("TSE-Uhr auf Ortszeit (TSE_ZEIT=LOKAL)"));
    // The service's own rewrite of the INI keeps the setting.
    EXPECT_TRUE(svc.ReadConfig().contains("TSE_ZEIT=LOKAL\r\n"));
}

}  // namespace
