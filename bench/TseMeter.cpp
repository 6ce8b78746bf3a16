#include "TseMeter.h"

#include "meter.h"

#include <QFile>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace bench {

TseMeter::TseMeter(const QString& path)
{
    if (path.isEmpty()) return;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    void* p = ::mmap(nullptr, sizeof(softtse::MeterCounters), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p != MAP_FAILED) map_ = p;
}

TseMeter::~TseMeter()
{
    if (map_) ::munmap(const_cast<void*>(map_), sizeof(softtse::MeterCounters));
}

bool TseMeter::ok() const
{
    return map_ && static_cast<const softtse::MeterCounters*>(map_)->magic == softtse::MeterCounters::kMagic;
}

TseMeter::Reading TseMeter::Read() const
{
    if (!ok()) return {};
    const auto* c = static_cast<const softtse::MeterCounters*>(map_);
    Reading r;
    r.calls = c->calls.load(std::memory_order_relaxed);
    r.callNs = c->callNs.load(std::memory_order_relaxed);
    r.transactionCalls = c->transactionCalls.load(std::memory_order_relaxed);
    r.transactionNs = c->transactionNs.load(std::memory_order_relaxed);
    r.callCpuNs = c->callCpuNs.load(std::memory_order_relaxed);
    r.transactionCpuNs = c->transactionCpuNs.load(std::memory_order_relaxed);
    return r;
}

TseRateFigure MeasureTseRate(const std::string& command)
{
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return {};
    char line[512];
    TseRateFigure f;
    while (std::fgets(line, sizeof line, out)) {
        // "1000 start+finish pairs in 4.370 s: 228.9 pairs per second,
        //  3.10 ms processor time a pair"
        const char* colon = std::strrchr(line, ':');
        if (!colon || std::sscanf(colon + 1, "%lf pairs per second, %lf ms processor time a pair", &f.rate, &f.cpuMs) < 1)
            f = {};
    }
    if (::pclose(out) != 0) return {};
    return f;
}

}  // namespace bench
