// The TSE's reconnection backoff and the status file, with a fake clock:
// attempts while the TSE is lost come no more often than the backoff
// allows, and the status file is rewritten on every change and otherwise
// once a minute, whole for every reader.
#include "jobs/HealthStatus.h"
#include "core/TseConnection.h"
#include "platform/Files.h"
#include "tse/TseLib_C_Dekl.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr double kSecond = 1.0 / 86400.0;

struct FakeClock {
    double now = 46000.5;
    void Advance(double seconds) { now += seconds * kSecond; }
    std::function<plat::TDateTime()> fn() { return [this] { return now; }; }
};

TEST(TseConnection, OnlyUnreachabilityCodesMakeTheTseLost)
{
    FakeClock clock;
    TTseConnection conn(clock.fn());
    // A refusal of the TSE is no loss of it.
    EXPECT_FALSE(conn.NoteFailure(ErrorTimeNotSet));
    EXPECT_FALSE(conn.NoteFailure(ErrorStorageFailure));  // log memory full answers so
    EXPECT_FALSE(conn.Lost());
    for (int32_t code : {ErrorSECommunicationFailed, ErrorTSETimeout, ErrorTransport, ErrorNoStartup}) {
        TTseConnection c(clock.fn());
        EXPECT_TRUE(c.NoteFailure(code)) << code;
        EXPECT_TRUE(c.Lost());
        EXPECT_EQ(c.LastError(), code);
    }
    // The loss is reported once, however many calls fail after it.
    EXPECT_TRUE(conn.NoteFailure(ErrorSECommunicationFailed));
    EXPECT_FALSE(conn.NoteFailure(ErrorTSETimeout));
    EXPECT_EQ(conn.LastError(), ErrorTSETimeout);
    EXPECT_DOUBLE_EQ(conn.LostSince(), clock.now);
}

TEST(TseConnection, IdleAttemptsDoubleTheirPauseUpToThirtySeconds)
{
    FakeClock clock;
    TTseConnection conn(clock.fn());
    EXPECT_FALSE(conn.AttemptDue(false));  // online: nothing to do
    conn.NoteFailure(ErrorSECommunicationFailed);

    // Ticks of a quarter second; the moments at which an attempt is due.
    std::vector<int> attemptsAt;  // in quarter seconds since the loss
    for (int tick = 1; tick <= 4 * 130; ++tick) {
        clock.Advance(0.25);
        if (conn.AttemptDue(false)) {
            attemptsAt.push_back(tick);
            conn.AttemptFailed(ErrorSECommunicationFailed);
        }
    }
    const std::vector<int> expected = {4, 12, 28, 60, 124, 244, 364, 484};  // 1, 2, 4, 8, 16, 30, 30, 30 s apart
    EXPECT_EQ(attemptsAt, expected);
    EXPECT_DOUBLE_EQ(conn.Pause(), TTseConnection::kLongestPause);
}

TEST(TseConnection, AJobMayTryAfterTheShortestPauseAndSuccessStartsAfresh)
{
    FakeClock clock;
    TTseConnection conn(clock.fn());
    conn.NoteFailure(ErrorSECommunicationFailed);
    for (int i = 0; i < 6; ++i) {
        clock.Advance(40);
        conn.AttemptFailed(ErrorSECommunicationFailed);
    }
    clock.Advance(0.5);
    EXPECT_FALSE(conn.AttemptDue(true));   // not twice within a second, even for jobs
    clock.Advance(0.6);
    EXPECT_TRUE(conn.AttemptDue(true));    // a receipt does not wait 30 s
    EXPECT_FALSE(conn.AttemptDue(false));

    conn.Reconnected();
    EXPECT_FALSE(conn.Lost());
    EXPECT_EQ(conn.LastError(), 0);
    clock.Advance(100);
    EXPECT_TRUE(conn.NoteFailure(ErrorSECommunicationFailed));  // a new loss is reported again
    clock.Advance(1);
    EXPECT_TRUE(conn.AttemptDue(false));   // with the first pause again
}

TEST(TseConnection, AClockSetBackDoesNotHoldTheAttemptsOff)
{
    FakeClock clock;
    TTseConnection conn(clock.fn());
    conn.NoteFailure(ErrorSECommunicationFailed);
    clock.Advance(-3600);
    EXPECT_TRUE(conn.AttemptDue(false));
}

THealthInputs SampleInputs()
{
    THealthInputs in;
    in.tseOnline = true;
    in.serial = QStringLiteral("0A1B");
    in.certificateExpires = plat::EncodeDateTime(2031, 5, 17, 12, 0, 0);
    in.certificateDaysLeft = 1500;
    in.transactionCounter = 12;
    in.signatureCounter = 40;
    in.openTransactions = 1;
    in.clients = 2;
    in.clientSlots = 100;
    in.logMemoryFreePercent = 99;
    in.diskFreeBytes = 123456789;
    in.pid = 4711;
    in.host = QStringLiteral("kasse-pc");
    in.version = QStringLiteral("2.1");
    return in;
}

