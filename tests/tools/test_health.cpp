// The health rules of `vok-tse-client health`: not running (2) beats
// degraded (1) beats healthy (0); each degradation is named. The clock is
// the facts' `now`, never the machine's.
#include "vok-tse-client/Client.h"
#include "vok-tse-client/Health.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vokclient;

namespace {

const QDateTime kNow = QDateTime::fromString(QStringLiteral("2026-03-01T10:00:00+01:00"), Qt::ISODate);

HealthFacts Healthy()
{
    HealthFacts f;
    f.fileRead = true;
    f.now = kNow;
    f.sameHost = true;
    f.pidAlive = true;
    f.status = QJsonObject{
        {"tse_online", true},
        {"tse_error", ""},
        {"serial", "0A1B"},
        {"certificate_expires", "2030-01-31"},
        {"certificate_days_left", 1432},
        {"transaction_counter", 12},
        {"signature_counter", 40},
        {"open_transactions", 0},
        {"clients", 2},
        {"client_slots", 100},
        {"client_slots_free", 98},
        {"log_memory_free_percent", 80},
        {"jobs_waiting", 0},
        {"last_job", "2026-03-01T09:59:30+01:00"},
        {"disk_free_bytes", 5000000000.0},
        {"pid", 4711},
        {"host", "kasse-pc"},
        {"version", "2.1"},
        {"updated", "2026-03-01T09:59:55+01:00"},
    };
    return f;
}

TEST(HealthRules, AFreshFileOfARunningServiceIsHealthy)
{
    const HealthVerdict v = JudgeHealth(Healthy());
    EXPECT_EQ(v.exitCode, HealthOk) << v.reasons.join("; ").toStdString();
    EXPECT_TRUE(v.reasons.isEmpty());
}

TEST(HealthRules, NotRunningWithoutFileWhenStaleOrWhenItsProcessIsGone)
{
    HealthFacts none;
    none.now = kNow;
    EXPECT_EQ(JudgeHealth(none).exitCode, HealthNotRunning);

    HealthFacts stale = Healthy();
    // The service refreshes the file once a minute: three missed refreshes
    // mean it is gone, one or two late ones do not.
    stale.status["updated"] = "2026-03-01T09:56:59+01:00";  // 181 s
    EXPECT_EQ(JudgeHealth(stale).exitCode, HealthNotRunning);
    stale.status["updated"] = "2026-03-01T09:57:00+01:00";  // 180 s: still fresh
    EXPECT_EQ(JudgeHealth(stale).exitCode, HealthOk);
    stale.status["updated"] = "2026-03-01T09:58:30+01:00";  // 90 s, one refresh late
    EXPECT_EQ(JudgeHealth(stale).exitCode, HealthOk);
    // The same moment written in another offset.
    stale.status["updated"] = "2026-03-01T08:57:10Z";
    EXPECT_EQ(JudgeHealth(stale).exitCode, HealthOk);

    HealthFacts gone = Healthy();
    gone.pidAlive = false;
    EXPECT_EQ(JudgeHealth(gone).exitCode, HealthNotRunning);
    // On another computer the pid says nothing.
    gone.sameHost = false;
    EXPECT_EQ(JudgeHealth(gone).exitCode, HealthOk);

    // Not running wins over any degradation.
    HealthFacts both = Healthy();
    both.status["tse_online"] = false;
    both.pidAlive = false;
    EXPECT_EQ(JudgeHealth(both).exitCode, HealthNotRunning);
}

TEST(HealthRules, EachDegradationAtItsThreshold)
{
    struct Case {
        const char* what;
        std::function<void(HealthFacts&)> change;
        bool degraded;
    };
    const std::vector<Case> cases = {
        {"TSE offline", [](HealthFacts& f) { f.status["tse_online"] = false; }, true},
        {"certificate 30 days", [](HealthFacts& f) { f.status["certificate_days_left"] = 30; }, true},
        {"certificate 31 days", [](HealthFacts& f) { f.status["certificate_days_left"] = 31; }, false},
        {"certificate unknown", [](HealthFacts& f) { f.status["certificate_days_left"] = QJsonValue(); }, false},
        {"log memory 9 %", [](HealthFacts& f) { f.status["log_memory_free_percent"] = 9; }, true},
        {"log memory 10 %", [](HealthFacts& f) { f.status["log_memory_free_percent"] = 10; }, false},
        {"disk below 100 MB", [](HealthFacts& f) { f.status["disk_free_bytes"] = 99999999.0; }, true},
        {"disk 100 MB", [](HealthFacts& f) { f.status["disk_free_bytes"] = 100000000.0; }, false},
        {"job 61 s", [](HealthFacts& f) { f.oldestJobSeconds = 61; }, true},
        {"job 60 s", [](HealthFacts& f) { f.oldestJobSeconds = 60; }, false},
        {"client slots 90 %", [](HealthFacts& f) { f.status["clients"] = 90; }, true},
        {"client slots 89 %", [](HealthFacts& f) { f.status["clients"] = 89; }, false},
        {"client slots 9 of 10", [](HealthFacts& f) { f.status["clients"] = 9; f.status["client_slots"] = 10; }, true},
        {"client slots 4 of 5", [](HealthFacts& f) { f.status["clients"] = 4; f.status["client_slots"] = 5; }, false},
        // A service of before the slots were reported, or a TSE that does not tell.
        {"client slots unknown", [](HealthFacts& f) { f.status["client_slots"] = QJsonValue(); }, false},
    };
    for (const Case& c : cases) {
        HealthFacts f = Healthy();
        c.change(f);
        const HealthVerdict v = JudgeHealth(f);
        EXPECT_EQ(v.exitCode, c.degraded ? HealthDegraded : HealthOk) << c.what;
        EXPECT_EQ(v.reasons.size(), c.degraded ? 1 : 0) << c.what;
    }
}

TEST(HealthOutput, PrometheusTextCarriesTheMetrics)
{
    HealthFacts f = Healthy();
    f.status["tse_online"] = false;
    const QByteArray text = HealthPrometheus(f, JudgeHealth(f));
    EXPECT_TRUE(text.contains("\nvok_tse_up 1\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nvok_tse_health 1\n"));
    EXPECT_TRUE(text.contains("\nvok_tse_tse_online 0\n"));
    EXPECT_TRUE(text.contains("# TYPE vok_tse_open_transactions gauge\nvok_tse_open_transactions 0\n"));
    EXPECT_TRUE(text.contains("\nvok_tse_signature_counter 40\n"));
    EXPECT_TRUE(text.contains("\nvok_tse_jobs_waiting 0\n"));
    EXPECT_TRUE(text.contains("# TYPE vok_tse_client_slots_used_percent gauge\nvok_tse_client_slots_used_percent 2\n"));
    EXPECT_TRUE(text.contains("\nvok_tse_client_slots_free 98\n"));
    const qint64 lastJob = QDateTime::fromString("2026-03-01T09:59:30+01:00", Qt::ISODate).toSecsSinceEpoch();
    EXPECT_TRUE(text.contains("\nvok_tse_last_job_timestamp_seconds " + QByteArray::number(lastJob) + "\n"));
    const qint64 expiry = QDate(2030, 1, 31).startOfDay().toSecsSinceEpoch();
    EXPECT_TRUE(text.contains("\nvok_tse_certificate_expiry_timestamp_seconds " + QByteArray::number(expiry) + "\n"));
    for (const QByteArray& line : text.split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#')) {
            EXPECT_TRUE(line.startsWith("vok_tse_")) << line.toStdString();
        }
    }

