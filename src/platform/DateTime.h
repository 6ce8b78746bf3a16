// The date-time value: days since 1899-12-30, the fraction is the time of day.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace plat {

using TDateTime = double;

// Local wall-clock time with milliseconds.
TDateTime Now();

// The local time zone is read from /etc/localtime once. While TZ is unset,
// the C library looks at that file again at every local-time conversion (a
// stat each, dozens in a job); naming the file in TZ reads it once. A new
// zone takes effect at the next start; summer time is in the file and
// needs none. Call at the start, before any thread.
void ReadTimeZoneOnce();

// Tests move the clock: while set, Now() returns what the function gives.
void SetNowOverride(std::function<TDateTime()> now);

// True UTC as Unix seconds. While the override of Now() is set, its local
// time is taken through the local time zone, so that tests that move the
// program's clock move this one too.
int64_t UtcUnixNow();

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                         int msec = 0);
void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& msec);

// Date-time patterns: "yyyy" / "yy" year, "mm" month, "dd" day, "hh" hour 00-23,
// "nn" minutes, "ss" seconds, "zzz" milliseconds, any letter case; ":" is the
// time separator (":"); every other character is copied.
QString FormatDateTime(const QString& pattern, TDateTime dt);

}  // namespace plat
