// Exactly once across crashes: three clients send receipts in bursts while
// the service is killed (SIGKILL) again and again and started anew. In the
// end every receipt is in exactly one finished transaction of the TSE, and
// the answer each client read names that transaction.
#include "ServiceHarness.h"

#include "softtse/DerReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

constexpr int kLanes = 3;
constexpr int kJobsPerLane = 100;
constexpr int kKills = 12;

struct Lane {
    QString name;
    int next = 0;  // receipts handed out so far
    std::unique_ptr<QProcess> client;
    QString sigtext;
};

QString SigText(int lane, int n)
{
    return QStringLiteral("Beleg-%1-%2^1.00_0.00_0.00_0.00_0.00^1.00:Bar").arg(lane).arg(n);
}

// Process data and transaction number of every finish message in dir.
QMap<QByteArray, QList<uint32_t>> FinishedReceipts(const QString& dir, QString* why)
{
    QMap<QByteArray, QList<uint32_t>> byData;
    QDirIterator it(dir, {"*_Finish_*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly)) {
            *why += "cannot read " + f.fileName() + "\n";
            continue;
        }
        const QByteArray bytes = f.readAll();
        const std::vector<uint8_t> der(bytes.begin(), bytes.end());
        QByteArray data;
        uint32_t taNr = 0;
        bool haveNr = false;
        for (const softtse_test::DerElement& e : softtse_test::derChildren(der)) {
            const std::vector<uint8_t> content = softtse_test::derContent(der, e);
            if (e.tag == 0x82) data = QByteArray(reinterpret_cast<const char*>(content.data()), qsizetype(content.size()));
            if (e.tag == 0x85) {
                for (uint8_t b : content) taNr = taNr << 8 | b;
                haveNr = true;
            }
        }
        if (!haveNr) *why += "no transaction number in " + f.fileName() + "\n";
        byData[data].append(taNr);
    }
    return byData;
}

TEST(ExactlyOnce, ReceiptsSignedOnceThoughTheServiceIsKilledInTheirMidst)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    std::vector<Lane> lanes(kLanes);
    for (int i = 0; i < kLanes; ++i) lanes[i].name = QStringLiteral("Kasse%1").arg(i + 1, 2, 10, QChar('0'));
    QMap<QString, uint32_t> answeredNr;  // sigtext -> TRANR of its answer
    QStringList failures;

    auto pump = [&] {
        bool busy = false;
        for (int i = 0; i < kLanes; ++i) {
            Lane& l = lanes[i];
            if (l.client && l.client->state() != QProcess::NotRunning) l.client->waitForFinished(0);
            if (l.client && l.client->state() == QProcess::NotRunning) {
                const e2e::ClientResult r{l.client->exitCode(), l.client->readAllStandardOutput(),
                                          l.client->readAllStandardError()};
                const QJsonObject a = r.json();
                if (r.exitCode != 0 || a.value("CMD").toString() != "BON OK")
                    failures << l.sigtext + ": exit " + QString::number(r.exitCode) + " " + r.out + r.err;
                else
                    answeredNr[l.sigtext] = a.value("TRANR").toString().toUInt();
                l.client.reset();
            }
            if (!l.client && l.next < kJobsPerLane) {
                l.sigtext = SigText(i + 1, ++l.next);
                // Long enough to outlast every restart; the job waits for it.
                l.client = svc.StartClient({"--name", l.name, "--timeout", "120", "--json", "bon", "--kasid", l.name,
                                            "--bonid", QString::number(l.next), "--sigtext", l.sigtext});
            }
            busy = busy || l.client;
        }
        return busy;
    };

    // Each kill comes after a few answers since the last start, with the
    // clients' next jobs already in the directory, and at a random moment
    // of whatever job the service has in hand.
    QRandomGenerator rng(20261209);
    int kills = 0;
    auto nextKill = [&] { return answeredNr.size() + rng.bounded(5, 30); };
    qsizetype killAfter = nextKill();
    while (pump()) {
        if (kills < kKills && answeredNr.size() >= killAfter) {
            QThread::usleep(rng.bounded(0, 20000));
            svc.Kill();
            ++kills;
            QThread::msleep(rng.bounded(0, 200));
            ASSERT_TRUE(svc.Start(&why)) << "restart " << kills << ": " << why.toStdString();
            killAfter = nextKill();
        }
        QThread::msleep(1);
    }
    EXPECT_EQ(kills, kKills);
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
    ASSERT_EQ(answeredNr.size(), kLanes * kJobsPerLane);

    // Everything the TSE holds, from the first transaction on.
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Audit", "--von", "1"});
    ASSERT_EQ(exp.exitCode, 0) << exp.out.toStdString() << exp.err.toStdString();
    const QString tar = svc.ExportDir() + "/" + exp.json().value("DATEI").toString();
    QTemporaryDir unpacked;
    ASSERT_TRUE(e2e::TarExtract(tar, unpacked.path())) << tar.toStdString();
    const QMap<QByteArray, QList<uint32_t>> finished = FinishedReceipts(unpacked.path(), &why);
    EXPECT_TRUE(why.isEmpty()) << why.toStdString();

    int receipts = 0;
    for (auto it = answeredNr.cbegin(); it != answeredNr.cend(); ++it) {
        const QList<uint32_t> nrs = finished.value(it.key().toLatin1());
        QStringList shown;
        for (uint32_t n : nrs) shown << QString::number(n);
        EXPECT_EQ(nrs.size(), 1) << it.key().toStdString() << " is in the finished transactions "
                                 << shown.join(", ").toStdString() << ", answered as " << it.value();
        if (nrs.size() == 1) {
            EXPECT_EQ(nrs.first(), it.value()) << it.key().toStdString();
            ++receipts;
        }
    }
    EXPECT_EQ(receipts, kLanes * kJobsPerLane);
    // Nothing else carries a receipt's data (a receipt signed under another name).
    for (auto it = finished.cbegin(); it != finished.cend(); ++it) {
        if (it.key().startsWith("Beleg-")) {
            EXPECT_TRUE(answeredNr.contains(QString::fromLatin1(it.key()))) << it.key().toStdString();
        }
    }

    const QByteArray log = svc.ReadLog();
    RecordProperty("answered_from_journal", int(log.count("Antwort aus dem Journal")));
    std::cout << "kills: " << kills << ", answers from the journal: " << log.count("Antwort aus dem Journal")
              << std::endl;
}

}  // namespace