    HealthFacts none;
    none.now = kNow;
    const QByteArray down = HealthPrometheus(none, JudgeHealth(none));
    EXPECT_TRUE(down.contains("\nvok_tse_up 0\n")) << down.toStdString();
    EXPECT_FALSE(down.contains("vok_tse_tse_online"));
}

TEST(HealthCommand, FoundAmongTheGeneralOptionsAndNotInAJobsValues)
{
    EXPECT_TRUE(IsHealthCommand({"health"}));
    EXPECT_TRUE(IsHealthCommand({"--dir", "/srv/TSE", "health", "--prometheus"}));
    EXPECT_TRUE(IsHealthCommand({"--json", "health"}));
    EXPECT_FALSE(IsHealthCommand({"--dir", "health", "status", "--kasid", "K1"}));
    EXPECT_FALSE(IsHealthCommand({"text", "--kasid", "K1", "--sigtext", "health"}));
}

TEST(HealthCommand, ReadsTheStatusFileOfTheJobDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::vector<QByteArray> args = {"--dir", QFile::encodeName(dir.path()), "health"};
    EXPECT_EQ(RunCommandLine(args).exitCode, HealthNotRunning);

    // A file this very process might have written a moment ago.
    QJsonObject status = Healthy().status;
    status["updated"] = QDateTime::currentDateTime().toOffsetFromUtc(0).toString(Qt::ISODate);
    status["host"] = "another-computer";
    QFile f(QDir(dir.path()).filePath(StatusFileName));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(status).toJson());
    f.close();
    const RunResult r = RunCommandLine(args);
    EXPECT_EQ(r.exitCode, HealthOk) << r.out.toStdString();
    EXPECT_TRUE(r.out.startsWith("VOKTAR TSE: healthy\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(", clients 2 of 100 (98 free)\n")) << r.out.toStdString();

    const RunResult json = RunCommandLine({"--dir", QFile::encodeName(dir.path()), "health", "--json"});
    EXPECT_EQ(QJsonDocument::fromJson(json.out).object().value("serial").toString(), "0A1B");
    EXPECT_EQ(RunCommandLine({"health", "--json", "--prometheus"}).exitCode, 64);
}

}  // namespace