QJsonObject ReadJson(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

TEST(HealthStatus, TheFileHoldsEveryFieldInItsForm)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeClock clock;
    THealthWriter writer(clock.fn());
    THealthInputs in = SampleInputs();
    in.tseOnline = false;
    in.tseError = QStringLiteral("1004h");
    const QString path = dir.filePath(kHealthFileName);
    ASSERT_EQ(writer.Update(path, in), 0);

    const QJsonObject o = ReadJson(path);
    EXPECT_EQ(o.value("tse_online"), QJsonValue(false));
    EXPECT_EQ(o.value("tse_error").toString(), "1004h");
    EXPECT_EQ(o.value("serial").toString(), "0A1B");
    EXPECT_EQ(o.value("certificate_expires").toString(), "2031-05-17");
    EXPECT_EQ(o.value("certificate_days_left").toInteger(), 1500);
    EXPECT_EQ(o.value("transaction_counter").toInteger(), 12);
    EXPECT_EQ(o.value("signature_counter").toInteger(), 40);
    EXPECT_EQ(o.value("open_transactions").toInteger(), 1);
    EXPECT_EQ(o.value("clients").toInteger(), 2);
    EXPECT_EQ(o.value("client_slots").toInteger(), 100);
    EXPECT_EQ(o.value("client_slots_free").toInteger(), 98);
    EXPECT_EQ(o.value("log_memory_free_percent").toInteger(), 99);
    EXPECT_EQ(o.value("jobs_waiting").toInteger(), 0);
    EXPECT_TRUE(o.value("last_job").isNull());
    EXPECT_EQ(o.value("disk_free_bytes").toInteger(), 123456789);
    EXPECT_EQ(o.value("pid").toInteger(), 4711);
    EXPECT_EQ(o.value("host").toString(), "kasse-pc");
    EXPECT_EQ(o.value("version").toString(), "2.1");
    // ISO 8601 with the offset: the moment is the fake clock's.
    const QDateTime updated = QDateTime::fromString(o.value("updated").toString(), Qt::ISODate);
    ASSERT_TRUE(updated.isValid()) << o.value("updated").toString().toStdString();
    EXPECT_TRUE(o.value("updated").toString().startsWith("2025-12-09T12:00:00")) << o.value("updated").toString().toStdString();
    // Nothing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{kHealthFileName});
}

TEST(HealthStatus, ClientSlotsUnknownAreNullNeverNoneFree)
{
    THealthInputs in = SampleInputs();
    in.clientSlots = 0;  // the TSE did not answer the query
    QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(HealthJson(in, 46000.5))).object();
    EXPECT_TRUE(o.value("client_slots").isNull());
    EXPECT_TRUE(o.value("client_slots_free").isNull());
    in.clientSlots = 1;  // more registered than slots: none free, not a wrapped number
    o = QJsonDocument::fromJson(QByteArray::fromStdString(HealthJson(in, 46000.5))).object();
    EXPECT_EQ(o.value("client_slots_free").toInteger(), 0);
}

TEST(HealthStatus, WrittenOnAChangeAtMostOnceASecondAndOtherwiseOnceAMinute)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeClock clock;
    THealthWriter writer(clock.fn());
    THealthInputs in = SampleInputs();
    const QString path = dir.filePath(kHealthFileName);
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 1);

    // Four passes a second with nothing new: no write for 59 s, the refresh
    // after a minute, then none again until the next minute.
    for (int tick = 0; tick < 4 * 59; ++tick) {
        clock.Advance(0.25);
        ASSERT_EQ(writer.Update(path, in), 0);
    }
    EXPECT_EQ(writer.writes(), 1);
    clock.Advance(1.1);
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 2);
    const QString refreshed = ReadJson(path).value("updated").toString();
    clock.Advance(30);
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 2);
    EXPECT_EQ(ReadJson(path).value("updated").toString(), refreshed);

    // A change goes out at once.
    clock.Advance(0.25);
    in.jobsWaiting = 3;
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 3);
    EXPECT_EQ(ReadJson(path).value("jobs_waiting").toInteger(), 3);

    // During a burst every job changes the counters: the next change waits
    // until the last write is a second old, and its latest values go out then.
    for (int job = 1; job <= 3; ++job) {
        clock.Advance(0.25);
        in.signatureCounter = 40 + job;
        ASSERT_EQ(writer.Update(path, in), 0);
    }
    EXPECT_EQ(writer.writes(), 3);
    EXPECT_EQ(ReadJson(path).value("signature_counter").toInteger(), 40);
    clock.Advance(0.3);
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 4);
    EXPECT_EQ(ReadJson(path).value("signature_counter").toInteger(), 43);

    // A clock set back does not hold the refresh off for the time it jumped.
    clock.Advance(-3600);
    ASSERT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(writer.writes(), 5);
}

TEST(HealthStatus, AFailedWriteLeavesTheOldFileAndIsTriedAgain)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FakeClock clock;
    THealthWriter writer(clock.fn());
    THealthInputs in = SampleInputs();
    const QString path = dir.filePath(kHealthFileName);
    ASSERT_EQ(writer.Update(path, in), 0);

    // A directory in the way of the temporary file: the write fails, the
    // file keeps its last content.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QString(kHealthFileName) + ".tmp"));
    clock.Advance(1.5);
    in.signatureCounter = 41;
    EXPECT_NE(writer.Update(path, in), 0);
    EXPECT_EQ(ReadJson(path).value("signature_counter").toInteger(), 40);

    ASSERT_TRUE(QDir(dir.path()).rmdir(QString(kHealthFileName) + ".tmp"));
    clock.Advance(0.25);
    EXPECT_EQ(writer.Update(path, in), 0);
    EXPECT_EQ(ReadJson(path).value("signature_counter").toInteger(), 41);
}

TEST(HealthStatus, TheTsesDateTextIsReadAsADateOfThisCentury)
{
    const auto t = ParseTseDate("17.05.31 12:00:00");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(IsoDate(*t), "2031-05-17");
    EXPECT_FALSE(ParseTseDate("").has_value());
    EXPECT_FALSE(ParseTseDate("31.02.31 00:00:00").has_value());
}

}  // namespace
