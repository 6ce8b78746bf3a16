// A kill at each durable step of one receipt: the real program is killed
// (SIGKILL, by its own test switch) right after the TSE's start, each
// journal record, the TSE's finish, the answer's flush and the job's
// deletion, and started again. Each time the receipt is in exactly one
// finished transaction, its answer carries that finish's signature, which
// the TSE's key verifies over the receipt's data, and the same receipt
// written again under the same name afterwards is a transaction of its own.
#include "LogMessages.h"
#include "ServiceHarness.h"

#include "softtse/DerReader.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using Finish = e2e::FinishMessage;

e2e::ClientResult Finished(QProcess& p)
{
    p.waitForFinished(120000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

TEST(CrashPoints, AKillAtEveryDurableStepSignsEachReceiptOnceAndAnswersItWithItsOwnSignature)
{
    const QStringList steps = {"tse-start",    "journal-start", "tse-finish", "journal-finish",
                               "answer-flush", "job-delete",    "journal-done"};
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const e2e::ClientResult status = svc.Client({"--json", "status", "--kasid", "Kasse01"});
    const QByteArray publicKey = QByteArray::fromBase64(status.json().value("PUBKEY").toString().toLatin1());
    const QByteArray algorithm = status.json().value("HASHALGO").toString().toLatin1();
    ASSERT_FALSE(publicKey.isEmpty()) << status.out.toStdString();
    ASSERT_TRUE(svc.Terminate() == 0);

    struct Answered {
        QString sigtext;
        uint32_t first = 0, second = 0;
        QByteArray firstSig;
    };
    std::vector<Answered> answered;
    for (const QString& step : steps) {
        SCOPED_TRACE(step.toStdString());
        Answered a;
        a.sigtext = "Schritt " + step + "^1.00_0.00_0.00_0.00_0.00^1.00:Bar";
        const QStringList job = {"--name", "Kasse01", "--timeout", "90", "--json", "bon", "--kasid", "Kasse01",
                                 "--bonid", "7", "--sigtext", a.sigtext};

        svc.SetEnv("VOK_TSE_CRASH_AFTER", step);
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
        std::unique_ptr<QProcess> first = svc.StartClient(job);
        ASSERT_TRUE(svc.WaitForEnd(30000)) << "the service did not die after " << step.toStdString();

        // Past the answer's flush the client has its answer while the
        // service is down; it writes the same receipt again at once, under
        // the same name, before the service is back.
        std::unique_ptr<QProcess> second;
        const bool answeredBeforeKill = step == "job-delete" || step == "journal-done";
        e2e::ClientResult r1;
        if (answeredBeforeKill) {
            r1 = Finished(*first);
            second = svc.StartClient(job);
            QDeadlineTimer written(10000);
            while (!QFile::exists(svc.JobDir() + "/Kasse01.TSE") && !written.hasExpired()) QThread::msleep(5);
            ASSERT_TRUE(QFile::exists(svc.JobDir() + "/Kasse01.TSE"));
        }
        svc.SetEnv("VOK_TSE_CRASH_AFTER", {});
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
        if (!answeredBeforeKill) {
            r1 = Finished(*first);
            second = svc.StartClient(job);
        }
        const e2e::ClientResult r2 = Finished(*second);
        ASSERT_EQ(r1.exitCode, 0) << r1.out.toStdString() << r1.err.toStdString();
        ASSERT_EQ(r2.exitCode, 0) << r2.out.toStdString() << r2.err.toStdString();
        EXPECT_EQ(r1.json().value("CMD").toString(), "BON OK");
        EXPECT_EQ(r2.json().value("CMD").toString(), "BON OK");
        a.first = r1.json().value("TRANR").toString().toUInt();
        a.second = r2.json().value("TRANR").toString().toUInt();
        a.firstSig = QByteArray::fromBase64(r1.json().value("SIG").toString().toLatin1());
        EXPECT_NE(a.first, a.second) << "the receipt written again got the first one's answer";
        answered.push_back(a);
        ASSERT_EQ(svc.Terminate(), 0);
    }

    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Audit", "--von", "1"});
    ASSERT_EQ(exp.exitCode, 0) << exp.out.toStdString() << exp.err.toStdString();
    QTemporaryDir unpacked;
    ASSERT_TRUE(e2e::TarExtract(svc.ExportDir() + "/" + exp.json().value("DATEI").toString(), unpacked.path()));
    const QMultiMap<QByteArray, Finish> finishes = e2e::FinishesIn(unpacked.path());

    for (const Answered& a : answered) {
        SCOPED_TRACE(a.sigtext.toStdString());
        const QList<Finish> mine = finishes.values(a.sigtext.toLatin1());
        ASSERT_EQ(mine.size(), 2) << "two jobs, two transactions";
        QSet<uint32_t> numbers;
        for (const Finish& f : mine) numbers.insert(f.taNr);
        EXPECT_EQ(numbers, (QSet<uint32_t>{a.first, a.second}));
        for (const Finish& f : mine) {
            if (f.taNr != a.first) continue;
            e2e::LogMessage m;
            ASSERT_TRUE(e2e::ParseLogMessage(f.der, m, &why)) << why.toStdString();
            EXPECT_EQ(m.signature, a.firstSig) << "the answer carries another message's signature";
            EXPECT_TRUE(e2e::VerifyPlainEcdsa(publicKey, algorithm, m.signedPart, m.signature, &why))
                << why.toStdString();
        }
    }
    // A kill before the journal knew the transaction leaves it to the
    // start's finishing by hand; such a finish never closes a transaction
    // that an answer names.
    QSet<uint32_t> named;
    for (const Answered& a : answered) named << a.first << a.second;
    for (auto it = finishes.cbegin(); it != finishes.cend(); ++it)
        if (it.key().startsWith("Manueller Abschluss")) {
            EXPECT_FALSE(named.contains(it.value().taNr)) << it.key().toStdString();
        }
}

}  // namespace
