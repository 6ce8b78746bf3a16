// Whether the TSE can be reached, since when, and when the next attempt to
// open it again is due. A USB TSE that loses power or a drive that vanishes
// comes back without a restart: while it is lost, the service closes and
// opens it again, first after 1 s, then doubling the pause up to 30 s, so
// that a TSE that stays away costs at most one open attempt every 30 s.
#pragma once

#include "platform/DateTime.h"

#include <cstdint>
#include <functional>

class TTseConnection {
public:
    using Clock = std::function<plat::TDateTime()>;

    static constexpr double kFirstPause = 1.0;   // seconds
    static constexpr double kLongestPause = 30.0;

    explicit TTseConnection(Clock now = plat::Now);

    // A result code that says the TSE itself cannot be reached (rather than
    // that it refused the call).
    static bool IsUnreachable(int32_t code);

    // A TSE call failed with `code`. True when this begins a loss (the
    // caller reports it once); a code that is not one of unreachability
    // changes nothing.
    bool NoteFailure(int32_t code);

    // An attempt to open the TSE again may be made now. A job waiting for the
    // TSE may try as soon as the shortest pause has passed since the last
    // attempt; without jobs the growing pause applies.
    bool AttemptDue(bool jobWaiting) const;
    // The attempt failed with `code`: the next one waits twice as long.
    void AttemptFailed(int32_t code);
    // The TSE answers again.
    void Reconnected();

    bool Lost() const { return lost_; }
    plat::TDateTime LostSince() const { return lostSince_; }
    int32_t LastError() const { return lastError_; }  // 0 while online
    double Pause() const { return pause_; }          // seconds before the next idle attempt

private:
    Clock now_;
    bool lost_ = false;
    plat::TDateTime lostSince_ = 0.0;
    plat::TDateTime lastAttempt_ = 0.0;  // the loss itself counts as the first failure
    int32_t lastError_ = 0;
    double pause_ = kFirstPause;
};
