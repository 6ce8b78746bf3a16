// The fault file that tests use to make the TSE misbehave.
#include "SoftTseFixture.h"

using namespace softtse_test;

namespace {

class FaultFile : public SoftTseTest {};

TEST_F(FaultFile, CodeDirectiveFailsEveryCallWithoutSideEffects)
{
    initialiseDevice(device);
    ASSERT_EQ(ExecutionOk, mapClient("K1"));
    const Signed s = start("K1");
    const uint32_t counter = signatureCounter();
    device.setFaults("se_finishTransaction = 0x3009\n");
    EXPECT_EQ(ErrorTransactionNumberNotFound, finish("K1", s.transactionNumber).rc);
    EXPECT_EQ(ErrorTransactionNumberNotFound, finish("K1", s.transactionNumber).rc);
    EXPECT_EQ(counter, signatureCounter());
    fs::remove(device.stateFolder() / "faults");
    EXPECT_EQ(ExecutionOk, finish("K1", s.transactionNumber).rc);
}

TEST_F(FaultFile, OnceDirectiveFailsOneCallAndIsRemoved)
{
    device.setFaults("# open fails once\n\nse_openDirect = 0x1004 once\nse_getTimeSyncVariant = 4101\n");
    EXPECT_EQ(ErrorSECommunicationFailed, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 10000));
    EXPECT_EQ(1, lifeCycle()); // the folder held only the fault file: a new TSE
    const std::string left = readText(device.stateFolder() / "faults");
    EXPECT_EQ(std::string::npos, left.find("se_openDirect"));
    EXPECT_NE(std::string::npos, left.find("se_getTimeSyncVariant = 4101"));
    int32_t variant = 0;
    EXPECT_EQ(0x1005, se_getTimeSyncVariant(&variant));
}

TEST_F(FaultFile, ValueDirectiveReplacesTheReportedNumber)
{
    initialiseDevice(device);
    device.setFaults("se_getLifeCycleState value 5\nnonsense line\nse_getTotalLogMemory value 0x100\n"
                     "se_getSignatureCounter value 77\nse_getMaxNumberOfClients value 010\n");
    EXPECT_EQ(5, lifeCycle());
    uint64_t memory = 0;
    ASSERT_EQ(ExecutionOk, se_getTotalLogMemory(&memory));
    EXPECT_EQ(256u, memory);
    EXPECT_EQ(77u, signatureCounter());
    uint32_t clients = 0;
    ASSERT_EQ(ExecutionOk, se_getMaxNumberOfClients(&clients));
    EXPECT_EQ(10u, clients); // decimal, not octal
    uint32_t interval = 0;
    ASSERT_EQ(ExecutionOk, se_getTimeSyncInterval(&interval));
    EXPECT_EQ(1800u, interval);
}

TEST_F(FaultFile, ChangesTakeEffectWhileTheSessionIsOpen)
{
    initialiseDevice(device);
    EXPECT_EQ(3, lifeCycle());
    device.setFaults("se_getLifeCycleState value 4\n");
    EXPECT_EQ(4, lifeCycle());
    device.setFaults("se_getLifeCycleState value 5\n"); // same size, same time stamp tick
    EXPECT_EQ(5, lifeCycle());
    device.setFaults("se_getLifeCycleState = 0x1004\n");
    EXPECT_EQ(-1, lifeCycle());
    device.setFaults("");
    EXPECT_EQ(3, lifeCycle());
}

TEST_F(FaultFile, UniqueIdIsNullUnderACodeDirective)
{
    initialiseDevice(device);
    uint32_t length = 0;
    ASSERT_NE(nullptr, se_getUniqueId(&length));
    device.setFaults("se_getUniqueId = 0x1004\n");
    EXPECT_EQ(nullptr, se_getUniqueId(&length));
}

} // namespace
