#include "platform/DateTime.h"

#include <QDateTime>
#include <array>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

using namespace plat;

TEST(DateTimeValue, CountsDaysFrom1899_12_30)
{
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(2000, 1, 1, 18), 36526.75);
    // Before day 0 the fraction still counts forward from midnight.
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
}

TEST(DateTimeValue, DecodesWhatWasEncodedToTheMillisecond)
{
    struct Case {
        int y, mo, d, h, mi, s, ms;
    };
    for (const Case& c : {Case{2026, 12, 9, 5, 7, 3, 1}, Case{2024, 2, 29, 23, 59, 59, 999}, Case{1970, 1, 1, 0, 0, 0, 0},
                          Case{2106, 2, 7, 6, 28, 15, 500}, Case{1899, 12, 29, 6, 0, 0, 0}}) {
        int y, mo, d, h, mi, s, ms;
        DecodeDateTime(EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms), y, mo, d, h, mi, s, ms);
        EXPECT_EQ((std::array{y, mo, d, h, mi, s, ms}), (std::array{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}));
    }
}

TEST(DateTimeValue, ALastFractionOfAMillisecondCarriesIntoTheNextDay)
{
    const TDateTime almostMidnight = EncodeDateTime(2026, 12, 31) + 1.0 - 0.0004 / 86400.0;
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", almostMidnight), "2027-01-01 00:00:00.000");
}

TEST(DateTimeFormat, WritesEachPatternWithLeadingZeros)
{
    const TDateTime dt = EncodeDateTime(2026, 3, 4, 5, 6, 7, 8);
    EXPECT_EQ(FormatDateTime("dd.mm.yy hh:nn:ss", dt), "04.03.26 05:06:07");
    EXPECT_EQ(FormatDateTime("yyyy-mm-ddThh:nn:ss.zzzZ", dt), "2026-03-04T05:06:07.008Z");
    EXPECT_EQ(FormatDateTime("YYYYMMDD_HHNNSS", dt), "20260304_050607");
}

TEST(DateTimeFormat, MmIsAlwaysTheMonthAndHoursRunTo23)
{
    const TDateTime dt = EncodeDateTime(2026, 11, 30, 23, 45);
    EXPECT_EQ(FormatDateTime("hh:mm", dt), "23:11");
    EXPECT_EQ(FormatDateTime("hh:nn", dt), "23:45");
}

TEST(DateTimeFormat, CopiesEverythingElse)
{
    const TDateTime dt = EncodeDateTime(2026, 1, 2, 3, 4, 5);
    EXPECT_EQ(FormatDateTime("[d] y/m Tag: dd", dt), "[d] y/m Tag: 02");
    EXPECT_EQ(FormatDateTime("", dt), "");
}

TEST(DateTimeClock, OverrideReplacesTheLocalClockUntilCleared)
{
    const TDateTime fixed = EncodeDateTime(2030, 6, 15, 12);
    SetNowOverride([fixed] { return fixed; });
    EXPECT_DOUBLE_EQ(Now(), fixed);
    SetNowOverride(nullptr);
    EXPECT_GT(Now(), EncodeDateTime(2020, 1, 1));
    EXPECT_NE(Now(), fixed);
}

// UTC from the system clock, and while a test moves the program's clock, that
// local time through the zone: summer time and winter time alike.
TEST(DateTimeClock, UtcUnixNowFollowsTheOverrideThroughTheLocalZone)
{
    EXPECT_NEAR(static_cast<double>(UtcUnixNow()), static_cast<double>(QDateTime::currentSecsSinceEpoch()), 2.0);
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    SetNowOverride([] { return EncodeDateTime(2027, 7, 1, 14, 0, 0); });
    const int64_t summer = UtcUnixNow();
    SetNowOverride([] { return EncodeDateTime(2027, 12, 1, 14, 0, 0); });
    const int64_t winter = UtcUnixNow();
    SetNowOverride(nullptr);
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    EXPECT_EQ(summer, QDateTime(QDate(2027, 7, 1), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
    EXPECT_EQ(winter, QDateTime(QDate(2027, 12, 1), QTime(13, 0), Qt::UTC).toSecsSinceEpoch());
}
