#include "vok-tse-client/Health.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSysInfo>
#include <cerrno>
#include <set>
#include <signal.h>

namespace vokclient {

namespace {

const std::set<QByteArray> OptionsWithValue = {"--dir",   "--name",  "--timeout", "--encoding", "--kasid",
                                               "--bonid", "--sigtext", "--von",   "--bis"};

qint64 Int(const QJsonObject& o, const char* key, qint64 otherwise = 0)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? static_cast<qint64>(v.toDouble()) : otherwise;
}

bool ProcessAlive(qint64 pid)
{
    if (pid <= 0) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Age of the oldest job file in the directory, in seconds.
std::optional<qint64> OldestJob(const QString& dir, const QDateTime& now)
{
    std::optional<qint64> oldest;
    QDirIterator it(dir, {QStringLiteral("*.TSE"), QStringLiteral("*.tse")}, QDir::Files);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const qint64 age = info.lastModified().secsTo(now);
        if (!oldest || age > *oldest) oldest = age;
    }
    return oldest;
}

QByteArray Metric(const char* name, const char* help, const QByteArray& value)
{
    return QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + " gauge\n" + name + ' ' + value + '\n';
}

QByteArray Num(qint64 v)
{
    return QByteArray::number(v);
}

}  // namespace

std::optional<qint64> ClientSlotsUsedPercent(const QJsonObject& status)
{
    const qint64 total = Int(status, "client_slots");
    if (total <= 0) return std::nullopt;
    return Int(status, "clients") * 100 / total;
}

std::optional<qint64> IsoToUnixSeconds(const QJsonValue& value)
{
    if (!value.isString()) return std::nullopt;
    const QString text = value.toString();
    QDateTime t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid()) {
        const QDate d = QDate::fromString(text, Qt::ISODate);
        if (!d.isValid()) return std::nullopt;
        t = d.startOfDay();
    }
    return t.toSecsSinceEpoch();
}

HealthVerdict JudgeHealth(const HealthFacts& f)
{
    HealthVerdict v;
    if (!f.fileRead) {
        v.exitCode = HealthNotRunning;
        v.reasons << QStringLiteral("no status file");
        return v;
    }
    const QJsonObject& s = f.status;
    const std::optional<qint64> updated = IsoToUnixSeconds(s.value(QLatin1String("updated")));
    if (!updated) {
        v.exitCode = HealthNotRunning;
        v.reasons << QStringLiteral("status file without a valid update time");
        return v;
    }
    const qint64 age = f.now.toSecsSinceEpoch() - *updated;
    if (age > StaleAfterSeconds) {
        v.exitCode = HealthNotRunning;
        v.reasons << QStringLiteral("status file not updated for %1 s").arg(age);
        return v;
    }
    if (f.sameHost && !f.pidAlive) {
        v.exitCode = HealthNotRunning;
        v.reasons << QStringLiteral("service process %1 is gone").arg(Int(s, "pid"));
        return v;
    }

    if (!s.value(QLatin1String("tse_online")).toBool())
        v.reasons << "TSE offline (" + s.value(QLatin1String("tse_error")).toString() + ")";
    const QJsonValue days = s.value(QLatin1String("certificate_days_left"));
    if (days.isDouble() && static_cast<qint64>(days.toDouble()) <= CertificateWarnDays)
        v.reasons << QStringLiteral("certificate ends in %1 days").arg(static_cast<qint64>(days.toDouble()));
    const qint64 logFree = Int(s, "log_memory_free_percent", 100);
    if (logFree < LogMemoryWarnPercent) v.reasons << QStringLiteral("log memory %1 % free").arg(logFree);
    const qint64 diskFree = Int(s, "disk_free_bytes", DiskWarnBytes);
    if (diskFree < DiskWarnBytes) v.reasons << QStringLiteral("disk %1 bytes free").arg(diskFree);
    // New registers get no slot once they are gone; a shop should learn of
    // it before the next register is refused.
    if (const auto used = ClientSlotsUsedPercent(s); used && *used >= ClientSlotsWarnPercent)
        v.reasons << QStringLiteral("client slots %1 of %2 used").arg(Int(s, "clients")).arg(Int(s, "client_slots"));
    if (f.oldestJobSeconds && *f.oldestJobSeconds > JobWaitWarnSeconds)
        v.reasons << QStringLiteral("a job waits for %1 s").arg(*f.oldestJobSeconds);
    if (!v.reasons.isEmpty()) v.exitCode = HealthDegraded;
    return v;
}

QByteArray HealthSummary(const HealthFacts& f, const HealthVerdict& v)
{
    static const char* const States[] = {"healthy", "degraded", "not running"};
    QByteArray out = QByteArray("VOKTAR TSE: ") + States[v.exitCode];
    if (!v.reasons.isEmpty()) out += " - " + v.reasons.join(QStringLiteral("; ")).toUtf8();
    out += '\n';
    if (!f.fileRead) return out;
    const QJsonObject& s = f.status;
    out += "TSE " + s.value(QLatin1String("serial")).toString().toUtf8() +
           (s.value(QLatin1String("tse_online")).toBool() ? " online" : " offline") + ", certificate until " +
           s.value(QLatin1String("certificate_expires")).toString().toUtf8() + '\n';
    out += "transactions " + Num(Int(s, "transaction_counter")) + ", signatures " + Num(Int(s, "signature_counter")) +
           ", open " + Num(Int(s, "open_transactions")) + ", clients " + Num(Int(s, "clients")) +
           (s.value(QLatin1String("client_slots")).isDouble()
                ? " of " + Num(Int(s, "client_slots")) + " (" + Num(Int(s, "client_slots_free")) + " free)"
                : QByteArray()) +
           '\n';
    const QJsonValue last = s.value(QLatin1String("last_job"));
    out += "jobs waiting " + Num(Int(s, "jobs_waiting")) + ", last job " +
           (last.isString() ? last.toString().toUtf8() : QByteArray("none")) + ", updated " +
           s.value(QLatin1String("updated")).toString().toUtf8() + '\n';
    return out;
}

