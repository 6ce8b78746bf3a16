#include "tse/UnixLib.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The local zone in the platform's convention: Bias = -(standard offset),
// DaylightBias = -(daylight shift), both in minutes; the daylight shift is
// counted whether or not it is in effect now.
bool ZoneBiases(int64_t& bias, int64_t& daylightBias)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (!zone.isValid())
        return false;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int standard = zone.standardTimeOffset(now);
    bias = -(standard / 60);
    daylightBias = 0;
    if (zone.hasDaylightTime()) {
        // The larger of the winter and summer offsets is daylight time on
        // either hemisphere.
        const int year = now.date().year();
        const QDateTime jan(QDate(year, 1, 1), QTime(12, 0), Qt::UTC);
        const QDateTime jul(QDate(year, 7, 1), QTime(12, 0), Qt::UTC);
        const int daylight = std::max(zone.offsetFromUtc(jan), zone.offsetFromUtc(jul));
        daylightBias = -((daylight - standard) / 60);
    }
    return true;
}

}  // namespace

uint32_t DateTimeToUnixTime(TDateTime DT, bool UseBias)
{
    int64_t bias = 0, daylightBias = 0;
    if (UseBias && !ZoneBiases(bias, daylightBias))
        UseBias = false;

    // Rounded to milliseconds once, so that a value a hair below a whole
    // second is that second (the date-time value is a double).
    if (!(DT >= 0))
        return 0;  // before 1899-12-30, and NaN
    const int64_t totalMs = std::llround(DT * 86400000.0);
    const int64_t days = totalMs / 86400000;
    const int64_t msOfDay = totalMs % 86400000;
    const int64_t h = msOfDay / 3600000;
    const int64_t m = msOfDay / 60000 % 60;
    const int64_t s = msOfDay / 1000 % 60;

    // 64-bit: the signed 32-bit range ends in January 2038, the result's
    // range only in 2106.
    int64_t t = (days - FirstOf1970) * OneDay + h * OneHour;
    t += UseBias ? (m + bias + daylightBias) * OneMinute : m * OneMinute;
    t += s;
    if (t < 0)
        return 0;
    if (t > std::numeric_limits<uint32_t>::max())
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(t);
}

TDateTime UnixTimeToDateTime(uint32_t UnixTime, bool UseBias)
{
    int64_t bias = 0, daylightBias = 0;
    if (UseBias && !ZoneBiases(bias, daylightBias))
        UseBias = false;

    int64_t u = UnixTime;
    if (UseBias)
        u -= (bias + daylightBias) * OneMinute;
    // Floor division keeps the time of day positive for the instants the
    // shift moves before 1970.
    int64_t days = u / OneDay;
    int64_t secOfDay = u % OneDay;
    if (secOfDay < 0) {
        secOfDay += OneDay;
        --days;
    }
    const double timeOfDay = static_cast<double>((secOfDay / OneHour) * OneHour + (secOfDay % OneHour / OneMinute) * OneMinute +
                                                 secOfDay % OneMinute) /
                             OneDay;
    return static_cast<double>(days + FirstOf1970) + timeOfDay;
}
