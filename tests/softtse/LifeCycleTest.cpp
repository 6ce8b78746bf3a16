// Life cycle, users and roles, sessions and the device going away.
#include "SoftTseFixture.h"

#include <cstdio>

using namespace softtse_test;

namespace {

class LifeCycle : public SoftTseTest {};

TEST_F(LifeCycle, FactoryNewTseRefusesDataQueriesUntilInitialised)
{
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(1, lifeCycle());
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    uint32_t count = 0;
    EXPECT_EQ(ErrorSeApiNotInitialized, se_exportSerialNumbers(&buffer, &length));
    EXPECT_EQ(ErrorSeApiNotInitialized, se_getERSMappings(&buffer, &length));
    EXPECT_EQ(ErrorSeApiNotInitialized, se_getTransactionCounter(&count));
    EXPECT_EQ(ErrorSeApiNotInitialized, se_getOpenTransactions(&buffer, &count));
    EXPECT_EQ(ErrorSeApiNotInitialized, start("KASSE1").rc);
    const std::string file = (device.path() / "x.tar").string();
    EXPECT_EQ(ErrorSeApiNotInitialized,
              se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 0, SE_MAX_UINT32, 0, SE_MAX_TIME, 0, file.c_str()));

    ASSERT_EQ(ExecutionOk, setPins());
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    ASSERT_EQ(ExecutionOk, se_initialize());
    EXPECT_EQ(2, lifeCycle());
    ASSERT_EQ(ExecutionOk, se_exportSerialNumbers(&buffer, &length));
    const Bytes der = take(buffer, length);
    ASSERT_EQ(47u, der.size());
    EXPECT_EQ((Bytes{0x30, 0x2D, 0x30, 0x2B, 0x04, 0x20}), Bytes(der.begin(), der.begin() + 6));
    EXPECT_EQ((Bytes{0x01, 0x01, 0xFF, 0x01, 0x01, 0xFF, 0x01, 0x01, 0x00}), Bytes(der.end() - 9, der.end()));
}

TEST_F(LifeCycle, TimeUpdateMakesTheTseActive)
{
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    ASSERT_EQ(ExecutionOk, setPins());
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    ASSERT_EQ(ExecutionOk, se_initialize());
    EXPECT_EQ(ErrorStoringInitDataFailed, se_initialize());
    ASSERT_EQ(ExecutionOk, se_mapERStoKey("K1", 2, serialNumber().data(), 32));
    EXPECT_EQ(ErrorTimeNotSet, start("K1").rc);
    ASSERT_EQ(ExecutionOk, se_updateTime(nowUnix()));
    EXPECT_EQ(3, lifeCycle());
    EXPECT_EQ(ExecutionOk, start("K1").rc);
}

TEST_F(LifeCycle, DeactivationStopsSigningUntilReactivated)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    EXPECT_EQ(ErrorUserNotAuthenticated, se_deactivateTSE());
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    EXPECT_EQ(ErrorSeApiNotDeactivated, se_activateTSE());
    ASSERT_EQ(ExecutionOk, se_deactivateTSE());
    EXPECT_EQ(4, lifeCycle());
    EXPECT_EQ(ErrorSeApiDeactivated, se_deactivateTSE());
    EXPECT_EQ(ErrorSeApiDeactivated, start("K1").rc);
    EXPECT_EQ(ExecutionOk, se_updateTime(nowUnix()));
    ASSERT_EQ(ExecutionOk, se_activateTSE());
    EXPECT_EQ(3, lifeCycle());
    EXPECT_EQ(ExecutionOk, start("K1").rc);
}