QByteArray HealthPrometheus(const HealthFacts& f, const HealthVerdict& v)
{
    const bool up = v.exitCode != HealthNotRunning;
    QByteArray out = Metric("vok_tse_up", "1 while the service runs and keeps its status file fresh.", up ? "1" : "0");
    out += Metric("vok_tse_health", "0 healthy, 1 degraded, 2 not running.", Num(v.exitCode));
    if (!up || !f.fileRead) return out;
    const QJsonObject& s = f.status;
    out += Metric("vok_tse_tse_online", "1 while the TSE can be reached.",
                  s.value(QLatin1String("tse_online")).toBool() ? "1" : "0");
    if (const auto t = IsoToUnixSeconds(s.value(QLatin1String("certificate_expires"))))
        out += Metric("vok_tse_certificate_expiry_timestamp_seconds", "End of the TSE certificate (Unix time).", Num(*t));
    out += Metric("vok_tse_open_transactions", "Transactions the TSE holds open.", Num(Int(s, "open_transactions")));
    out += Metric("vok_tse_transaction_counter", "The TSE's transaction counter.", Num(Int(s, "transaction_counter")));
    out += Metric("vok_tse_signature_counter", "The TSE's signature counter.", Num(Int(s, "signature_counter")));
    out += Metric("vok_tse_clients", "Clients registered at the TSE.", Num(Int(s, "clients")));
    if (const auto used = ClientSlotsUsedPercent(s)) {
        out += Metric("vok_tse_client_slots_free", "Client slots of the TSE still free for new registers.",
                      Num(Int(s, "client_slots_free")));
        out += Metric("vok_tse_client_slots_used_percent",
                      "Client slots of the TSE in use, in percent; 90 or more is degraded.", Num(*used));
    }
    out += Metric("vok_tse_log_memory_free_percent", "Free log memory of the TSE in percent.",
                  Num(Int(s, "log_memory_free_percent")));
    out += Metric("vok_tse_jobs_waiting", "Job files found by the service's last scan.", Num(Int(s, "jobs_waiting")));
    if (const auto t = IsoToUnixSeconds(s.value(QLatin1String("last_job"))))
        out += Metric("vok_tse_last_job_timestamp_seconds", "Time of the last answered job (Unix time).", Num(*t));
    out += Metric("vok_tse_disk_free_bytes", "Free bytes on the job directory's file system.",
                  Num(Int(s, "disk_free_bytes")));
    if (const auto t = IsoToUnixSeconds(s.value(QLatin1String("updated"))))
        out += Metric("vok_tse_status_updated_timestamp_seconds", "Last update of the status file (Unix time).",
                      Num(*t));
    return out;
}

bool IsHealthCommand(const std::vector<QByteArray>& args)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (OptionsWithValue.count(args[i])) {
            ++i;
            continue;
        }
        if (args[i].startsWith("--")) continue;
        return args[i] == "health";
    }
    return false;
}

RunResult RunHealth(const std::vector<QByteArray>& args)
{
    QString dir = QStringLiteral("TSE");
    bool json = false;
    bool prometheus = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& a = args[i];
        if (a == "health") continue;
        if (a == "--dir" && i + 1 < args.size()) {
            dir = QFile::decodeName(args[++i]);
        } else if (a == "--json") {
            json = true;
        } else if (a == "--prometheus") {
            prometheus = true;
        } else if (a == "--help") {
            return {0, "usage: vok-tse-client [--dir JOBDIR] health [--json | --prometheus]\n"
                       "Exit codes: 0 healthy, 1 degraded, 2 service not running.\n", {}};
        } else {
            return {64, {}, "health: unknown argument '" + QString::fromLocal8Bit(a) + "' (see health --help)"};
        }
    }
    if (json && prometheus) return {64, {}, QStringLiteral("health: --json or --prometheus, not both")};

    HealthFacts f;
    f.now = QDateTime::currentDateTime();
    QFile file(QDir(dir).filePath(QLatin1String(StatusFileName)));
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        f.fileRead = doc.isObject();
        f.status = doc.object();
    }
    if (f.fileRead) {
        f.sameHost = f.status.value(QLatin1String("host")).toString() == QSysInfo::machineHostName();
        if (f.sameHost) f.pidAlive = ProcessAlive(Int(f.status, "pid"));
    }
    f.oldestJobSeconds = OldestJob(dir, f.now);

    const HealthVerdict v = JudgeHealth(f);
    RunResult r;
    r.exitCode = v.exitCode;
    if (prometheus)
        r.out = HealthPrometheus(f, v);
    else if (json)
        r.out = f.fileRead ? bytes : QByteArray();
    else
        r.out = HealthSummary(f, v);
    if (json && !f.fileRead) r.error = v.reasons.join(QStringLiteral("; "));
    return r;
}

}  // namespace vokclient
