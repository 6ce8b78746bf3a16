#include "meter.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

namespace softtse {

namespace {

MeterCounters *mapCounters()
{
    const char *path = std::getenv("SOFTTSE_METER");
    if (path == nullptr || *path == '\0')
        return nullptr;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    void *p = MAP_FAILED;
    if (::ftruncate(fd, sizeof(MeterCounters)) == 0)
        p = ::mmap(nullptr, sizeof(MeterCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED)
        return nullptr;
    // A fresh mapping of a new file is zero; counters of an earlier process
    // are started anew.
    auto *c = static_cast<MeterCounters *>(p);
    std::memset(static_cast<void *>(c), 0, sizeof *c);
    c->magic = MeterCounters::kMagic;
    return c;
}

MeterCounters *counters()
{
    static MeterCounters *const c = mapCounters(); // never unmapped: calls may come until the process ends
    return c;
}

uint64_t threadCpuNs()
{
    timespec t{};
    if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0)
        return 0;
    return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

bool isTransaction(const char *function)
{
    return std::strcmp(function, "se_startTransaction") == 0 || std::strcmp(function, "se_finishTransaction") == 0;
}

} // namespace

MeterStamp::MeterStamp(const char *function) : counters_(counters())
{
    if (!counters_)
        return;
    transaction_ = isTransaction(function);
    beginCpuNs_ = threadCpuNs();
    begin_ = std::chrono::steady_clock::now();
}

MeterStamp::~MeterStamp()
{
    if (!counters_)
        return;
    const auto ns = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - begin_).count());
    const uint64_t endCpu = threadCpuNs();
    const uint64_t cpuNs = endCpu > beginCpuNs_ ? endCpu - beginCpuNs_ : 0;
    counters_->callNs.fetch_add(ns, std::memory_order_relaxed);
    counters_->callCpuNs.fetch_add(cpuNs, std::memory_order_relaxed);
    counters_->calls.fetch_add(1, std::memory_order_relaxed);
    if (transaction_) {
        counters_->transactionNs.fetch_add(ns, std::memory_order_relaxed);
        counters_->transactionCpuNs.fetch_add(cpuNs, std::memory_order_relaxed);
        counters_->transactionCalls.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace softtse
