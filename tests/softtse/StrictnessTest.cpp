// The software TSE refuses what a certified one refuses, and a call that
// fails leaves nothing behind: no counter, no log message, no file, no
// descriptor.
#include "SoftTseFixture.h"

#include <csignal>
#include <sys/resource.h>

using namespace softtse_test;

namespace {

class Strictness : public SoftTseTest {
protected:
    // Rewrites one key of the closed device's state file, as a device that
    // has been in use for years (or a damaged one) would hold it.
    void setStateValue(const std::string &key, const std::string &value)
    {
        const fs::path state = device.stateFolder() / "state";
        std::string text = readText(state);
        const size_t at = text.find("\n" + key + "=");
        ASSERT_NE(std::string::npos, at) << key;
        const size_t end = text.find('\n', at + 1);
        text.replace(at + 1, end - at - 1, key + "=" + value);
        writeText(state, text);
    }

    void reopen()
    {
        se_close();
        ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    }

    void closeAndSet(const std::string &key, const std::string &value)
    {
        se_close();
        setStateValue(key, value);
        ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    }

    static size_t openDescriptors()
    {
        size_t n = 0;
        for ([[maybe_unused]] const auto &e : fs::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    }
};

// Restores the file size limit and the signal it raises when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

} // namespace

TEST_F(Strictness, CertificateIsJudgedByTheTsesClock)
{
    device.setIni("certificateValidityDays=10\n");
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    const uint64_t day = 86400;
    // The time update is itself signed at the time it sets.
    EXPECT_EQ(ErrorCertificateExpired, se_updateTime(nowUnix() + 11 * day));
    EXPECT_EQ(ErrorCertificateExpired, se_updateTime(nowUnix() - 3 * day));
    EXPECT_EQ(ExecutionOk, start("K1").rc);
    ASSERT_EQ(ExecutionOk, se_updateTime(nowUnix() + 9 * day));
    const Signed late = start("K1");
    EXPECT_EQ(ExecutionOk, late.rc);
    EXPECT_GE(late.logTime, nowUnix() + 9 * day);
    ASSERT_EQ(ExecutionOk, logout("Admin"));

    // The clock has run past the certificate: transactions and system
    // operations are refused, nothing is counted, the expiry date answers.
    const uint32_t counter = signatureCounter();
    closeAndSet("timeOffset", std::to_string(20 * day));
    EXPECT_EQ(ErrorCertificateExpired, start("K1").rc);
    EXPECT_EQ(ErrorCertificateExpired, login("Admin", kAdminPin));
    EXPECT_EQ(counter, signatureCounter());
    const Bytes serial = serialNumber();
    uint64_t expiry = 0;
    EXPECT_EQ(ExecutionOk,
              se_getCertificateExpirationDate(serial.data(), static_cast<uint32_t>(serial.size()), &expiry));
    EXPECT_GT(expiry, nowUnix() + 9 * day);
    EXPECT_LT(expiry, nowUnix() + 11 * day);
}

TEST_F(Strictness, CountersStopAtTheirLargestValue)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    // 0xFFFFFFFF stays free: exports read it as "every transaction".
    closeAndSet("transactionCounter", "4294967294");
    EXPECT_EQ(ErrorStartTransactionFailed, start("K1").rc);
    EXPECT_EQ(4294967294u, transactionCounter());
    closeAndSet("transactionCounter", "7");

    closeAndSet("signatureCounter", "4294967294");
    const Signed last = start("K1");
    ASSERT_EQ(ExecutionOk, last.rc);
    EXPECT_EQ(4294967295u, last.signatureCounter);
    const size_t logs = storedLogs(device).size();
    EXPECT_EQ(ErrorFinishTransactionFailed, finish("K1", last.transactionNumber).rc);
    EXPECT_EQ(ErrorStartTransactionFailed, start("K1").rc);
    EXPECT_EQ(ErrorSigningSystemOperationDataFailed, login("Admin", kAdminPin));
    EXPECT_EQ(4294967295u, signatureCounter());
    EXPECT_EQ(logs, storedLogs(device).size());
}

