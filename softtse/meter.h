// Time spent inside the library's calls, for benchmarks that must tell the
// TSE's share of a job from the program's around it in the same run. Off
// unless SOFTTSE_METER names a file when the first call is made; then every
// call adds its duration to counters kept in that file, mapped into memory,
// so that a call pays no system call for it and another process can read
// the counters while this one runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace softtse {

// The file's layout (native byte order), read by the benchmark driver.
// "STMETER2": the processor times were added to the first layout.
struct MeterCounters {
    static constexpr uint64_t kMagic = 0x32524554454D5453ull; // "STMETER2"
    uint64_t magic;
    std::atomic<uint64_t> calls;             // every function that takes the session
    std::atomic<uint64_t> callNs;
    std::atomic<uint64_t> transactionCalls;  // start and finish
    std::atomic<uint64_t> transactionNs;
    // The calling thread's processor time within the same calls: the rest
    // of a call's time it waited (for the disk, mostly).
    std::atomic<uint64_t> callCpuNs;
    std::atomic<uint64_t> transactionCpuNs;
};

class MeterStamp {
public:
    explicit MeterStamp(const char *function);
    ~MeterStamp();
    MeterStamp(const MeterStamp &) = delete;
    MeterStamp &operator=(const MeterStamp &) = delete;

private:
    MeterCounters *counters_;
    bool transaction_ = false;
    std::chrono::steady_clock::time_point begin_;
    uint64_t beginCpuNs_ = 0;
};

} // namespace softtse
