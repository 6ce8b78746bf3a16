// Counters and state outlive the session, the process and a kill.
#include "SoftTseFixture.h"

#include <algorithm>
#include <csignal>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace softtse_test;

namespace {

class Persistence : public SoftTseTest {
protected:
    void SetUp() override
    {
        initialiseDevice(device);
        ASSERT_EQ(ExecutionOk, mapClient("K1"));
    }

    // Runs body in a child process with a session of its own; the child's
    // exit status is the result.
    int inChild(const std::function<int()> &body)
    {
        se_close();
        const pid_t pid = fork();
        if (pid == 0)
            _exit(body());
        int status = -1;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
    }
};

// Ends the child and closes the pipe however the test leaves.
struct Child {
    pid_t pid = -1;
    int readFd = -1;
    ~Child()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (readFd >= 0)
            close(readFd);
    }
};

std::vector<uint32_t> openTransactions()
{
    uint8_t *buffer = nullptr;
    uint32_t count = 0;
    if (se_getOpenTransactions(&buffer, &count) != ExecutionOk)
        return {};
    const Bytes list = take(buffer, count * 4);
    std::vector<uint32_t> numbers;
    for (size_t i = 0; i + 3 < list.size(); i += 4)
        numbers.push_back(uint32_t(list[i]) | uint32_t(list[i + 1]) << 8 | uint32_t(list[i + 2]) << 16 |
                          uint32_t(list[i + 3]) << 24);
    return numbers;
}

std::set<uint32_t> storedCounters(const TempDevice &device, size_t &files)
{
    std::set<uint32_t> counters;
    const std::vector<std::string> names = storedLogs(device);
    files = names.size();
    for (const std::string &n : names) {
        const size_t at = n.find("_Sig-");
        counters.insert(static_cast<uint32_t>(std::stoul(n.substr(at + 5))));
    }
    return counters;
}

TEST_F(Persistence, CountersAndOpenTransactionsSurviveReopening)
{
    const Signed open = start("K1");
    ASSERT_EQ(ExecutionOk, finish("K1", start("K1").transactionNumber).rc);
    const uint32_t signatures = signatureCounter();
    ASSERT_EQ(ExecutionOk, se_close());
    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(2u, transactionCounter());
    EXPECT_EQ(signatures, signatureCounter());
    EXPECT_EQ(3, lifeCycle());
    const Signed next = start("K1");
    EXPECT_EQ(3u, next.transactionNumber);
    EXPECT_EQ(signatures + 1, next.signatureCounter);
    EXPECT_EQ(ExecutionOk, finish("K1", open.transactionNumber).rc);
}

TEST_F(Persistence, AnotherProcessContinuesTheCounters)
{
    ASSERT_EQ(ExecutionOk, finish("K1", start("K1").transactionNumber).rc);
    const uint32_t signatures = signatureCounter();
    const std::string path = device.str();
    const int status = inChild([&] {
        if (se_openDirect(path.c_str(), 5000) != ExecutionOk)
            return 1;
        const Signed s = start("K1");
        if (s.rc != ExecutionOk || s.transactionNumber != 2 || s.signatureCounter != signatures + 1)
            return 2;
        return finish("K1", s.transactionNumber).rc == ExecutionOk ? 0 : 3;
    });
    ASSERT_EQ(0, status);
    ASSERT_EQ(ExecutionOk, se_openDirect(path.c_str(), 5000));
    EXPECT_EQ(2u, transactionCounter());
    EXPECT_EQ(signatures + 2, signatureCounter());
}

