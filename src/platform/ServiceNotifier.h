// What the service tells systemd about itself (Type=notify): that the
// start-up has ended, that it is still alive, that it is ending. Outside
// systemd (no NOTIFY_SOCKET) every call does nothing and succeeds.
#pragma once

#include <chrono>
#include <cstdint>

namespace plat {

class ServiceNotifier {
public:
    // Reads NOTIFY_SOCKET and WATCHDOG_USEC (with WATCHDOG_PID, when set,
    // naming this process) once.
    ServiceNotifier();

    // Each returns 0 or an errno value.
    int Ready();     // READY=1
    int Alive();     // WATCHDOG=1
    int Stopping();  // STOPPING=1, sent once however often it is called

    // A call that holds the thread of the pings longer than the watchdog
    // allows (a TSE's data export of many transactions) stretches the
    // watchdog's time to `allowed` first; LongCallEnds sets it back. Both do
    // nothing without a watchdog.
    int LongCallBegins(std::chrono::seconds allowed);
    int LongCallEnds();

    // How often Alive is due: half the watchdog's time, so that one late
    // ping is not yet a missed one; zero when no watchdog is set.
    std::chrono::milliseconds AliveInterval() const { return aliveInterval_; }

private:
    int Send(const char* state);

    std::chrono::milliseconds aliveInterval_{0};
    uint64_t watchdogUsec_ = 0;
    bool stoppingSent_ = false;
};

}  // namespace plat
