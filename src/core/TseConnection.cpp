#include "core/TseConnection.h"

#include "tse/TseLib_C_Dekl.h"

#include <algorithm>

namespace {

constexpr double kSecondsPerDay = 86400.0;

}  // namespace

TTseConnection::TTseConnection(Clock now) : now_(std::move(now)) {}

bool TTseConnection::IsUnreachable(int32_t code)
{
    switch (code & 0xFFFF) {
    case ErrorSECommunicationFailed:
    case ErrorIO:           // the drive's file system is gone under the TSE
    case ErrorTSETimeout:
    case ErrorTransport:
    case ErrorNoStartup:    // the library lost its session with the TSE
    case ErrorNoStorage:
        return true;
    default:
        return false;
    }
}

bool TTseConnection::NoteFailure(int32_t code)
{
    if (!IsUnreachable(code)) return false;
    lastError_ = code;
    if (lost_) return false;
    lost_ = true;
    lostSince_ = now_();
    lastAttempt_ = lostSince_;
    pause_ = kFirstPause;
    return true;
}

bool TTseConnection::AttemptDue(bool jobWaiting) const
{
    if (!lost_) return false;
    const double waited = (now_() - lastAttempt_) * kSecondsPerDay;
    // A clock set back must not hold the attempts off for hours.
    if (waited < 0) return true;
    // Date-time values hold milliseconds; closer than that counts as there.
    return waited + 0.001 >= (jobWaiting ? kFirstPause : pause_);
}

void TTseConnection::AttemptFailed(int32_t code)
{
    if (code != 0) lastError_ = code;
    lastAttempt_ = now_();
    pause_ = std::min(pause_ * 2, kLongestPause);
}

void TTseConnection::Reconnected()
{
    lost_ = false;
    lastError_ = 0;
    pause_ = kFirstPause;
}