TEST_F(LifeCycle, WrongPinsCostRetriesUntilBlocked)
{
    initialiseDevice(device);
    int32_t result = -1;
    int16_t retries = -1;
    EXPECT_EQ(ErrorAuthenticationFailed, login("Admin", "wrong", &result, &retries));
    EXPECT_EQ(1, result);
    EXPECT_EQ(2, retries);
    EXPECT_EQ(ExecutionOk, login("Admin", kAdminPin, &result, &retries));
    EXPECT_EQ(0, result);
    EXPECT_EQ(3, retries);
    ASSERT_EQ(ExecutionOk, logout("Admin"));

    EXPECT_EQ(ErrorAuthenticationFailed, login("Admin", "wrong1", &result, &retries));
    EXPECT_EQ(ErrorAuthenticationFailed, login("Admin", "wrong2", &result, &retries));
    EXPECT_EQ(1, result);
    EXPECT_EQ(1, retries);
    EXPECT_EQ(ErrorAuthenticationFailed, login("Admin", "wrong3", &result, &retries));
    EXPECT_EQ(2, result);
    EXPECT_EQ(0, retries);
    // Blocked, also with the right PIN and after reopening.
    ASSERT_EQ(ExecutionOk, se_close());
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ErrorAuthenticationFailed, login("Admin", kAdminPin, &result, &retries));
    EXPECT_EQ(2, result);
    EXPECT_EQ(0, retries);
    EXPECT_EQ(ErrorUserNotAuthenticated, se_deactivateTSE());
    // The other user keeps its own retries.
    EXPECT_EQ(ExecutionOk, login("TimeAdmin", kTimeAdminPin, &result, &retries));
    EXPECT_EQ(3, retries);
    EXPECT_EQ(ErrorAuthenticationFailed, login("Kassierer", "1234", &result, &retries));
    EXPECT_EQ(3, result);
}

TEST_F(LifeCycle, EachRoleMayDoOnlyItsOwnWork)
{
    initialiseDevice(device);
    const Bytes serial = serialNumber();
    EXPECT_EQ(ErrorUserNotAuthenticated, se_updateTime(nowUnix()));
    EXPECT_EQ(ErrorUserNotAuthenticated, se_mapERStoKey("K1", 2, serial.data(), 32));
    ASSERT_EQ(ExecutionOk, login("TimeAdmin", kTimeAdminPin));
    EXPECT_EQ(ExecutionOk, se_updateTime(nowUnix()));
    EXPECT_EQ(ErrorUserNotAuthorized, se_mapERStoKey("K1", 2, serial.data(), 32));
    EXPECT_EQ(ErrorUserNotAuthorized, se_deactivateTSE());
    ASSERT_EQ(ExecutionOk, logout("TimeAdmin"));
    EXPECT_EQ(ErrorUserIdNotAuthenticated, logout("TimeAdmin"));
    EXPECT_EQ(ErrorUserIdNotManaged, logout("Kassierer"));
    EXPECT_EQ(ErrorUserNotAuthenticated, se_updateTime(nowUnix()));
    EXPECT_EQ(ErrorStoringInitDataFailed, setPins());
}

TEST_F(LifeCycle, LoginsEndWithTheSession)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    ASSERT_EQ(ExecutionOk, se_close());
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ErrorUserNotAuthenticated, se_deactivateTSE());
}

TEST_F(LifeCycle, OpenNeedsTheDirectoryWithItsMarker)
{
    uint32_t n = 0;
    EXPECT_EQ(ErrorNoStartup, se_getMaxNumberOfClients(&n));
    EXPECT_EQ(ErrorNoStartup, se_close());
    EXPECT_EQ(ErrorSECommunicationFailed, se_openDirect((device.str() + "/missing").c_str(), 5000));
    fs::create_directories(device.path() / "empty");
    EXPECT_EQ(ErrorSECommunicationFailed, se_openDirect((device.path() / "empty").c_str(), 5000));
    EXPECT_FALSE(fs::exists(device.path() / "empty" / ".softtse"));
    EXPECT_EQ(ExecutionOk, se_openDirect((device.str() + "/").c_str(), 5000));
    EXPECT_EQ(ExecutionOk, se_getMaxNumberOfClients(&n));
    EXPECT_EQ(100u, n);
}

TEST_F(LifeCycle, RemovedStickFailsUntilPutBackAndOpenedAgain)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const std::string away = device.str() + "-away";
    ASSERT_EQ(0, std::rename(device.str().c_str(), away.c_str()));
    EXPECT_EQ(ErrorSECommunicationFailed, start("K1").rc);
    EXPECT_EQ(-1, lifeCycle());
    ASSERT_EQ(0, std::rename(away.c_str(), device.str().c_str()));
    int32_t state = 0;
    EXPECT_EQ(ErrorSECommunicationFailed, se_getLifeCycleState(&state));
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ExecutionOk, start("K1").rc);
}

TEST_F(LifeCycle, MarkerDeletedOnAnOpenDeviceFailsCalls)
{
    initialiseDevice(device);
    fs::remove(device.path() / "TSE-IO.bin");
    int32_t state = 0;
    EXPECT_EQ(ErrorSECommunicationFailed, se_getLifeCycleState(&state));
    writeText(device.path() / "TSE-IO.bin", "\n");
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(3, lifeCycle());
}

} // namespace
