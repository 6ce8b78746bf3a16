// When the service pings systemd's watchdog, read from the environment that
// systemd gives it. (The messages themselves: tests/e2e/test_service_manager.)
#include "platform/ServiceNotifier.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace plat;

namespace {

class ServiceNotifierEnv : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }  // the test itself may run under systemd
    void TearDown() override
    {
        ::unsetenv("WATCHDOG_USEC");
        ::unsetenv("WATCHDOG_PID");
        ::unsetenv("NOTIFY_SOCKET");
    }
};

}  // namespace

TEST_F(ServiceNotifierEnv, PingsAtHalfTheWatchdogTimeForThisProcessOnly)
{
    ::setenv("WATCHDOG_USEC", "60000000", 1);
    EXPECT_EQ(ServiceNotifier().AliveInterval(), std::chrono::seconds(30));

    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
    EXPECT_EQ(ServiceNotifier().AliveInterval(), std::chrono::seconds(30));

    // Meant for another process (the variables were inherited).
    ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
    EXPECT_EQ(ServiceNotifier().AliveInterval().count(), 0);

    ::unsetenv("WATCHDOG_PID");
    ::setenv("WATCHDOG_USEC", "nonsense", 1);
    EXPECT_EQ(ServiceNotifier().AliveInterval().count(), 0);
}

TEST_F(ServiceNotifierEnv, AnUnreachableSocketIsReported)
{
    ::setenv("NOTIFY_SOCKET", "/nonexistent/notify", 1);
    ServiceNotifier n;
    EXPECT_NE(n.Ready(), 0);
}
