// Helpers for driving the software TSE through its C interface: a fresh
// device in a temporary directory, the usual set-up steps, and buffers that
// are released with se_free.
#pragma once

#include "se_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace softtse_test {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

inline const uint8_t *u8(const char *s) { return reinterpret_cast<const uint8_t *>(s); }
inline uint32_t len(const std::string &s) { return static_cast<uint32_t>(s.size()); }

// Copies a library buffer and releases it.
inline Bytes take(uint8_t *buffer, uint32_t length)
{
    Bytes b(buffer, buffer + (buffer ? length : 0));
    se_free(buffer);
    return b;
}

inline void writeText(const fs::path &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string readText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes readBytes(const fs::path &path)
{
    const std::string s = readText(path);
    return Bytes(s.begin(), s.end());
}

// A drive directory with the marker, removed at the end of the test.
class TempDevice {
public:
    TempDevice()
    {
        char pattern[] = "/tmp/softtse-test-XXXXXX";
        const char *made = mkdtemp(pattern);
        if (made == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = made;
        writeText(path_ / "TSE-IO.bin", "\n");
    }
    ~TempDevice()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDevice(const TempDevice &) = delete;
    TempDevice &operator=(const TempDevice &) = delete;

    const fs::path &path() const { return path_; }
    fs::path stateFolder() const { return path_ / ".softtse"; }
    std::string str() const { return path_.string(); }
    void setIni(const std::string &text) const { writeText(path_ / "softtse.ini", text); }
    void setFaults(const std::string &text) const
    {
        fs::create_directories(stateFolder());
        writeText(stateFolder() / "faults", text);
    }

private:
    fs::path path_;
};

inline se_result_t login(const std::string &user, const std::string &pin, int32_t *result = nullptr,
                         int16_t *retries = nullptr)
{
    int32_t r = -1;
    int16_t n = -1;
    const se_result_t rc = se_authenticateUser(user.data(), len(user), u8(pin.c_str()), len(pin), &r, &n);
    if (result)
        *result = r;
    if (retries)
        *retries = n;
    return rc;
}

inline se_result_t logout(const std::string &user) { return se_logOut(user.data(), len(user)); }

inline const char *kAdminPin = "RubXen58";
inline const char *kTimeAdminPin = "RubTol58";

inline se_result_t setPins()
{
    return se_initializePinValues(u8(kAdminPin), 8, u8("RUBXnPk58!"), 10, u8(kTimeAdminPin), 8, u8("RUBToLPkq!"), 10);
}

inline Bytes serialNumber()
{
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    if (se_exportSerialNumbers(&buffer, &length) != ExecutionOk)
        return {};
    const Bytes der = take(buffer, length);
    // SEQUENCE { SEQUENCE { OCTET STRING (32) ... } }
    return der.size() >= 38 ? Bytes(der.begin() + 6, der.begin() + 38) : Bytes{};
}

// The seconds of the clock the TSE reads (CLOCK_REALTIME). std::time reads a
// coarser clock that can still show the last second for a few milliseconds
// after the TSE's has moved on: a time set from it would put the TSE's clock
// back by a second, and its log times would go backwards.
inline uint64_t nowUnix()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec);
}

// The start-up of a new TSE as the service runs it, ending with nobody
// logged in and the TSE active.
inline void initialiseDevice(const TempDevice &device)
{
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    ASSERT_EQ(ExecutionOk, setPins());
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    ASSERT_EQ(ExecutionOk, se_initialize());
    ASSERT_EQ(ExecutionOk, login("TimeAdmin", kTimeAdminPin));
    ASSERT_EQ(ExecutionOk, se_updateTime(nowUnix()));
    ASSERT_EQ(ExecutionOk, logout("TimeAdmin"));
    ASSERT_EQ(ExecutionOk, logout("Admin"));
}

inline se_result_t mapClient(const std::string &client)
{
    const Bytes serial = serialNumber();
    if (login("Admin", kAdminPin) != ExecutionOk)
        return ErrorAuthenticationFailed;
    const se_result_t rc = se_mapERStoKey(client.data(), len(client), serial.data(), static_cast<uint32_t>(serial.size()));
    logout("Admin");
    return rc;
}

struct Signed {
    se_result_t rc = ExecutionOk;
    uint64_t logTime = 0;
    Bytes serial;
    uint32_t signatureCounter = 0;
    Bytes signature;
    uint32_t transactionNumber = 0;
};

inline Signed start(const std::string &client)
{
    se_StartTransactionResult_t r{};
    Signed s;
    s.rc = se_startTransaction(client.data(), len(client), nullptr, 0, "", 0, nullptr, 0, &r);
    s.logTime = r.logTime;
    s.serial = take(r.serialNumber, r.serialNumberLength);
    s.signatureCounter = r.signatureCounter;
    s.signature = take(r.signatureValue, r.signatureValueLength);
    s.transactionNumber = r.transactionNumber;
    return s;
}

inline Signed finish(const std::string &client, uint32_t number, const std::string &data = "Beleg^12.50",
                     const std::string &type = "Kassenbeleg-V1")
{
    se_FinishTransactionResult_t r{};
    Signed s;
    s.rc = se_finishTransaction(client.data(), len(client), number, u8(data.c_str()), len(data), type.data(),
                                len(type), nullptr, 0, &r);
    s.logTime = r.logTime;
    s.serial = take(r.serialNumber, r.serialNumberLength);
    s.signatureCounter = r.signatureCounter;
    s.signature = take(r.signatureValue, r.signatureValueLength);
    s.transactionNumber = number;
    return s;
}

inline uint32_t transactionCounter()
{
    uint32_t n = 0;
    return se_getTransactionCounter(&n) == ExecutionOk ? n : 0xFFFFFFFFu;
}

inline uint32_t signatureCounter()
{
    const Bytes serial = serialNumber();
    uint32_t n = 0;
    return se_getSignatureCounter(serial.data(), static_cast<uint32_t>(serial.size()), &n) == ExecutionOk
               ? n
               : 0xFFFFFFFFu;
}

inline int32_t lifeCycle()
{
    int32_t state = -1;
    return se_getLifeCycleState(&state) == ExecutionOk ? state : -1;
}

// Names of the stored log messages.
inline std::vector<std::string> storedLogs(const TempDevice &device)
{
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(device.stateFolder())) {
        const std::string name = e.path().filename().string();
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0)
            names.push_back(name);
    }
    return names;
}

// Runs a shell command and returns its standard output.
inline std::string runCommand(const std::string &command, int *status = nullptr)
{
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    const int rc = pclose(pipe);
    if (status)
        *status = rc;
    return out;
}

// Every test leaves the library without a session.
class SoftTseTest : public ::testing::Test {
protected:
    void TearDown() override { se_close(); }
    TempDevice device;
};

} // namespace softtse_test
