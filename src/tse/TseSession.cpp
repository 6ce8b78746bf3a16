// Opening and closing the TSE, users, life cycle, clock and version.
#include "tse/TseCall.h"
#include "tse/TseLib.h"
#include "tse/UnixLib.h"

#include "platform/DateTime.h"

using tsecall::Ok;
using tsecall::TextArg;

void tse_openDirect(const std::string& devicePath, uint32_t timeout)
{
    // The library wants the path zero-terminated; the timeout unit is its own.
    const std::string path = devicePath;
    Ok(se_openDirect(path.c_str(), timeout));
}

void tse_close()
{
    Ok(se_close());
}

void tse_authenticateUser(const std::string& userId, const std::string& pin, int32_t& authenticationResult,
                          int16_t& remainingRetries)
{
    const TextArg user(userId);
    const TextArg pinBytes(pin);
    Ok(se_authenticateUser(user.chars(), user.length(), pinBytes.bytes(), pinBytes.length(), &authenticationResult,
                           &remainingRetries));
}

void tse_logOut(const std::string& userId)
{
    const TextArg user(userId);
    Ok(se_logOut(user.chars(), user.length()));
}

void tse_activateTSE()
{
    Ok(se_activateTSE());
}

void tse_deactivateTSE()
{
    Ok(se_deactivateTSE());
}

void tse_initializePinValues(const std::string& adminPin, const std::string& adminPuk,
                             const std::string& timeAdminPin, const std::string& timeAdminPuk)
{
    const TextArg aPin(adminPin), aPuk(adminPuk), tPin(timeAdminPin), tPuk(timeAdminPuk);
    Ok(se_initializePinValues(aPin.bytes(), aPin.length(), aPuk.bytes(), aPuk.length(), tPin.bytes(), tPin.length(),
                              tPuk.bytes(), tPuk.length()));
}

void tse_initialize()
{
    Ok(se_initialize());
}

void tse_updateTime()
{
    // A Unix time is UTC, and the TSE's log times say so. Only TSE_ZEIT=LOKAL
    // gives it local wall-clock time as if it were UTC (the clock then runs
    // back an hour every October).
    const int64_t utc = plat::UtcUnixNow();
    const uint64_t now = TseLocalClock ? DateTimeToUnixTime(plat::Now(), false) : static_cast<uint64_t>(utc < 0 ? 0 : utc);
    Ok(se_updateTime(now));
}

uint32_t tse_getTimeSyncInterval()
{
    uint32_t interval = 0;
    return Ok(se_getTimeSyncInterval(&interval)) ? interval : 0;
}

std::string tse_getTimeSyncVariant()
{
    int32_t variant = 0;
    if (!Ok(se_getTimeSyncVariant(&variant))) return {};
    switch (variant) {
    case 0: return "noInput/undefined";
    case 1: return "utcTime";
    case 2: return "generalizedTime";
    case 3: return "unixTime";
    default: return std::to_string(variant);
    }
}

std::string tse_getApiVersionString()
{
    // The text belongs to the library: copied, never released. TseRes keeps
    // the result of the call before.
    const char* version = se_getApiVersionString();
    return version ? std::string(version) : std::string();
}
