// The link to the TSE: reopening it, and the one Admin login that sets its
// clock.
#include "core/Core.h"
#include "core/TseUsers.h"

#include "platform/Ansi.h"
#include "platform/Monotonic.h"
#include "platform/Paths.h"
#include "tse/TseLib.h"

TAdminSession::TAdminSession(TCore& core, Clock clock) : core_(core)
{
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
    loginTseRes = TseRes;
    if (clock == Clock::Set) SetClockAgain();
}

void TAdminSession::SetClockAgain()
{
    tse_updateTime();
    timeTseRes = TseRes;
    // One second early, so the TSE never finds its clock overdue.
    core_.NextTimeSet = plat::MonotonicMs() + (static_cast<int64_t>(core_.TimeSyncInterval) - 1) * 1000;
}

TAdminSession::~TAdminSession()
{
    tse_logOut(TseAdminUser);
}

void TCore::ReOpenTSE(int32_t timeout)
{
    tse_close();
    tse_openDirect(plat::QToAnsi(plat::NativePath(TSE_Pfad)), static_cast<uint32_t>(timeout));
    if (TseRes != 0) return;
    TAdminSession admin(*this);
}
