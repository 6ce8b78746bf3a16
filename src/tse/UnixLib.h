// Conversion between the date-time value and Unix seconds.
#pragma once

#include "platform/DateTime.h"

#include <cstdint>

using plat::TDateTime;

constexpr int FirstOf1970 = 25569;
constexpr int OneDay = 86400;
constexpr int OneHour = 3600;
constexpr int OneMinute = 60;

uint32_t DateTimeToUnixTime(TDateTime DT, bool UseBias);
TDateTime UnixTimeToDateTime(uint32_t UnixTime, bool UseBias);
