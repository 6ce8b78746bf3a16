#include "platform/DateTime.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTime>
#include <cmath>
#include <mutex>

namespace plat {

namespace {

constexpr qint64 kMsPerDay = 86400000;

// QDate's Julian day number of 1899-12-30, the day 0 of the date-time value.
qint64 DayZero()
{
    static const qint64 zero = QDate(1899, 12, 30).toJulianDay();
    return zero;
}

std::mutex& OverrideMutex()
{
    static std::mutex m;
    return m;
}

std::function<TDateTime()>& OverrideFunction()
{
    static std::function<TDateTime()> f;
    return f;
}

}  // namespace

void ReadTimeZoneOnce()
{
    if (qEnvironmentVariableIsEmpty("TZ") && QFile::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
}

TDateTime Now()
{
    std::function<TDateTime()> f;
    {
        std::lock_guard<std::mutex> lock(OverrideMutex());
        f = OverrideFunction();
    }
    if (f)
        return f();
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

int64_t UtcUnixNow()
{
    bool overridden;
    {
        std::lock_guard<std::mutex> lock(OverrideMutex());
        overridden = static_cast<bool>(OverrideFunction());
    }
    if (!overridden) return QDateTime::currentSecsSinceEpoch();
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(Now(), year, month, day, hour, minute, second, msec);
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime).toSecsSinceEpoch();
}

void SetNowOverride(std::function<TDateTime()> now)
{
    std::lock_guard<std::mutex> lock(OverrideMutex());
    OverrideFunction() = std::move(now);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec)
{
    const qint64 days = QDate(year, month, day).toJulianDay() - DayZero();
    const qint64 ms = ((static_cast<qint64>(hour) * 60 + minute) * 60 + second) * 1000 + msec;
    const double frac = static_cast<double>(ms) / kMsPerDay;
    // Before day 0 the fraction still counts forward from midnight while the
    // integral part is negative: -1.25 is 1899-12-29 06:00.
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute, int& second, int& msec)
{
    qint64 days;
    qint64 msOfDay;
    // Beyond year 9999 either way, and NaN, no date is meant: day 0.
    if (!(std::fabs(dt) < 2958466.0))
        dt = 0;
    if (dt >= 0) {
        // Rounded once, so that 23:59:59.9996 becomes the next midnight
        // rather than second 60.
        const qint64 total = std::llround(dt * kMsPerDay);
        days = total / kMsPerDay;
        msOfDay = total % kMsPerDay;
    } else {
        days = static_cast<qint64>(std::trunc(dt));
        msOfDay = std::llround(std::fabs(dt - static_cast<double>(days)) * kMsPerDay);
        if (msOfDay >= kMsPerDay) {
            msOfDay -= kMsPerDay;
            --days;
        }
    }
    const QDate d = QDate::fromJulianDay(days + DayZero());
    year = d.year();
    month = d.month();
    day = d.day();
    hour = static_cast<int>(msOfDay / 3600000);
    minute = static_cast<int>(msOfDay / 60000 % 60);
    second = static_cast<int>(msOfDay / 1000 % 60);
    msec = static_cast<int>(msOfDay % 1000);
}

QString FormatDateTime(const QString& pattern, TDateTime dt)
{
    int year, month, day, hour, minute, second, msec;
    DecodeDateTime(dt, year, month, day, hour, minute, second, msec);

    // Built in place: the job pass formats several times a job, and a
    // temporary text per pattern letter cost more than the rest of it.
    QString out;
    out.reserve(pattern.size() + 8);
    auto num = [&out](int value, int width) {
        if (value < 0) {
            out += QStringLiteral("%1").arg(value, width, 10, QLatin1Char('0'));
            return;
        }
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        for (int k = n; k < width; ++k) out += QLatin1Char('0');
        while (n > 0) out += QLatin1Char(digits[--n]);
    };
    const QStringView pat(pattern);
    auto at = [pat](qsizetype i, QLatin1StringView token) {
        return i + token.size() <= pat.size() && pat.sliced(i, token.size()).compare(token, Qt::CaseInsensitive) == 0;
    };

    qsizetype i = 0;
    while (i < pattern.size()) {
        if (at(i, QLatin1StringView("yyyy"))) {
            num(year, 4);
            i += 4;
        } else if (at(i, QLatin1StringView("yy"))) {
            num(((year % 100) + 100) % 100, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("mm"))) {
            num(month, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("dd"))) {
            num(day, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("hh"))) {
            num(hour, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("nn"))) {
            num(minute, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("ss"))) {
            num(second, 2);
            i += 2;
        } else if (at(i, QLatin1StringView("zzz"))) {
            num(msec, 3);
            i += 3;
        } else {
            // ":" is the regional time separator, which is ":" here.
            out += pattern.at(i);
            ++i;
        }
    }
    return out;
}

}  // namespace plat
