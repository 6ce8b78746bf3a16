#include "jobs/HealthStatus.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>

namespace {

QDateTime ToQDateTime(plat::TDateTime t)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    plat::DecodeDateTime(t, y, mo, d, h, mi, s, ms);
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
}

}  // namespace

QString IsoDateTime(plat::TDateTime t)
{
    const QDateTime local = ToQDateTime(t);
    // With the offset, so that a reader in another time zone or a
    // Prometheus timestamp gets the right moment.
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString IsoDate(plat::TDateTime t)
{
    return ToQDateTime(t).date().toString(Qt::ISODate);
}

std::optional<plat::TDateTime> ParseTseDate(const std::string& text)
{
    const QDateTime dt = QDateTime::fromString(QString::fromLatin1(text.c_str()), QStringLiteral("dd.MM.yy HH:mm:ss"));
    if (!dt.isValid()) return std::nullopt;
    // Two-digit years are of this century (Qt reads them as 19yy).
    QDate date = dt.date();
    if (date.year() < 2000) date = date.addYears(100);
    return plat::EncodeDateTime(date.year(), date.month(), date.day(), dt.time().hour(), dt.time().minute(),
                                dt.time().second());
}

std::string HealthJson(const THealthInputs& in, plat::TDateTime updated)
{
    QJsonObject o;
    o["tse_online"] = in.tseOnline;
    o["tse_error"] = in.tseError;
    o["serial"] = in.serial;
    if (in.certificateExpires) {
        o["certificate_expires"] = IsoDate(*in.certificateExpires);
        o["certificate_days_left"] = static_cast<qint64>(in.certificateDaysLeft);
    } else {
        o["certificate_expires"] = QJsonValue::Null;
        o["certificate_days_left"] = QJsonValue::Null;
    }
    o["transaction_counter"] = static_cast<qint64>(in.transactionCounter);
    o["signature_counter"] = static_cast<qint64>(in.signatureCounter);
    o["open_transactions"] = static_cast<qint64>(in.openTransactions);
    o["clients"] = static_cast<qint64>(in.clients);
    // Unknown slots are left out rather than reported as none free.
    if (in.clientSlots > 0) {
        o["client_slots"] = static_cast<qint64>(in.clientSlots);
        o["client_slots_free"] = in.clients < in.clientSlots ? static_cast<qint64>(in.clientSlots - in.clients) : 0;
    } else {
        o["client_slots"] = QJsonValue::Null;
        o["client_slots_free"] = QJsonValue::Null;
    }
    o["log_memory_free_percent"] = in.logMemoryFreePercent;
    o["jobs_waiting"] = in.jobsWaiting;
    o["last_job"] = in.lastJob ? QJsonValue(IsoDateTime(*in.lastJob)) : QJsonValue(QJsonValue::Null);
    o["disk_free_bytes"] = static_cast<qint64>(in.diskFreeBytes);
    o["pid"] = static_cast<qint64>(in.pid);
    o["host"] = in.host;
    o["version"] = in.version;
    o["updated"] = IsoDateTime(updated);
    return QJsonDocument(o).toJson(QJsonDocument::Indented).toStdString();
}

THealthWriter::THealthWriter(Clock now) : now_(std::move(now)) {}

int THealthWriter::Update(const plat::FsPath& file, const THealthInputs& in)
{
    const plat::TDateTime now = now_();
    const bool changed = !written_ || !(*written_ == in);
    // A clock set back must not stop the refresh.
    const bool clockBack = now < lastWrite_;
    const bool due = now - lastWrite_ >= kRefresh || clockBack;
    const bool changeDue = changed && (!written_ || lastFailed_ || now - lastWrite_ >= kMinGap || clockBack);
    if (!changeDue && !due) return 0;
    if (const int err = plat::ReplaceFileBytes(file, HealthJson(in, now))) {
        lastFailed_ = true;
        return err;
    }
    lastFailed_ = false;
    written_ = in;
    lastWrite_ = now;
    ++writes_;
    return 0;
}
