// One opened TSE: the device directory with its marker, the state folder,
// the key and certificates, and the persistent state. Every change of state
// goes through commit functions that write crash-safely before returning.
#pragma once

#include "crypto.h"
#include "device_state.h"
#include "faults.h"
#include "log_message.h"
#include "se_api.h"

#include <memory>
#include <string>
#include <sys/types.h>

namespace softtse {

constexpr const char *kMarkerName = "TSE-IO.bin";
constexpr const char *kStateFolderName = ".softtse";
constexpr const char *kSettingsName = "softtse.ini";

// The device directory without trailing slashes ("/" stays "/").
std::string normaliseDevicePath(const std::string &path);
std::string stateFolderOf(const std::string &devicePath);

struct SignedLog {
    uint64_t logTime = 0;
    uint32_t signatureCounter = 0;
    Bytes signature;
};

class Device {
public:
    // Opens the device at path, making a factory-new TSE's state first.
    static se_result_t open(const std::string &path, std::unique_ptr<Device> &device);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    const std::string &path() const { return path_; }
    const std::string &stateFolder() const { return stateFolder_; }
    bool markerPresent() const;

    // Holds the device against other processes for one call; reloads the
    // state when another process changed it meanwhile.
    se_result_t lockForCall();
    void unlockAfterCall();

    const DeviceState &state() const { return state_; }
    const Bytes &serial() const { return serial_; }
    const Bytes &publicPoint() const { return publicPoint_; }
    const CertificateChain &certificates() const { return certificates_; }

    uint64_t clockNow() const; // the TSE's clock, Unix seconds
    static uint64_t clockOf(const DeviceState &s);
    bool timeValid(const DeviceState &s) const; // time set and sync interval not run out
    // The TSE certificate's notBefore..notAfter holds the time.
    bool certificateCovers(uint64_t logTime) const { return logTime >= notBefore_ && logTime <= notAfter_; }

    // Persists next without a log message (PIN retries, for instance).
    se_result_t commit(const DeviceState &next);
    // Takes the next signature counter in next, signs the log message,
    // then persists message and state; state() is next afterwards. With the
    // signature counter at its end the call answers exhausted; with the
    // TSE's clock outside the certificate, ErrorCertificateExpired. A failure
    // leaves neither the message nor the new state on the disk.
    se_result_t commitTransactionLog(DeviceState &next, const TransactionLogData &data, SignedLog &signedLog,
                                     se_result_t exhausted);
    se_result_t commitSystemLog(DeviceState &next, const SystemLogData &data,
                                se_result_t exhausted = ErrorSigningSystemOperationDataFailed);

    // Session logins: they end with the session, not stored.
    bool adminLoggedIn = false;
    bool timeAdminLoggedIn = false;

private:
    Device() = default;
    se_result_t load();
    se_result_t createFactoryState();
    void rememberStateFile();
    se_result_t commitWithLog(DeviceState &next, const Bytes &signedPart, const std::string &name,
                              SignedLog &signedLog);
    se_result_t storageError() const;
    bool storeFails(const char *what); // the fault file's "store.log" / "store.state"
    void catchUpWithStoredLogs(DeviceState &s) const;

    std::string path_;
    std::string stateFolder_;
    int lockFd_ = -1;
    DeviceState state_;
    SigningKey key_;
    Bytes serial_;
    Bytes publicPoint_;
    CertificateChain certificates_;
    uint64_t notBefore_ = 0;
    uint64_t notAfter_ = 0;
    FaultFile storeFaults_;
    ino_t stateIno_ = 0;
    int64_t stateMtimeNs_ = 0;
    off_t stateSize_ = 0;
};

int64_t computerClockMs();

} // namespace softtse