TEST_F(Persistence, ProcessesSharingAnOpenDeviceSeeEachOthersCounters)
{
    const Signed first = start("K1");
    ASSERT_EQ(ExecutionOk, first.rc);
    const std::string path = device.str();
    const pid_t pid = fork(); // this session stays open meanwhile
    if (pid == 0) {
        if (se_openDirect(path.c_str(), 5000) != ExecutionOk)
            _exit(1);
        const Signed s = start("K1");
        _exit(s.rc == ExecutionOk && s.transactionNumber == first.transactionNumber + 1 ? 0 : 2);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    const Signed next = start("K1");
    ASSERT_EQ(ExecutionOk, next.rc);
    EXPECT_EQ(first.transactionNumber + 2, next.transactionNumber);
    EXPECT_EQ(first.signatureCounter + 2, next.signatureCounter);
}

TEST_F(Persistence, KilledProcessNeverHandsOutACounterTwice)
{
    const std::string path = device.str();
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    se_close();
    Child child;
    child.readFd = fds[0];
    child.pid = fork();
    if (child.pid == 0) {
        close(fds[0]);
        if (se_openDirect(path.c_str(), 5000) != ExecutionOk)
            _exit(1);
        for (;;) {
            const Signed s = start("K1");
            const Signed f = finish("K1", s.transactionNumber);
            const uint32_t reported[3] = {s.transactionNumber, s.signatureCounter, f.signatureCounter};
            if (s.rc != ExecutionOk || f.rc != ExecutionOk || write(fds[1], reported, sizeof reported) < 0)
                _exit(2);
        }
    }
    close(fds[1]);
    uint32_t maxNumber = 0;
    uint32_t maxCounter = 0;
    std::set<uint32_t> seen;
    for (int i = 0; i < 8; ++i) {
        uint32_t reported[3];
        ASSERT_EQ(static_cast<ssize_t>(sizeof reported), read(child.readFd, reported, sizeof reported));
        maxNumber = std::max(maxNumber, reported[0]);
        maxCounter = std::max({maxCounter, reported[1], reported[2]});
        EXPECT_TRUE(seen.insert(reported[1]).second);
        EXPECT_TRUE(seen.insert(reported[2]).second);
    }
    kill(child.pid, SIGKILL); // somewhere inside a call
    waitpid(child.pid, nullptr, 0);
    child.pid = -1;

    ASSERT_EQ(ExecutionOk, se_openDirect(path.c_str(), 5000));
    EXPECT_GE(transactionCounter(), maxNumber);
    EXPECT_GE(signatureCounter(), maxCounter);
    const Signed after = start("K1");
    ASSERT_EQ(ExecutionOk, after.rc);
    EXPECT_GT(after.transactionNumber, maxNumber);
    EXPECT_GT(after.signatureCounter, maxCounter);
    size_t files = 0;
    const std::set<uint32_t> counters = storedCounters(device, files);
    EXPECT_EQ(files, counters.size()); // no counter stored twice
    EXPECT_EQ(after.signatureCounter, *counters.rbegin());
}

// The process died after a log message was stored and before the state
// that counts it: the message is what the TSE did.
TEST_F(Persistence, AStoredFinishClosesItsTransactionAStoredStartOpensOne)
{
    const fs::path state = device.stateFolder() / "state";
    const Signed begun = start("K1");
    ASSERT_EQ(ExecutionOk, begun.rc);
    const std::string beforeFinish = readText(state);
    ASSERT_EQ(ExecutionOk, finish("K1", begun.transactionNumber).rc);
    const Signed later = start("K1");
    ASSERT_EQ(ExecutionOk, later.rc);
    ASSERT_EQ(ExecutionOk, se_close());
    // The state as it was before both: the finish and the second start are
    // only in their messages.
    writeText(state, beforeFinish);

    ASSERT_EQ(ExecutionOk, se_openDirect(device.str().c_str(), 5000));
    EXPECT_EQ(std::vector<uint32_t>{later.transactionNumber}, openTransactions());
    EXPECT_EQ(ErrorTransactionNumberNotFound, finish("K1", begun.transactionNumber).rc);
    EXPECT_EQ(ExecutionOk, finish("K1", later.transactionNumber).rc);
    EXPECT_GT(start("K1").transactionNumber, later.transactionNumber);
}

} // namespace