TEST_F(Strictness, StateWithExtremeValuesReadsWithoutOverflow)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    closeAndSet("timeOffset", "9223372036854775807");
    EXPECT_EQ(ErrorCertificateExpired, start("K1").rc);
    closeAndSet("timeOffset", "-9223372036854775808");
    EXPECT_EQ(ErrorCertificateExpired, start("K1").rc);
    closeAndSet("timeOffset", "0");
    closeAndSet("lastTimeUpdateMs", "-9223372036854775808");
    EXPECT_EQ(ErrorTimeNotSet, start("K1").rc);
    closeAndSet("storedLogBytes", "18446744073709551615");
    closeAndSet("lastTimeUpdateMs", std::to_string(nowUnix() * 1000));
    EXPECT_EQ(ErrorStorageFailure, start("K1").rc);
    se_close();
    setStateValue("signatureCounter", "4294967296"); // one more than a counter holds
    EXPECT_NE(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
}

TEST_F(Strictness, FailedWritesLeaveNoTrace)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const Signed opened = start("K1");
    ASSERT_EQ(ExecutionOk, opened.rc);
    const std::string stateBefore = readText(device.stateFolder() / "state");
    const size_t logs = storedLogs(device).size();
    for (const char *fault : {"store.log = 1 once\n", "store.state = 1 once\n"}) {
        device.setFaults(fault);
        EXPECT_EQ(ErrorStorageFailure, finish("K1", opened.transactionNumber).rc) << fault;
        EXPECT_EQ(logs, storedLogs(device).size()) << fault;
        EXPECT_EQ(stateBefore, readText(device.stateFolder() / "state")) << fault;
        reopen();
        EXPECT_EQ(opened.signatureCounter, signatureCounter()) << fault;
    }
    const Signed done = finish("K1", opened.transactionNumber);
    ASSERT_EQ(ExecutionOk, done.rc);
    EXPECT_EQ(opened.signatureCounter + 1, done.signatureCounter);
}

TEST_F(Strictness, LogWrittenBeforeACrashIsCountedAtTheNextOpen)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const Signed s = start("K1");
    ASSERT_EQ(ExecutionOk, s.rc);
    se_close();
    // The message of a start reached the disk, its state did not.
    const std::string name = "Unixt_" + std::to_string(s.logTime) + "_Sig-" + std::to_string(s.signatureCounter + 1) +
                             "_Log-Tra_No-" + std::to_string(s.transactionNumber + 1) + "_Start_Client-K1.log";
    writeText(device.stateFolder() / name, "x");
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    const Signed next = start("K1");
    ASSERT_EQ(ExecutionOk, next.rc);
    EXPECT_EQ(s.signatureCounter + 2, next.signatureCounter);
    EXPECT_EQ(s.transactionNumber + 2, next.transactionNumber);
}

TEST_F(Strictness, StateKeepsClientIdsWithEveryPunctuationThroughAReopen)
{
    initialiseDevice(device);
    const std::string odd = "K ='()+,-./:?";
    ASSERT_EQ(ExecutionOk, mapClient(odd));
    reopen();
    EXPECT_EQ(ExecutionOk, start(odd).rc);
    EXPECT_EQ(ErrorNoERS, start("K").rc);
    uint8_t *mappings = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ExecutionOk, se_getERSMappings(&mappings, &length));
    const Bytes all = take(mappings, length);
    EXPECT_NE(std::string::npos, std::string(all.begin(), all.end()).find(odd));
}

TEST_F(Strictness, FailedExportGivesBackDescriptorAndDisk)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    for (int i = 0; i < 20; ++i) {
        const Signed s = start("K1");
        ASSERT_EQ(ExecutionOk, s.rc);
        ASSERT_EQ(ExecutionOk, finish("K1", s.transactionNumber, std::string(2000, 'x')).rc);
    }
    const fs::path target = device.path() / "EXP.TAR";
    const size_t descriptors = openDescriptors();
    {
        const FileSizeLimit full(16384); // the archive needs far more
        for (int i = 0; i < 16; ++i)
            EXPECT_NE(ExecutionOk, se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 0, SE_MAX_UINT32, 0, SE_MAX_TIME, 0,
                                                       target.c_str()));
    }
    EXPECT_EQ(descriptors, openDescriptors());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(target.string() + ".part"));
    EXPECT_EQ(ExecutionOk,
              se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 0, SE_MAX_UINT32, 0, SE_MAX_TIME, 0, target.c_str()));
    EXPECT_TRUE(fs::exists(target));
}
