#include "device.h"

#include "atomic_file.h"
#include "export_selection.h"
#include "settings.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace softtse {

namespace {

constexpr const char *kStateFile = "state";
constexpr const char *kKeyFile = "tse-key.pem";
constexpr const char *kRootCertFile = "root-ca.der";
constexpr const char *kSubCaCertFile = "sub-ca.der";
constexpr const char *kTseCertFile = "tse.der";

time_t addYears(time_t from, uint32_t years)
{
    struct tm t {};
    gmtime_r(&from, &t);
    t.tm_year += static_cast<int>(years);
    return timegm(&t);
}

int64_t mtimeNsOf(const struct stat &st)
{
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

} // namespace

int64_t computerClockMs()
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string normaliseDevicePath(const std::string &path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    return p;
}

std::string stateFolderOf(const std::string &devicePath)
{
    return normaliseDevicePath(devicePath) + "/" + kStateFolderName;
}

se_result_t Device::open(const std::string &path, std::unique_ptr<Device> &device)
{
    std::unique_ptr<Device> d(new Device());
    d->path_ = normaliseDevicePath(path);
    d->stateFolder_ = stateFolderOf(d->path_);
    if (d->path_.empty() || !directoryExists(d->path_) || !d->markerPresent())
        return ErrorSECommunicationFailed;
    if (::mkdir(d->stateFolder_.c_str(), 0755) != 0 && errno != EEXIST)
        return ErrorIO;
    d->lockFd_ = ::open((d->stateFolder_ + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (d->lockFd_ < 0)
        return ErrorIO;
    if (::flock(d->lockFd_, LOCK_EX) != 0)
        return ErrorIO;
    // The state file is written last when a device is made, so a folder
    // without it (perhaps holding only a fault file) is a factory-new TSE.
    se_result_t rc = ExecutionOk;
    if (!fileExists(d->stateFolder_ + "/" + kStateFile))
        rc = d->createFactoryState();
    if (rc == ExecutionOk)
        rc = d->load();
    ::flock(d->lockFd_, LOCK_UN);
    if (rc != ExecutionOk)
        return rc;
    device = std::move(d);
    return ExecutionOk;
}

Device::~Device()
{
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool Device::markerPresent() const { return fileExists(path_ + "/" + kMarkerName); }

se_result_t Device::createFactoryState()
{
    const Settings settings = readSettings(path_ + "/" + kSettingsName);
    SigningKey key;
    Bytes point;
    if (!key.generate() || !key.publicPoint(point))
        return ErrorStoringInitDataFailed;
    const Bytes serial = sha256(point);
    const std::string serialHex = toHex(serial);
    const time_t now = ::time(nullptr);
    // Valid from a day back, so that a clock set to local time west of
    // Greenwich still lies inside the certificate on the first day.
    const time_t notBefore = now - 86400;
    const time_t notAfter = settings.certificateValidityDays > 0
                                ? now + static_cast<time_t>(settings.certificateValidityDays) * 86400
                                : addYears(now, settings.certificateValidityYears);
    CertificateChain chain;
    Bytes uniqueId;
    std::string pem;
    if (!makeCertificateChain(key, serialHex, notBefore, notAfter, chain) || !randomBytes(32, uniqueId) ||
        !key.toPem(pem))
        return ErrorStoringInitDataFailed;

    DeviceState s;
    s.serialHex = serialHex;
    s.uniqueIdHex = toHex(uniqueId);
    s.certificationId = settings.certificationId;
    s.certificateExpiry = static_cast<uint64_t>(notAfter);
    s.timeSyncInterval = settings.timeSyncInterval;
    s.maxClients = settings.maxClients;
    s.maxTransactions = settings.maxTransactions;
    s.totalLogMemory = settings.totalLogMemory;
    s.signingDelayMs = settings.signingDelayMs;

    const std::string dir = stateFolder_ + "/";
    const bool written = replaceFile(dir + kKeyFile, pem) &&
                         replaceFile(dir + kRootCertFile, chain.root.data(), chain.root.size()) &&
                         replaceFile(dir + kSubCaCertFile, chain.subCa.data(), chain.subCa.size()) &&
                         replaceFile(dir + kTseCertFile, chain.tse.data(), chain.tse.size()) &&
                         syncDirectory(stateFolder_) && replaceFile(dir + kStateFile, serializeState(s)) &&
                         syncDirectory(stateFolder_);
    return written ? ExecutionOk : ErrorStoringInitDataFailed;
}

se_result_t Device::load()
{
    const std::string dir = stateFolder_ + "/";
    std::string text;
    std::string pem;
    DeviceState s;
    if (!readTextFile(dir + kStateFile, text) || !parseState(text, s))
        return ErrorTSEResponseDataInvalid;
    if (!readTextFile(dir + kKeyFile, pem) || !key_.loadPem(pem) || !key_.publicPoint(publicPoint_))
        return ErrorTSEResponseDataInvalid;
    if (!readFile(dir + kRootCertFile, certificates_.root) || !readFile(dir + kSubCaCertFile, certificates_.subCa) ||
        !readFile(dir + kTseCertFile, certificates_.tse))
        return ErrorTSEResponseDataInvalid;
    if (!certificateValidity(certificates_.tse, notBefore_, notAfter_))
        return ErrorTSEResponseDataInvalid;
    serial_ = sha256(publicPoint_);
    if (toHex(serial_) != s.serialHex)
        return ErrorTSEResponseDataInvalid;
    // What the stored messages add is written at once: every later call
    // reads the state file again when it looks changed.
    const std::string asStored = serializeState(s);
    catchUpWithStoredLogs(s);
    const std::string caughtUp = serializeState(s);
    if (caughtUp != asStored && (!replaceFile(dir + kStateFile, caughtUp) || !syncDirectory(stateFolder_)))
        return storageError();
    state_ = std::move(s);
    rememberStateFile();
    return ExecutionOk;
}

// A crash between writing a log message and the state that counts it leaves
// the message without its count: the counters move past every stored
// message, so that no number is handed out twice. The message also stands
// for what it did: a stored finish closes its transaction (finishing it again
// would sign the same receipt twice), and a stored start that the state does
// not count yet opens one. A stored start also names the client of an open
// transaction that an older state file kept without it.
void Device::catchUpWithStoredLogs(DeviceState &s) const
{
    const uint32_t countedTransactions = s.transactionCounter;
    std::map<uint32_t, Bytes> open;
    for (const OpenTransaction &t : s.openTransactions)
        open[t.number] = t.client;
    std::set<uint32_t> finished;
    std::map<uint32_t, Bytes> startedBy;
    for (const LogFileInfo &log : listStoredLogs(stateFolder_)) {
        s.signatureCounter = std::max(s.signatureCounter, log.signatureCounter);
        if (!log.transaction)
            continue;
        s.transactionCounter = std::max(s.transactionCounter, log.transactionNumber);
        if (log.finish)
            finished.insert(log.transactionNumber);
        else if (log.transactionNumber > countedTransactions || open.count(log.transactionNumber) != 0)
            startedBy[log.transactionNumber] = log.clientId;
    }
    for (const auto &[number, client] : startedBy) {
        if (number > countedTransactions)
            open.emplace(number, client);
    }
    for (uint32_t n : finished)
        open.erase(n);
    s.openTransactions.clear();
    for (auto &[number, client] : open) {
        const auto start = startedBy.find(number);
        if (client.empty() && start != startedBy.end())
            client = start->second;
        s.openTransactions.push_back({number, client});
    }
}

void Device::rememberStateFile()
{
    struct stat st {};
    if (::stat((stateFolder_ + "/" + kStateFile).c_str(), &st) == 0) {
        stateIno_ = st.st_ino;
        stateMtimeNs_ = mtimeNsOf(st);
        stateSize_ = st.st_size;
    }
}

se_result_t Device::lockForCall()
{
    if (::flock(lockFd_, LOCK_EX) != 0)
        return ErrorIO;
    struct stat st {};
    if (::stat((stateFolder_ + "/" + kStateFile).c_str(), &st) != 0) {
        unlockAfterCall();
        return ErrorSECommunicationFailed;
    }
    // Another process may have replaced the file. Time stamps tick in steps
    // of milliseconds and inode numbers are reused, so a file changed in the
    // last seconds is read again even when it looks the same.
    const bool recent = ::time(nullptr) - st.st_mtim.tv_sec < 3;
    if (!recent && st.st_ino == stateIno_ && mtimeNsOf(st) == stateMtimeNs_ && st.st_size == stateSize_)
        return ExecutionOk;
    std::string text;
    DeviceState s;
    if (!readTextFile(stateFolder_ + "/" + kStateFile, text) || !parseState(text, s) ||
        s.serialHex != state_.serialHex) {
        unlockAfterCall();
        return ErrorTSEResponseDataInvalid;
    }
    // Counters only grow; those caught up with the stored logs at the open
    // stay, whatever an older state file says.
    s.signatureCounter = std::max(s.signatureCounter, state_.signatureCounter);
    s.transactionCounter = std::max(s.transactionCounter, state_.transactionCounter);
    state_ = std::move(s);
    stateIno_ = st.st_ino;
    stateMtimeNs_ = mtimeNsOf(st);
    stateSize_ = st.st_size;
    return ExecutionOk;
}

void Device::unlockAfterCall() { ::flock(lockFd_, LOCK_UN); }

uint64_t Device::clockNow() const { return clockOf(state_); }

// The state file may hold any 64-bit values: the sums saturate rather than
// overflow.
uint64_t Device::clockOf(const DeviceState &s)
{
    int64_t t = 0;
    if (__builtin_add_overflow(computerClockMs() / 1000, s.timeOffset, &t))
        return s.timeOffset < 0 ? 0 : static_cast<uint64_t>(INT64_MAX);
    return t < 0 ? 0 : static_cast<uint64_t>(t);
}

bool Device::timeValid(const DeviceState &s) const
{
    if (s.lastTimeUpdateMs == 0)
        return false;
    if (s.timeSyncInterval == 0)
        return true;
    int64_t elapsed = 0;
    if (__builtin_sub_overflow(computerClockMs(), s.lastTimeUpdateMs, &elapsed))
        return false;
    return elapsed <= static_cast<int64_t>(s.timeSyncInterval) * 1000;
}

bool Device::storeFails(const char *what)
{
    return storeFaults_.check(stateFolder_ + "/faults", what).kind == FaultAction::Fail;
}

se_result_t Device::storageError() const
{
    return markerPresent() ? ErrorStorageFailure : ErrorSECommunicationFailed;
}

se_result_t Device::commit(const DeviceState &next)
{
    if (!replaceFile(stateFolder_ + "/" + kStateFile, serializeState(next)) || !syncDirectory(stateFolder_))
        return storageError();
    state_ = next;
    rememberStateFile();
    return ExecutionOk;
}

se_result_t Device::commitWithLog(DeviceState &next, const Bytes &signedPart, const std::string &name,
                                  SignedLog &signedLog)
{
    if (state_.signingDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(state_.signingDelayMs));
    Bytes signature;
    if (!key_.signPlain(signedPart.data(), signedPart.size(), signature))
        return ErrorSigningSystemOperationDataFailed;
    const Bytes message = completeLogMessage(signedPart, signature);
    if (next.storedLogBytes > next.totalLogMemory || message.size() > next.totalLogMemory - next.storedLogBytes)
        return ErrorStorageFailure;
    next.storedLogBytes += message.size();
    // The message goes first and the state that counts it second: a failure
    // takes the message back, and a crash between the two leaves a message
    // that the next open counts (catchUpWithStoredLogs).
    const std::string logPath = stateFolder_ + "/" + name;
    const std::string statePath = stateFolder_ + "/" + kStateFile;
    if (storeFails("store.log") || !replaceFile(logPath, message.data(), message.size()))
        return storageError();
    const bool stateWritten = !storeFails("store.state") && replaceFile(statePath, serializeState(next));
    if (!stateWritten || !syncDirectory(stateFolder_)) {
        if (stateWritten)
            replaceFile(statePath, serializeState(state_));
        ::unlink(logPath.c_str());
        syncDirectory(stateFolder_);
        rememberStateFile();
        return storageError();
    }
    state_ = next;
    rememberStateFile();
    signedLog.signature = std::move(signature);
    return ExecutionOk;
}

se_result_t Device::commitTransactionLog(DeviceState &next, const TransactionLogData &data, SignedLog &signedLog,
                                         se_result_t exhausted)
{
    if (next.signatureCounter == 0xFFFFFFFFu)
        return exhausted;
    signedLog.logTime = clockOf(next);
    if (!certificateCovers(signedLog.logTime))
        return ErrorCertificateExpired;
    next.signatureCounter += 1;
    signedLog.signatureCounter = next.signatureCounter;
    const Bytes signedPart = transactionLogSignedPart(data, serial_, signedLog.signatureCounter, signedLog.logTime);
    return commitWithLog(next, signedPart, transactionLogName(data, signedLog.signatureCounter, signedLog.logTime),
                         signedLog);
}

se_result_t Device::commitSystemLog(DeviceState &next, const SystemLogData &data, se_result_t exhausted)
{
    if (next.signatureCounter == 0xFFFFFFFFu)
        return exhausted;
    SignedLog signedLog;
    signedLog.logTime = clockOf(next);
    if (!certificateCovers(signedLog.logTime))
        return ErrorCertificateExpired;
    next.signatureCounter += 1;
    signedLog.signatureCounter = next.signatureCounter;
    const Bytes signedPart = systemLogSignedPart(data, serial_, signedLog.signatureCounter, signedLog.logTime);
    return commitWithLog(next, signedPart,
                         systemLogName(data.operationType, signedLog.signatureCounter, signedLog.logTime), signedLog);
}

} // namespace softtse
