// Clients, transactions, their counters and limits, and the clock.
#include "SoftTseFixture.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

using namespace softtse_test;

namespace {

class Transactions : public SoftTseTest {};

TEST_F(Transactions, UnmappedClientIsRefusedUntilMapped)
{
    initialiseDevice(device);
    EXPECT_EQ(ErrorNoERS, start("KASSE1").rc);
    ASSERT_EQ(ExecutionOk, mapClient("KASSE1"));
    const uint32_t before = signatureCounter();
    const Signed s = start("KASSE1");
    ASSERT_EQ(ExecutionOk, s.rc);
    EXPECT_EQ(1u, s.transactionNumber);
    EXPECT_EQ(before + 1, s.signatureCounter);
    EXPECT_EQ(serialNumber(), s.serial);
    EXPECT_EQ(96u, s.signature.size());
    EXPECT_NEAR(static_cast<double>(nowUnix()), static_cast<double>(s.logTime), 5.0);

    const Signed f = finish("KASSE1", s.transactionNumber);
    ASSERT_EQ(ExecutionOk, f.rc);
    EXPECT_EQ(s.signatureCounter + 1, f.signatureCounter);
    EXPECT_EQ(96u, f.signature.size());
    EXPECT_EQ(1u, transactionCounter());
    EXPECT_EQ(s.transactionNumber + 1, start("KASSE1").transactionNumber);
}

TEST_F(Transactions, MappingChecksSerialDuplicatesLengthAndCapacity)
{
    device.setIni("maxClients=2\n");
    initialiseDevice(device);
    Bytes serial = serialNumber();
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    Bytes other = serial;
    other[0] ^= 0xFF;
    EXPECT_EQ(ErrorNoSuchKey, se_mapERStoKey("K1", 2, other.data(), 32));
    EXPECT_EQ(ErrorParameterMismatch, se_mapERStoKey(std::string(31, 'K').c_str(), 31, serial.data(), 32));
    EXPECT_EQ(ExecutionOk, se_mapERStoKey(std::string(30, 'K').c_str(), 30, serial.data(), 32));
    EXPECT_EQ(ExecutionOk, se_mapERStoKey("K1", 2, serial.data(), 32));
    EXPECT_EQ(ErrorERSalreadyMapped, se_mapERStoKey("K1", 2, serial.data(), 32));
    EXPECT_EQ(ErrorTooManyRecords, se_mapERStoKey("K2", 2, serial.data(), 32));
    uint32_t clients = 0;
    ASSERT_EQ(ExecutionOk, se_getCurrentNumberOfClients(&clients));
    EXPECT_EQ(2u, clients);

    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ExecutionOk, se_getERSMappings(&buffer, &length));
    const Bytes der = take(buffer, length);
    Bytes expected{0x30, 0x26, 0x04, 0x02, 'K', '1', 0x04, 0x20};
    for (uint8_t b : serial)
        expected.push_back(b);
    EXPECT_EQ(expected, Bytes(der.end() - 40, der.end()));
    EXPECT_EQ(0x30, der[0]);
}

TEST_F(Transactions, NoMappingsGiveAnEmptySequence)
{
    initialiseDevice(device);
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ExecutionOk, se_getERSMappings(&buffer, &length));
    EXPECT_EQ((Bytes{0x30, 0x00}), take(buffer, length));
}

TEST_F(Transactions, FinishNeedsAnOpenTransactionAndItsOwnMappedClient)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    ASSERT_EQ(ExecutionOk, mapClient("K2"));
    const Signed s = start("K1");
    ASSERT_EQ(ExecutionOk, s.rc);
    EXPECT_EQ(ErrorTransactionNumberNotFound, finish("K1", s.transactionNumber + 1).rc);
    EXPECT_EQ(ErrorNoERS, finish("K3", s.transactionNumber).rc);
    const uint32_t counter = signatureCounter();
    EXPECT_EQ(ErrorParameterMismatch, finish("K2", s.transactionNumber).rc); // not the client that started it
    EXPECT_EQ(counter, signatureCounter());
    EXPECT_EQ(ExecutionOk, finish("K1", s.transactionNumber).rc);
    EXPECT_EQ(counter + 1, signatureCounter());
    EXPECT_EQ(ErrorTransactionNumberNotFound, finish("K1", s.transactionNumber).rc);
    EXPECT_EQ(counter + 1, signatureCounter());
}

