#include "platform/ServiceNotifier.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <systemd/sd-daemon.h>

namespace plat {

ServiceNotifier::ServiceNotifier()
{
    uint64_t usec = 0;
    // 0: the variables stay in the environment; the program starts no other
    // process that could take them for its own.
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    watchdogUsec_ = usec;
    aliveInterval_ = std::max(std::chrono::milliseconds(1),
                              std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec / 2)));
}

int ServiceNotifier::Send(const char* state)
{
    // Negative errno on failure, 0 without a socket to tell, positive when sent.
    const int rc = sd_notify(0, state);
    return rc < 0 ? -rc : 0;
}

int ServiceNotifier::Ready()
{
    return Send("READY=1");
}

int ServiceNotifier::Alive()
{
    return Send("WATCHDOG=1");
}

int ServiceNotifier::LongCallBegins(std::chrono::seconds allowed)
{
    if (watchdogUsec_ == 0) return 0;
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(allowed).count();
    return Send(("WATCHDOG=1\nWATCHDOG_USEC=" + std::to_string(usec)).c_str());
}

int ServiceNotifier::LongCallEnds()
{
    if (watchdogUsec_ == 0) return 0;
    return Send(("WATCHDOG_USEC=" + std::to_string(watchdogUsec_) + "\nWATCHDOG=1").c_str());
}

int ServiceNotifier::Stopping()
{
    if (stoppingSent_) return 0;
    stoppingSent_ = true;
    return Send("STOPPING=1");
}

}  // namespace plat
