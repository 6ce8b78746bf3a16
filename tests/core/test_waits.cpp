// The core's pauses and waits and the requests deferred while an operation
// holds the TSE.
#include "support/AppFixture.h"

#include <atomic>
#include <stdexcept>
#include <thread>

using testenv::AppFixture;
using testenv::RunUntil;

class WaitTest : public AppFixture {};

// ---- Pauses, waits and deferred requests ------------------------------------

TEST_F(WaitTest, DelayHandlesWaitingEventsEvenForZero)
{
    Create();
    int handled = 0;
    QMetaObject::invokeMethod(service.get(), [&] { ++handled; }, Qt::QueuedConnection);
    core().Delay(0);
    EXPECT_EQ(handled, 1);
    QMetaObject::invokeMethod(service.get(), [&] { ++handled; }, Qt::QueuedConnection);
    core().Delay(-5);
    EXPECT_EQ(handled, 2);
}

TEST_F(WaitTest, WaitWhileEndsWhenAnotherThreadWakesIt)
{
    Create();
    std::atomic<bool> busy{true};
    std::thread worker([&] {
        busy = false;
        core().WakeWaits();
    });
    core().WaitWhile([&] { return busy.load(); });
    worker.join();
    EXPECT_FALSE(busy);
}

TEST_F(WaitTest, RequestsDuringAnOperationRunInOrderAfterIt)
{
    Create();
    QStringList ran;
    core().SetTseRunning(true);
    core().RunWhenTseIdle([&] { ran << "first"; });
    core().RunWhenTseIdle([&] { throw std::runtime_error("kaputt"); });
    core().RunWhenTseIdle([&] { ran << "third"; });
    core().Delay(10);
    EXPECT_TRUE(ran.isEmpty());
    core().SetTseRunning(false);
    EXPECT_TRUE(ran.isEmpty());  // not inside the operation that ends
    ASSERT_TRUE(RunUntil([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, QStringList({"first", "third"}));
    // The failing request reached the error box; the others still ran.
    EXPECT_EQ(dialogs.asked, QStringList({"error: kaputt"}));
    // With the TSE idle a request runs at once.
    core().RunWhenTseIdle([&] { ran << "now"; });
    EXPECT_EQ(ran.last(), "now");
}

