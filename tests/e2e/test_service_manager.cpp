// The service under systemd (Type=notify): the test stands in for systemd
// with a datagram socket of its own and reads what the program tells it.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <poll.h>
#include <string>
#include <vector>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// systemd's end of NOTIFY_SOCKET, closed with the test.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : path_(path.toStdString())
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (fd_ < 0 || path_.size() >= sizeof addr.sun_path) return;
        path_.copy(addr.sun_path, path_.size());
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool Bound() const { return bound_; }

    // The next message, or "" when none came within ms.
    std::string Next(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return {};
        char buf[4096];
        const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};


// The test stands in for systemd: its socket is NOTIFY_SOCKET of a service
// started with the given WATCHDOG_USEC (none when empty).
class ServiceManager : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    NotifySocket systemd{tmp.filePath("notify")};
    e2e::Service svc;

    void StartUnder(const QString& watchdogUsec)
    {
        ASSERT_TRUE(systemd.Bound());
        svc.SetEnvironment("NOTIFY_SOCKET", tmp.filePath("notify"));
        if (!watchdogUsec.isEmpty()) svc.SetEnvironment("WATCHDOG_USEC", watchdogUsec);
        QString why;
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    }
};

}  // namespace

TEST_F(ServiceManager, ReadyThenWatchdogPingsThenStoppingAtTheEnd)
{
    ASSERT_NO_FATAL_FAILURE(StartUnder("400000"));  // a ping due every 200 ms

    // Nothing before the start-up has ended: a watchdog runs only from READY on.
    EXPECT_EQ(systemd.Next(5000), "READY=1");
    int pings = 0;
    for (std::string m; (m = systemd.Next(1000)) == "WATCHDOG=1" && pings < 5;) ++pings;
    EXPECT_EQ(pings, 5);

    // Still pinging while it signs.
    const e2e::ClientResult bon = svc.Client({"bon", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    EXPECT_EQ(systemd.Next(1000), "WATCHDOG=1");

    // SIGTERM, as systemd stops the unit.
    EXPECT_EQ(svc.Terminate(), 0);
    std::string m;
    while ((m = systemd.Next(1000)) == "WATCHDOG=1") {
    }
    EXPECT_EQ(m, "STOPPING=1");
    EXPECT_EQ(systemd.Next(300), "");
}

TEST_F(ServiceManager, WithoutAWatchdogOnlyReadyAndStopping)
{
    ASSERT_NO_FATAL_FAILURE(StartUnder({}));
    EXPECT_EQ(systemd.Next(5000), "READY=1");
    EXPECT_EQ(systemd.Next(600), "");
    EXPECT_EQ(svc.Terminate(), 0);
    EXPECT_EQ(systemd.Next(1000), "STOPPING=1");
}

// A pass over a flood of receipts handles the pings between its batches:
// however long the flood, systemd must not take the service for hung.
TEST_F(ServiceManager, PingsGoOnWhileAPassWorksThroughAFlood)
{
    ASSERT_NO_FATAL_FAILURE(StartUnder("400000"));  // a ping due every 200 ms
    ASSERT_EQ(systemd.Next(5000), "READY=1");

    // Each receipt takes the TSE 15 ms or more: the flood's pass lasts well
    // over a second.
    QDir().mkpath(svc.DriveDir() + "/.softtse");
    QFile faults(svc.DriveDir() + "/.softtse/faults");
    ASSERT_TRUE(faults.open(QIODevice::WriteOnly));
    faults.write("se_finishTransaction delay 15\n");
    faults.close();
    constexpr int kFlood = 100;
    ASSERT_TRUE(e2e::DropReceipts(svc.JobDir(), "FLUT", "Flutkasse", kFlood));

    int pingsDuringTheFlood = 0;
    for (int n = 0; n < 3000; ++n) {
        const int answered = e2e::CompleteAnswers(svc.JobDir(), "FLUT");
        if (answered == kFlood) break;
        if (systemd.Next(20) == "WATCHDOG=1" && answered >= 5) ++pingsDuringTheFlood;
    }
    EXPECT_EQ(e2e::CompleteAnswers(svc.JobDir(), "FLUT"), kFlood);
    EXPECT_GE(pingsDuringTheFlood, 3);
    EXPECT_EQ(svc.Terminate(), 0);
}

// An EXPORT job holds the thread of the pings for as long as the TSE takes to
// export; a long one must not look like a hung service.
TEST_F(ServiceManager, AnExportLongerThanTheWatchdogStretchesItsTime)
{
    ASSERT_NO_FATAL_FAILURE(StartUnder("400000"));
    ASSERT_EQ(systemd.Next(5000), "READY=1");

    ASSERT_EQ(svc.Client({"bon", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "Beleg^1.00:Bar"}).exitCode, 0);
    // The TSE takes four watchdog times for the export.
    QDir().mkpath(svc.DriveDir() + "/.softtse");
    QFile faults(svc.DriveDir() + "/.softtse/faults");
    ASSERT_TRUE(faults.open(QIODevice::WriteOnly));
    faults.write("se_exportDataToFile delay 1600\n");
    faults.close();
    const e2e::ClientResult exp = svc.Client({"export", "--kasid", "Kasse01"});
    EXPECT_EQ(exp.exitCode, 0) << exp.out.toStdString() << exp.err.toStdString();

    // Pings go on every 200 ms: read what was sent meanwhile, up to the
    // watchdog's time set back.
    const std::string stretch = "WATCHDOG=1\nWATCHDOG_USEC=3600000000";
    const std::string setBack = "WATCHDOG_USEC=400000\nWATCHDOG=1";
    bool stretched = false, back = false;
    for (int n = 0; n < 60 && !back; ++n) {
        const std::string m = systemd.Next(1000);
        stretched = stretched || m == stretch;
        back = stretched && m == setBack;
    }
    EXPECT_TRUE(stretched);
    EXPECT_TRUE(back);
    EXPECT_EQ(svc.Terminate(), 0);
}