TEST_F(Transactions, OpenTransactionsAreListedAndLimited)
{
    device.setIni("maxTransactions=2\n");
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const Signed a = start("K1");
    const Signed b = start("K1");
    ASSERT_EQ(ExecutionOk, b.rc);
    const uint32_t counter = signatureCounter();
    EXPECT_EQ(ErrorTooManyRecords, start("K1").rc);
    EXPECT_EQ(counter, signatureCounter());
    EXPECT_EQ(2u, transactionCounter());

    uint8_t *buffer = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(ExecutionOk, se_getOpenTransactions(&buffer, &count));
    const Bytes list = take(buffer, count * 4);
    EXPECT_EQ(2u, count);
    EXPECT_EQ((Bytes{1, 0, 0, 0, 2, 0, 0, 0}), list);
    uint32_t open = 0;
    ASSERT_EQ(ExecutionOk, se_getCurrentNumberOfTransactions(&open));
    EXPECT_EQ(2u, open);

    ASSERT_EQ(ExecutionOk, finish("K1", a.transactionNumber).rc);
    EXPECT_EQ(3u, start("K1").transactionNumber);
}

TEST_F(Transactions, RunOutTimeSyncIntervalStopsSigningUntilUpdated)
{
    device.setIni("timeSyncInterval=1\n");
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    uint32_t interval = 0;
    ASSERT_EQ(ExecutionOk, se_getTimeSyncInterval(&interval));
    EXPECT_EQ(1u, interval);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(ErrorTimeNotSet, start("K1").rc);
    EXPECT_EQ(3, lifeCycle());
    ASSERT_EQ(ExecutionOk, login("TimeAdmin", kTimeAdminPin));
    ASSERT_EQ(ExecutionOk, se_updateTime(nowUnix()));
    EXPECT_EQ(ExecutionOk, start("K1").rc);
}

TEST_F(Transactions, ClockRunsOnFromTheTimeSet)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    ASSERT_EQ(ExecutionOk, login("Admin", kAdminPin));
    const uint64_t set = nowUnix() + 3600; // inside the certificate's validity
    ASSERT_EQ(ExecutionOk, se_updateTime(set));
    const Signed s = start("K1");
    ASSERT_EQ(ExecutionOk, s.rc);
    EXPECT_GE(s.logTime, set);
    EXPECT_LE(s.logTime, set + 5);
}

TEST_F(Transactions, SystemOperationsTakeSignatureCounters)
{
    initialiseDevice(device);
    const uint32_t before = signatureCounter();
    ASSERT_EQ(ExecutionOk, mapClient("K1")); // login, map, logout
    EXPECT_EQ(before + 3, signatureCounter());
}

TEST_F(Transactions, TwoThreadsNeverShareACounter)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    ASSERT_EQ(ExecutionOk, mapClient("K2"));
    std::mutex m;
    std::vector<uint32_t> counters;
    std::vector<uint32_t> numbers;
    bool allOk = true;
    auto work = [&](const std::string &client) {
        for (int i = 0; i < 6; ++i) {
            const Signed s = start(client);
            const Signed f = finish(client, s.transactionNumber);
            std::lock_guard<std::mutex> lock(m);
            allOk = allOk && s.rc == ExecutionOk && f.rc == ExecutionOk;
            counters.push_back(s.signatureCounter);
            counters.push_back(f.signatureCounter);
            numbers.push_back(s.transactionNumber);
        }
    };
    std::thread a(work, "K1");
    std::thread b(work, "K2");
    a.join();
    b.join();
    EXPECT_TRUE(allOk);
    EXPECT_EQ(counters.size(), std::set<uint32_t>(counters.begin(), counters.end()).size());
    EXPECT_EQ(numbers.size(), std::set<uint32_t>(numbers.begin(), numbers.end()).size());
    EXPECT_EQ(12u, transactionCounter());
}

TEST_F(Transactions, MissingArgumentsAreRefusedWithoutSideEffects)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const uint32_t counter = signatureCounter();
    se_StartTransactionResult_t r{};
    EXPECT_EQ(ErrorMissingParameter, se_startTransaction("K1", 2, nullptr, 0, "", 0, nullptr, 0, nullptr));
    EXPECT_EQ(ErrorMissingParameter, se_startTransaction(nullptr, 0, nullptr, 0, "", 0, nullptr, 0, &r));
    EXPECT_EQ(ErrorMissingParameter, se_startTransaction("K1", 2, nullptr, 5, "", 0, nullptr, 0, &r));
    EXPECT_EQ(counter, signatureCounter());
    EXPECT_EQ(0u, transactionCounter());
}

} // namespace
