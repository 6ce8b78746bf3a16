#include "ServiceWatch.h"

#include "vok-tse-client/Answer.h"
#include "vok-tse-client/JobExchange.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <unistd.h>

namespace bench {

AnswerWatch::AnswerWatch(const QString& dir)
{
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, QFile::encodeName(dir).constData(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

AnswerWatch::~AnswerWatch()
{
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> AnswerWatch::Next(int timeoutMs)
{
    std::vector<std::string> names;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return names;
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            if (e->len > 0) {
                const std::string file = e->name;
                if (file.size() > 4 && file.compare(file.size() - 4, 4, ".SIG") == 0)
                    names.push_back(file.substr(0, file.size() - 4));
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    return names;
}

bool Collect(const QString& dir, const std::string& name, Clock::time_point submitted, Run& run)
{
    vokclient::JobFiles files{dir, QString::fromStdString(name)};
    QFile f(files.answer());
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = f.readAll();
    f.close();
    if (!vokclient::IsCompleteAnswer(bytes)) return false;
    run.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - submitted).count());
    if (!bytes.startsWith("CMD=BON OK")) ++run.errors;
    vokclient::RemoveAnswer(files);
    return true;
}

void CollectSome(const QString& dir, AnswerWatch& watch, std::vector<std::pair<Pending*, Run*>> sets,
                 int timeoutMs)
{
    const std::vector<std::string> changed = watch.Next(timeoutMs);
    for (auto& [pending, run] : sets) {
        if (changed.empty()) {
            // No notice for a while (or the notices overflowed): look at
            // every pending answer once.
            for (auto it = pending->begin(); it != pending->end();)
                it = Collect(dir, it->first, it->second, *run) ? pending->erase(it) : std::next(it);
            continue;
        }
        for (const std::string& name : changed) {
            const auto it = pending->find(name);
            if (it != pending->end() && Collect(dir, name, it->second, *run)) pending->erase(it);
        }
    }
}

void Await(const QString& dir, AnswerWatch& watch, Pending& pending, Run& run, std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!pending.empty() && Clock::now() < deadline) CollectSome(dir, watch, {{&pending, &run}}, 200);
    run.missing += static_cast<int>(pending.size());
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(p / 100.0 * v.size())));
    return v[std::min(rank, v.size()) - 1];
}

double ProcessorSeconds(long pid)
{
    // The scheduler's own count in nanoseconds, summed over the threads; the
    // utime and stime of /proc/PID/stat move in whole clock ticks (10 ms),
    // too coarse for a service that idles at a fraction of a per mille.
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    unsigned long long ns = 0;
    bool any = false;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream f(task.path() / "schedstat");
        unsigned long long onCpu = 0;
        if (f >> onCpu) {
            ns += onCpu;
            any = true;
        }
    }
    return any ? double(ns) / 1e9 : -1;
}

long StatusKb(long pid, const std::string& key)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

}  // namespace bench
