// The library's one session with a TSE, the process-wide lock, and the
// prologue every SE-API function runs: lock, fault file, device checks.
#pragma once

#include "device.h"
#include "faults.h"
#include "meter.h"
#include "se_api.h"

#include <memory>
#include <mutex>
#include <string>

namespace softtse {

struct Session {
    std::mutex mutex;
    std::unique_ptr<Device> device;
    std::string lastDevicePath; // where the fault file is looked for
    bool lost = false;          // the device went away; only a new open helps
    FaultFile faults;
    Bytes uniqueId;             // the buffer se_getUniqueId hands out
};

Session &session();

class Call {
public:
    // Locks the session and reads the fault directive for function. The
    // open passes its own device path, since no session may exist yet.
    explicit Call(const char *function, const char *openPath = nullptr);
    ~Call();
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    const FaultAction &fault() const { return fault_; }
    bool failing() const { return fault_.kind == FaultAction::Fail; }

    // An open session on a present device, locked against other processes.
    se_result_t enter();
    Device &device() { return *session_.device; }
    Session &state() { return session_; }

private:
    MeterStamp meter_; // first in, last out: the wait for the lock counts too
    Session &session_;
    std::unique_lock<std::mutex> lock_;
    FaultAction fault_;
    bool deviceLocked_ = false;
};

// Checks shared by the functions.
se_result_t checkSerial(const Device &device, const uint8_t *serial, uint32_t length);
se_result_t checkInitialised(const DeviceState &s);
se_result_t checkAdministrable(const DeviceState &s); // initialised and not disabled
se_result_t checkRole(const Device &device, bool timeAdminAllowed);
// An administrative step: an initialised, usable TSE and a user in the role.
se_result_t checkAdministration(const Device &device, bool timeAdminAllowed);
se_result_t checkSigning(const Device &device);       // transactions may run

// A malloc'ed copy for the caller, released with se_free. Never null on
// success, also for no bytes, so that callers can tell it from a failure.
uint8_t *copyOut(const uint8_t *data, size_t size);
inline uint8_t *copyOut(const Bytes &b) { return copyOut(b.data(), b.size()); }

Bytes bytesOf(const void *data, uint32_t length);

} // namespace softtse
