// A clock that only runs forward: for "when is this due" and "how long ago",
// which must not jump when the wall clock is set or summer time ends.
#pragma once

#include <cstdint>
#include <functional>

namespace plat {

// Milliseconds since an unspecified start (the computer's boot).
int64_t MonotonicMs();

// Tests move the clock: while set, MonotonicMs() returns what the function gives.
void SetMonotonicOverride(std::function<int64_t()> now);

}  // namespace plat
