#include "platform/Monotonic.h"

#include <chrono>
#include <mutex>

namespace plat {

namespace {

std::mutex& OverrideMutex()
{
    static std::mutex m;
    return m;
}

std::function<int64_t()>& OverrideFunction()
{
    static std::function<int64_t()> f;
    return f;
}

}  // namespace

int64_t MonotonicMs()
{
    std::function<int64_t()> f;
    {
        std::lock_guard<std::mutex> lock(OverrideMutex());
        f = OverrideFunction();
    }
    if (f) return f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SetMonotonicOverride(std::function<int64_t()> now)
{
    std::lock_guard<std::mutex> lock(OverrideMutex());
    OverrideFunction() = std::move(now);
}

}  // namespace plat
