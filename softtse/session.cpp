#include "session.h"

#include <chrono>
#include <thread>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace softtse {

Session &session()
{
    static Session s;
    return s;
}

Call::Call(const char *function, const char *openPath)
    : meter_(function), session_(session()), lock_(session_.mutex)
{
    const std::string device = openPath ? normaliseDevicePath(openPath) : session_.lastDevicePath;
    if (!device.empty())
        fault_ = session_.faults.check(stateFolderOf(device) + "/faults", function);
    // A slow TSE: the call takes this long, then goes on as usual.
    if (fault_.kind == FaultAction::Delay) {
        std::this_thread::sleep_for(std::chrono::milliseconds(fault_.value));
        fault_ = {};
    }
}

Call::~Call()
{
    if (deviceLocked_ && session_.device)
        session_.device->unlockAfterCall();
}

se_result_t Call::enter()
{
    if (!session_.device)
        return ErrorNoStartup;
    if (session_.lost)
        return ErrorSECommunicationFailed;
    if (!session_.device->markerPresent()) {
        session_.lost = true;
        return ErrorSECommunicationFailed;
    }
    const se_result_t rc = session_.device->lockForCall();
    if (rc == ErrorSECommunicationFailed)
        session_.lost = true;
    if (rc != ExecutionOk)
        return rc;
    deviceLocked_ = true;
    return ExecutionOk;
}

se_result_t checkSerial(const Device &device, const uint8_t *serial, uint32_t length)
{
    if (serial == nullptr || length == 0)
        return ErrorMissingParameter;
    if (length != device.serial().size() || std::memcmp(serial, device.serial().data(), length) != 0)
        return ErrorNoSuchKey;
    return ExecutionOk;
}

se_result_t checkInitialised(const DeviceState &s)
{
    return s.lifeCycle == NotInitialized ? ErrorSeApiNotInitialized : ExecutionOk;
}

se_result_t checkAdministrable(const DeviceState &s)
{
    if (s.lifeCycle == Disabled)
        return ErrorSecureElementDisabled;
    return checkInitialised(s);
}

se_result_t checkAdministration(const Device &device, bool timeAdminAllowed)
{
    const se_result_t rc = checkAdministrable(device.state());
    return rc != ExecutionOk ? rc : checkRole(device, timeAdminAllowed);
}

se_result_t checkRole(const Device &device, bool timeAdminAllowed)
{
    if (device.adminLoggedIn)
        return ExecutionOk;
    if (device.timeAdminLoggedIn)
        return timeAdminAllowed ? ExecutionOk : ErrorUserNotAuthorized;
    return ErrorUserNotAuthenticated;
}

se_result_t checkSigning(const Device &device)
{
    const DeviceState &s = device.state();
    switch (s.lifeCycle) {
    case NotInitialized:
        return ErrorSeApiNotInitialized;
    case Disabled:
        return ErrorSecureElementDisabled;
    case Deactivated:
        return ErrorSeApiDeactivated;
    case NoTime:
        return ErrorTimeNotSet;
    default:
        break;
    }
    if (!device.certificateCovers(device.clockNow()))
        return ErrorCertificateExpired;
    return device.timeValid(s) ? ExecutionOk : ErrorTimeNotSet;
}

uint8_t *copyOut(const uint8_t *data, size_t size)
{
    auto *p = static_cast<uint8_t *>(std::malloc(size > 0 ? size : 1));
    if (p && size > 0)
        std::memcpy(p, data, size);
    return p;
}

Bytes bytesOf(const void *data, uint32_t length)
{
    if (data == nullptr || length == 0)
        return {};
    const auto *p = static_cast<const uint8_t *>(data);
    return Bytes(p, p + length);
}

} // namespace softtse
