// SE-API: session, users, life cycle and clock.
#include "crypto.h"
#include "der.h"
#include "session.h"

#include <cstdlib>

using namespace softtse;

namespace {

std::string pinHash(const uint8_t *pin, uint32_t length) { return toHex(sha256(bytesOf(pin, length))); }

// Names the user records; null for a user the TSE does not manage.
UserRecord *userRecord(DeviceState &s, const std::string &user)
{
    if (user == "Admin")
        return &s.admin;
    if (user == "TimeAdmin")
        return &s.timeAdmin;
    return nullptr;
}

bool &loginFlag(Device &d, const std::string &user)
{
    return user == "Admin" ? d.adminLoggedIn : d.timeAdminLoggedIn;
}

SystemLogData userLog(const char *operation, const std::string &user, int32_t result)
{
    SystemLogData log;
    log.operationType = operation;
    log.operationData = der::sequence({der::tlv(0x0C, Bytes(user.begin(), user.end())),
                                       der::tlv(0x0A, der::integerContent(static_cast<uint64_t>(result)))});
    return log;
}

SystemLogData plainLog(const char *operation)
{
    SystemLogData log;
    log.operationType = operation;
    log.operationData = der::sequence({});
    return log;
}

} // namespace

extern "C" {

se_result_t se_openDirect(const char *devicePath, uint32_t /*timeout: the device answers at once*/)
{
    Call call("se_openDirect", devicePath);
    if (call.failing())
        return call.fault().code;
    if (devicePath == nullptr || devicePath[0] == '\0')
        return ErrorMissingParameter;
    Session &s = call.state();
    s.device.reset();
    s.lost = false;
    s.lastDevicePath = normaliseDevicePath(devicePath);
    return Device::open(devicePath, s.device);
}

se_result_t se_close(void)
{
    Call call("se_close");
    if (call.failing())
        return call.fault().code;
    Session &s = call.state();
    if (!s.device)
        return ErrorNoStartup;
    s.device.reset();
    s.lost = false;
    return ExecutionOk;
}

se_result_t se_authenticateUser(const char *userId, uint32_t userIdLength, const uint8_t *pin, uint32_t pinLength,
                                int32_t *authenticationResult, int16_t *remainingRetries)
{
    Call call("se_authenticateUser");
    if (call.failing())
        return call.fault().code;
    if (userId == nullptr || userIdLength == 0 || authenticationResult == nullptr || remainingRetries == nullptr)
        return ErrorMissingParameter;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if (d.state().lifeCycle == Disabled)
        return ErrorSecureElementDisabled;
    const std::string user(userId, userIdLength);
    DeviceState next = d.state();
    UserRecord *record = userRecord(next, user);
    if (record == nullptr) {
        *authenticationResult = 3;
        *remainingRetries = 0;
        return ErrorAuthenticationFailed;
    }
    if (!next.pinsSet()) {
        *authenticationResult = 1;
        *remainingRetries = record->retries;
        return ErrorAuthenticationFailed;
    }
    if (record->retries <= 0) {
        *authenticationResult = 2;
        *remainingRetries = 0;
        return ErrorAuthenticationFailed;
    }
    const bool match = pin != nullptr && pinLength > 0 && pinHash(pin, pinLength) == record->pinHash;
    int32_t result = 0;
    if (match) {
        record->retries = 3;
    } else {
        record->retries -= 1;
        result = record->retries > 0 ? 1 : 2;
    }
    // The retry count must be stored before the answer, or a wrong PIN could
    // be tried again after a crash without costing a retry.
    rc = d.commitSystemLog(next, userLog("authenticateUser", user, result));
    if (rc != ExecutionOk)
        return rc;
    *authenticationResult = result;
    *remainingRetries = record->retries;
    if (!match)
        return ErrorAuthenticationFailed;
    loginFlag(d, user) = true;
    return ExecutionOk;
}

se_result_t se_logOut(const char *userId, uint32_t userIdLength)
{
    Call call("se_logOut");
    if (call.failing())
        return call.fault().code;
    if (userId == nullptr || userIdLength == 0)
        return ErrorMissingParameter;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    const std::string user(userId, userIdLength);
    DeviceState next = d.state();
    if (userRecord(next, user) == nullptr)
        return ErrorUserIdNotManaged;
    if (!loginFlag(d, user))
        return ErrorUserIdNotAuthenticated;
    loginFlag(d, user) = false;
    return d.commitSystemLog(next, userLog("logOut", user, 0));
}

se_result_t se_initializePinValues(const uint8_t *adminPin, uint32_t adminPinLength, const uint8_t *adminPuk,
                                   uint32_t adminPukLength, const uint8_t *timeAdminPin, uint32_t timeAdminPinLength,
                                   const uint8_t *timeAdminPuk, uint32_t timeAdminPukLength)
{
    Call call("se_initializePinValues");
    if (call.failing())
        return call.fault().code;
    if (!adminPin || !adminPinLength || !adminPuk || !adminPukLength || !timeAdminPin || !timeAdminPinLength ||
        !timeAdminPuk || !timeAdminPukLength)
        return ErrorMissingParameter;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    DeviceState next = d.state();
    if (next.lifeCycle == Disabled)
        return ErrorSecureElementDisabled;
    if (next.lifeCycle != NotInitialized || next.pinsSet())
        return ErrorStoringInitDataFailed;
    next.admin = {pinHash(adminPin, adminPinLength), pinHash(adminPuk, adminPukLength), 3};
    next.timeAdmin = {pinHash(timeAdminPin, timeAdminPinLength), pinHash(timeAdminPuk, timeAdminPukLength), 3};
    return d.commit(next);
}

se_result_t se_initialize(void)
{
    Call call("se_initialize");
    if (call.failing())
        return call.fault().code;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if (d.state().lifeCycle == Disabled)
        return ErrorSecureElementDisabled;
    if ((rc = checkRole(d, false)) != ExecutionOk)
        return rc;
    if (d.state().lifeCycle != NotInitialized)
        return ErrorStoringInitDataFailed;
    DeviceState next = d.state();
    next.lifeCycle = NoTime;
    return d.commitSystemLog(next, plainLog("initialize"));
}

se_result_t se_updateTime(uint64_t newDateTime)
{
    Call call("se_updateTime");
    if (call.failing())
        return call.fault().code;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkAdministration(d, true)) != ExecutionOk)
        return rc;
    if (newDateTime > static_cast<uint64_t>(INT64_MAX / 2))
        return ErrorUpdateTimeFailed;
    DeviceState next = d.state();
    const int64_t nowMs = computerClockMs();
    next.timeOffset = static_cast<int64_t>(newDateTime) - nowMs / 1000;
    next.lastTimeUpdateMs = nowMs;
    if (next.lifeCycle == NoTime)
        next.lifeCycle = Active;
    SystemLogData log;
    log.operationType = "updateTime";
    log.operationData = der::sequence({der::integer(newDateTime)});
    return d.commitSystemLog(next, log, ErrorUpdateTimeFailed);
}

se_result_t se_activateTSE(void)
{
    Call call("se_activateTSE");
    if (call.failing())
        return call.fault().code;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkAdministration(d, false)) != ExecutionOk)
        return rc;
    if (d.state().lifeCycle != Deactivated)
        return ErrorSeApiNotDeactivated;
    DeviceState next = d.state();
    next.lifeCycle = next.lastTimeUpdateMs != 0 ? Active : NoTime;
    return d.commitSystemLog(next, plainLog("activateTSE"));
}

se_result_t se_deactivateTSE(void)
{
    Call call("se_deactivateTSE");
    if (call.failing())
        return call.fault().code;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkAdministration(d, false)) != ExecutionOk)
        return rc;
    if (d.state().lifeCycle == Deactivated)
        return ErrorSeApiDeactivated;
    DeviceState next = d.state();
    next.lifeCycle = Deactivated;
    return d.commitSystemLog(next, plainLog("deactivateTSE"));
}

const char *se_getApiVersionString(void) { return "VOKTAR SoftTSE 1.0 (SE-API)"; }

void se_free(void *buffer) { std::free(buffer); }

} // extern "C"
