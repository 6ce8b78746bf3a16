// The TSE's side of a benchmark run: the time the service spent inside the
// software TSE's calls (read from the counters the library keeps in the file
// SOFTTSE_METER names, while the service runs), and the TSE's own rate,
// measured by softtse_bench in a process of its own right before and right
// after each figure, so that every figure is set beside the rate of its own
// minutes. Linux only.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace bench {

class TseMeter {
public:
    struct Reading {
        uint64_t calls = 0, callNs = 0;
        uint64_t transactionCalls = 0, transactionNs = 0;
        uint64_t callCpuNs = 0, transactionCpuNs = 0;
        Reading operator-(const Reading& o) const
        {
            return {calls - o.calls, callNs - o.callNs, transactionCalls - o.transactionCalls,
                    transactionNs - o.transactionNs, callCpuNs - o.callCpuNs, transactionCpuNs - o.transactionCpuNs};
        }
    };

    explicit TseMeter(const QString& path);  // empty: no meter
    ~TseMeter();
    TseMeter(const TseMeter&) = delete;
    TseMeter& operator=(const TseMeter&) = delete;

    // Whether the service's TSE keeps the counters (the file is mapped and
    // carries the library's mark).
    bool ok() const;
    Reading Read() const;

private:
    const void* map_ = nullptr;
};

// What softtse_bench printed: start+finish pairs per second and the
// processor time a pair; rate 0 when it failed.
struct TseRateFigure {
    double rate = 0;
    double cpuMs = 0;
};
// Runs the command (softtse_bench with its arguments).
TseRateFigure MeasureTseRate(const std::string& command);

}  // namespace bench
