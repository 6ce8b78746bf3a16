// Factory settings from softtse.ini and the fixed answers of the queries.
#include "SoftTseFixture.h"

#include <cstring>

using namespace softtse_test;

namespace {

class Queries : public SoftTseTest {};

TEST_F(Queries, SettingsComeFromTheIniWhenTheDeviceIsMade)
{
    device.setIni("# shop test TSE\ncertificationId = BSI-K-TR-0362-2020\ncertificateValidityDays=10\n"
                  "timeSyncInterval=60\nmaxClients=7\nmaxTransactions=9\ntotalLogMemory=1000000\nbogus=1\n"
                  "maxClients=x\n");
    initialiseDevice(device);
    char *id = nullptr;
    uint32_t idLength = 0;
    ASSERT_EQ(ExecutionOk, se_getCertificationId(&id, &idLength));
    EXPECT_EQ("BSI-K-TR-0362-2020", std::string(id, idLength));
    se_free(id);
    uint32_t n = 0;
    ASSERT_EQ(ExecutionOk, se_getTimeSyncInterval(&n));
    EXPECT_EQ(60u, n);
    ASSERT_EQ(ExecutionOk, se_getMaxNumberOfClients(&n));
    EXPECT_EQ(7u, n);
    ASSERT_EQ(ExecutionOk, se_getMaxNumberOfTransactions(&n));
    EXPECT_EQ(9u, n);
    uint64_t total = 0;
    uint64_t available = 0;
    ASSERT_EQ(ExecutionOk, se_getTotalLogMemory(&total));
    ASSERT_EQ(ExecutionOk, se_getAvailableLogMemory(&available));
    EXPECT_EQ(1000000u, total);
    EXPECT_LT(available, total); // the system logs of the start-up
    const Bytes serial = serialNumber();
    uint64_t expiry = 0;
    ASSERT_EQ(ExecutionOk, se_getCertificateExpirationDate(serial.data(), 32, &expiry));
    EXPECT_NEAR(static_cast<double>(nowUnix() + 10 * 86400), static_cast<double>(expiry), 120.0);

    // Read once: a later change of the file does not change the device.
    device.setIni("maxClients=1\n");
    ASSERT_EQ(ExecutionOk, se_close());
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    ASSERT_EQ(ExecutionOk, se_getMaxNumberOfClients(&n));
    EXPECT_EQ(7u, n);
}

TEST_F(Queries, FullLogMemoryRefusesSigning)
{
    device.setIni("totalLogMemory=3000\n");
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    se_result_t rc = ExecutionOk;
    for (int i = 0; i < 20 && rc == ExecutionOk; ++i)
        rc = start("K1").rc;
    EXPECT_EQ(ErrorStorageFailure, rc);
    uint64_t available = 1;
    ASSERT_EQ(ExecutionOk, se_getAvailableLogMemory(&available));
    EXPECT_LT(available, 400u);
}

TEST_F(Queries, FixedAnswersAndDefaults)
{
    initialiseDevice(device);
    int32_t variant = 0;
    ASSERT_EQ(ExecutionOk, se_getTimeSyncVariant(&variant));
    EXPECT_EQ(3, variant);
    EXPECT_NE(nullptr, std::strstr(se_getApiVersionString(), "SoftTSE"));
    char *id = nullptr;
    uint32_t idLength = 0;
    ASSERT_EQ(ExecutionOk, se_getCertificationId(&id, &idLength));
    EXPECT_EQ("BSI-K-TR-0000-2024", std::string(id, idLength));
    se_free(id);

    uint32_t length = 0;
    const uint8_t *unique = se_getUniqueId(&length);
    ASSERT_NE(nullptr, unique);
    const Bytes first(unique, unique + length);
    EXPECT_EQ(32u, first.size());
    ASSERT_EQ(ExecutionOk, se_close());
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    unique = se_getUniqueId(&length);
    ASSERT_NE(nullptr, unique);
    EXPECT_EQ(first, Bytes(unique, unique + length));

    Bytes wrong = serialNumber();
    wrong[5] ^= 1;
    uint32_t counter = 0;
    EXPECT_EQ(ErrorNoSuchKey, se_getSignatureCounter(wrong.data(), 32, &counter));
    EXPECT_EQ(ErrorMissingParameter, se_getSignatureCounter(nullptr, 0, &counter));
}

} // namespace
