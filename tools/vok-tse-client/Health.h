// `vok-tse-client [--dir JOBDIR] health [--json | --prometheus]`: reads the
// status file the service keeps in its job directory and tells whether the
// service is healthy (exit 0), degraded (1) or not running (2).
#pragma once

#include "vok-tse-client/Client.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QStringList>
#include <optional>
#include <vector>

namespace vokclient {

inline constexpr const char* StatusFileName = "Vok_TSE.status.json";

enum HealthExit : int { HealthOk = 0, HealthDegraded = 1, HealthNotRunning = 2 };

// Thresholds of the health rules.
// The service refreshes its status file once a minute when nothing changes;
// three missed refreshes mean it no longer runs.
inline constexpr qint64 StaleAfterSeconds = 180;     // status file not refreshed
inline constexpr qint64 CertificateWarnDays = 30;
inline constexpr int LogMemoryWarnPercent = 10;
inline constexpr qint64 DiskWarnBytes = 100LL * 1000 * 1000;
inline constexpr qint64 JobWaitWarnSeconds = 60;
inline constexpr int ClientSlotsWarnPercent = 90;  // used, of the TSE's slots

// What the rules look at, gathered by the command (or a test).
struct HealthFacts {
    bool fileRead = false;           // the status file exists and is one JSON object
    QJsonObject status;
    QDateTime now;
    bool sameHost = false;           // the service wrote it on this computer
    bool pidAlive = true;            // its process still exists (only looked at on the same host)
    std::optional<qint64> oldestJobSeconds;  // age of the oldest job file waiting
};

struct HealthVerdict {
    int exitCode = HealthOk;
    QStringList reasons;  // why it is not healthy, one short line each
};

HealthVerdict JudgeHealth(const HealthFacts& facts);

// Outputs; `status` may be empty when the file could not be read.
QByteArray HealthSummary(const HealthFacts& facts, const HealthVerdict& verdict);
QByteArray HealthPrometheus(const HealthFacts& facts, const HealthVerdict& verdict);

// Percent of the TSE's client slots in use (rounded down); nothing when the
// status file does not tell how many slots the TSE has.
std::optional<qint64> ClientSlotsUsedPercent(const QJsonObject& status);

// An ISO 8601 time of the status file as Unix seconds; nothing when absent.
std::optional<qint64> IsoToUnixSeconds(const QJsonValue& value);

// The command line is a health call: its first word that is not an option
// or an option's value is "health".
bool IsHealthCommand(const std::vector<QByteArray>& args);
RunResult RunHealth(const std::vector<QByteArray>& args);

}  // namespace vokclient
