// The service end to end: start-up of a new TSE, the four job commands, the
// QR text, exports checked against the TSE's public key, and a TSE that is
// taken away and put back.
#include "LogMessages.h"
#include "ServiceHarness.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

using e2e::ClientResult;
using e2e::Service;

namespace {

const QRegularExpression kLogTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.000Z$"));

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

// The service finishes a job after its answer is complete (deletes the job
// file, saves the configuration), so some effects follow the answer closely.
bool Eventually(const std::function<bool()>& pred, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QThread::msleep(5);
    }
    return true;
}

QString Str(const QJsonObject& o, const char* key) { return o.value(QLatin1String(key)).toString(); }

#define START_SERVICE(svc)                                      \
    Service svc;                                                \
    {                                                           \
        QString why;                                            \
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();      \
    }

}  // namespace

TEST(ServiceEndToEnd, NewTseSignsReceiptsAndTexts)
{
    START_SERVICE(svc);
    EXPECT_TRUE(svc.ReadLog().contains("Neue TSE erkannt - Initialisierung gestartet"));

    ClientResult st = svc.Client({"--json", "status", "--kasid", "Kasse01"});
    ASSERT_EQ(st.exitCode, 0) << st.err.toStdString();
    QJsonObject s = st.json();
    EXPECT_EQ(Str(s, "CMD"), "STATUS OK");
    EXPECT_EQ(Str(s, "TSE"), "ONLINE");
    EXPECT_EQ(Str(s, "KASSE"), "UNBEKANNT");
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{64}$").match(Str(s, "SN")).hasMatch()) << Str(s, "SN").toStdString();
    EXPECT_EQ(QByteArray::fromBase64(Str(s, "PUBKEY").toLatin1()).size(), 97);
    EXPECT_EQ(Str(s, "TIFO"), "unixTime");
    EXPECT_EQ(Str(s, "HASHALGO"), "ecdsa-plain-SHA384");
    EXPECT_TRUE(Str(s, "ZERT1").endsWith("_X509.cer")) << Str(s, "ZERT1").toStdString();

    // A receipt: the answer's lines in their order, and the raw file kept.
    ClientResult bon = svc.Client({"--keep", "--name", "K1", "bon", "--kasid", "Kasse01", "--bonid", "4711",
                                   "--sigtext", "Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar"});
    ASSERT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    EXPECT_TRUE(bon.err.isEmpty());
    const QList<QByteArray> lines = bon.out.split('\n');
    ASSERT_EQ(lines.size(), 10) << bon.out.toStdString();  // nine lines and the final line end
    EXPECT_EQ(lines[0], "CMD=BON OK");
    EXPECT_EQ(lines[1], "KASID=Kasse01");
    EXPECT_EQ(lines[2], "BONID=4711");
    EXPECT_EQ(lines[3], "SIGTEXT=Beleg^0.00_2.55_0.00_0.00_0.00^2.55:Bar");
    ASSERT_TRUE(lines[4].startsWith("START=") && lines[5].startsWith("ENDE="));
    EXPECT_TRUE(kLogTime.match(QString::fromLatin1(lines[4].mid(6))).hasMatch()) << lines[4].toStdString();
    EXPECT_TRUE(kLogTime.match(QString::fromLatin1(lines[5].mid(5))).hasMatch()) << lines[5].toStdString();
    ASSERT_TRUE(lines[6].startsWith("TRANR=") && lines[7].startsWith("SIGNR=") && lines[8].startsWith("SIG="));
    const uint bonTa = lines[6].mid(6).toUInt();
    const uint bonSig = lines[7].mid(6).toUInt();
    EXPECT_GE(bonTa, 1u);
    EXPECT_GT(bonSig, 0u);
    EXPECT_EQ(QByteArray::fromBase64(lines[8].mid(4)).size(), 96);
    const QByteArray kept = ReadFile(svc.JobDir() + "/K1.SIG");
    EXPECT_TRUE(kept.startsWith("CMD=BON OK\r\nKASID=Kasse01\r\n"));
    EXPECT_TRUE(kept.endsWith("\r\n*EOF*\r\n"));
    EXPECT_TRUE(Eventually([&] { return !QFile::exists(svc.JobDir() + "/K1.TSE"); }));

    // Another operation: its own process type, the counters move on.
    ClientResult text = svc.Client({"--json", "text", "--kasid", "Kasse01", "--sigtext", "Kassenlade geoeffnet"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QJsonObject t = text.json();
    EXPECT_EQ(Str(t, "CMD"), "TEXT OK");
    EXPECT_FALSE(t.contains("BONID"));
    EXPECT_EQ(Str(t, "SIGTEXT"), "Kassenlade geoeffnet");
    EXPECT_EQ(Str(t, "TRANR").toUInt(), bonTa + 1);
    EXPECT_GT(Str(t, "SIGNR").toUInt(), bonSig);

    // Windows-1252 in the file, UTF-8 on the terminal.
    ClientResult ansi = svc.Client({"--keep", "--name", "K2", "--encoding", "cp1252", "text", "--kasid", "Kasse01",
                                    "--sigtext", QString::fromUtf8("Gr\xc3\xb6\xc3\x9f" "e 5 \xe2\x82\xac")});
    ASSERT_EQ(ansi.exitCode, 0) << ansi.err.toStdString();
    EXPECT_TRUE(ReadFile(svc.JobDir() + "/K2.SIG").contains("\r\nSIGTEXT=Gr\xf6\xdf" "e 5 \x80\r\n"));
    EXPECT_TRUE(ansi.out.contains("\nSIGTEXT=Gr\xc3\xb6\xc3\x9f" "e 5 \xe2\x82\xac\n"));

    // The client is registered now.
    st = svc.Client({"--json", "status", "--kasid", "kasse01"});
    EXPECT_EQ(Str(st.json(), "KASSE"), "BEKANNT");

    // A finish the TSE refuses: an ERR answer, complete all the same.
    WriteFile(svc.DriveDir() + "/.softtse/faults", "se_finishTransaction = 0x300E once\n");
    ClientResult refused = svc.Client({"--json", "bon", "--kasid", "Kasse01", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "vok-tse-client: CMD=BON ERR 300Eh\n");
    const QJsonObject r = refused.json();
    EXPECT_EQ(Str(r, "CMD"), "BON ERR 300Eh");
    EXPECT_EQ(Str(r, "ENDE"), "");
    EXPECT_EQ(Str(r, "SIGNR"), "0");
    EXPECT_EQ(Str(r, "SIG"), "");

    ClientResult again = svc.Client({"bon", "--kasid", "Kasse01", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
}

TEST(ServiceEndToEnd, QrTextAndExportsVerifyAgainstThePublicKey)
{
    START_SERVICE(svc);
    const QJsonObject status = svc.Client({"--json", "status", "--kasid", "Kasse02"}).json();
    const QByteArray publicKey = QByteArray::fromBase64(Str(status, "PUBKEY").toLatin1());
    const QByteArray algorithm = Str(status, "HASHALGO").toLatin1();
    ASSERT_FALSE(publicKey.isEmpty());

    ClientResult bon = svc.Client({"--json", "bon", "--qr", "--kasid", "Kasse02", "--bonid", "1",
                                   "--sigtext", "Beleg^0.00_12.50_0.00_0.00_0.00^12.50:Bar"});
    ASSERT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    const QJsonObject b = bon.json();
    const QStringList qr = Str(b, "QR").split(';');
    ASSERT_EQ(qr.size(), 12) << Str(b, "QR").toStdString();
    EXPECT_EQ(qr, (QStringList{"V0", "Kasse02", "Kassenbeleg-V1", "Beleg^0.00_12.50_0.00_0.00_0.00^12.50:Bar",
                               Str(b, "TRANR"), Str(b, "SIGNR"), Str(b, "START"), Str(b, "ENDE"),
                               "ecdsa-plain-SHA384", "unixTime", Str(b, "SIG"), Str(status, "PUBKEY")}));
    const QByteArray bonSignature = QByteArray::fromBase64(Str(b, "SIG").toLatin1());

    ClientResult text = svc.Client({"--json", "text", "--kasid", "Kasse02", "--sigtext", "Tagesabschluss"});
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    const QString counter = Str(text.json(), "TRANR");

    // Default export: everything up to the counter.
    ClientResult exp = svc.Client({"--json", "export", "--kasid", "Kasse02"});
    ASSERT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    QJsonObject e = exp.json();
    EXPECT_EQ(Str(e, "CMD"), "EXPORT OK");
    EXPECT_EQ(Str(e, "VONTA"), "1");
    EXPECT_EQ(Str(e, "BISTA"), counter);
    const QString tarName = "EXP_1-" + counter + ".TAR";
    EXPECT_EQ(Str(e, "DATEI"), tarName);
    const QString tar = svc.ExportDir() + "/" + tarName;
    const QStringList members = e2e::TarList(tar);
    ASSERT_FALSE(members.isEmpty()) << tar.toStdString();
    EXPECT_TRUE(members.filter(QRegularExpression("_Log-Tra_No-" + Str(b, "TRANR") + "_Finish_Client-Kasse02\\.log$")).size() == 1)
        << members.join('\n').toStdString();
    EXPECT_TRUE(Eventually([&] { return svc.ReadConfig().contains("\r\nEXP_TANR=" + counter.toLatin1() + "\r\n"); }))
        << svc.ReadConfig().toStdString();

    // Every log message in it verifies; one of them carries the receipt's signature.
    QTemporaryDir unpacked;
    ASSERT_TRUE(e2e::TarExtract(tar, unpacked.path()));
    int logs = 0;
    bool receiptFound = false;
    for (QDirIterator it(unpacked.path(), {"*.log"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        e2e::LogMessage m;
        QString why;
        ASSERT_TRUE(e2e::ParseLogMessage(ReadFile(path), m, &why)) << path.toStdString() << ": " << why.toStdString();
        EXPECT_TRUE(e2e::VerifyPlainEcdsa(publicKey, algorithm, m.signedPart, m.signature, &why))
            << path.toStdString() << ": " << why.toStdString();
        // A changed byte must not verify.
        QByteArray forged = m.signedPart;
        forged[forged.size() - 1] = char(forged[forged.size() - 1] ^ 1);
        EXPECT_FALSE(e2e::VerifyPlainEcdsa(publicKey, algorithm, forged, m.signature, nullptr));
        receiptFound = receiptFound || m.signature == bonSignature;
        ++logs;
    }
    EXPECT_GE(logs, 4);  // start and finish of both jobs at least
    EXPECT_TRUE(receiptFound);

    // Nothing new since: an empty range, no file.
    e = svc.Client({"--json", "export", "--kasid", "Kasse02"}).json();
    EXPECT_EQ(Str(e, "CMD"), "EXPORT OK");
    EXPECT_EQ(Str(e, "VONTA"), QString::number(counter.toUInt() + 1));
    EXPECT_EQ(Str(e, "BISTA"), counter);
    EXPECT_EQ(Str(e, "DATEI"), "");

    // An explicit range leaves the default marker alone.
    exp = svc.Client({"--json", "export", "--kasid", "Kasse02", "--von", "1", "--bis", "1"});
    ASSERT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    EXPECT_EQ(Str(exp.json(), "DATEI"), "EXP_1-1.TAR");
    const QStringList first = e2e::TarList(svc.ExportDir() + "/EXP_1-1.TAR");
    EXPECT_EQ(first.filter(QRegularExpression("_Log-Tra_No-1_(Start|Finish)_")).size(), 2) << first.join('\n').toStdString();
    EXPECT_TRUE(first.filter(QRegularExpression("_Log-Tra_No-" + counter + "_")).isEmpty() || counter == "1");
    EXPECT_TRUE(svc.ReadConfig().contains("\r\nEXP_TANR=" + counter.toLatin1() + "\r\n"));
}

TEST(ServiceEndToEnd, TseTakenAwayAndPutBack)
{
    START_SERVICE(svc);
    ASSERT_EQ(svc.Client({"bon", "--kasid", "Kasse03", "--sigtext", "Beleg^1.00:Bar"}).exitCode, 0);

    const QString away = svc.DriveDir() + "-away";
    ASSERT_TRUE(QDir().rename(svc.DriveDir(), away));
    ClientResult st = svc.Client({"status", "--kasid", "Kasse03"});
    EXPECT_EQ(st.exitCode, 1);
    EXPECT_TRUE(st.err.startsWith("vok-tse-client: TSE=OFFLINE ERR=")) << st.err.toStdString();
    EXPECT_TRUE(st.out.startsWith("CMD=STATUS OK\nTSE=OFFLINE ERR=")) << st.out.toStdString();
    ClientResult bon = svc.Client({"bon", "--kasid", "Kasse03", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(bon.exitCode, 1);
    EXPECT_TRUE(bon.out.startsWith("CMD=BON ERR ")) << bon.out.toStdString();
    EXPECT_TRUE(bon.out.endsWith("\nSIG=\n")) << bon.out.toStdString();

    ASSERT_TRUE(QDir().rename(away, svc.DriveDir()));
    // An export job opens the TSE again at once (an explicit range keeps the
    // default marker); without it the service would on its own, a moment later.
    svc.Client({"export", "--kasid", "Kasse03", "--von", "1", "--bis", "1"});
    ClientResult back = svc.Client({"--json", "bon", "--kasid", "Kasse03", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(back.exitCode, 0) << back.err.toStdString() << back.out.toStdString();
    EXPECT_EQ(Str(svc.Client({"--json", "status", "--kasid", "Kasse03"}).json(), "TSE"), "ONLINE");
}
