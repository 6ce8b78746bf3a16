// Measures the running service through its job directory: a burst of BON
// jobs (throughput, latency from the rename of each job file to its complete
// answer), single BON jobs one after another, and the service's processor
// time while idle and its peak resident memory. Prints figures; asserts
// nothing. Linux only: answers are noticed through inotify, the service's
// figures come from /proc.
//
//   vok_tse_bench --dir JOBDIR --pid PID [--burst 1000] [--single 100]
//                 [--idle 30] [--tse-rate PAIRS_PER_SECOND]
#include "vok-tse-client/Answer.h"
#include "vok-tse-client/JobExchange.h"
#include "vok-tse-client/JobText.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace vokclient;

namespace {

struct Args {
    QString dir;
    long pid = 0;
    int burst = 1000;
    int single = 100;
    int idleSeconds = 30;
    double tseRate = 0;
};

bool ParseArgs(int argc, char** argv, Args& a)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i];
        const char* v = argv[i + 1];
        if (k == "--dir") a.dir = QFile::decodeName(v);
        else if (k == "--pid") a.pid = std::atol(v);
        else if (k == "--burst") a.burst = std::atoi(v);
        else if (k == "--single") a.single = std::atoi(v);
        else if (k == "--idle") a.idleSeconds = std::atoi(v);
        else if (k == "--tse-rate") a.tseRate = std::atof(v);
        else return false;
    }
    return !a.dir.isEmpty() && a.pid > 0 && argc % 2 == 1;
}

// Tells which answers in the job directory have been closed or renamed in.
class AnswerWatch {
public:
    explicit AnswerWatch(const QString& dir)
    {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && inotify_add_watch(fd_, QFile::encodeName(dir).constData(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~AnswerWatch()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Job names whose .SIG file changed; waits up to timeoutMs for the first.
    std::vector<std::string> Next(int timeoutMs)
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

private:
    int fd_ = -1;
};

QByteArray BonJob(int i)
{
    Job job;
    job.command = Command::Bon;
    job.kasid = "BENCH-KASSE-01";
    job.bonid = QByteArray::number(i);
    job.sigtext = "Beleg^12.50_0.00_0.00_0.00_0.00^12.50:Bar";
    return JobFileBytes(job);
}

struct Run {
    std::vector<double> latencyMs;
    double seconds = 0;
    int errors = 0;
    int missing = 0;
};

// Takes the answer of `name` if it is complete: records it and removes it.
bool Collect(const QString& dir, const std::string& name, Clock::time_point submitted, Run& run)
{
    JobFiles files{dir, QString::fromStdString(name)};
    QFile f(files.answer());
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = f.readAll();
    f.close();
    if (!IsCompleteAnswer(bytes)) return false;
    run.latencyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - submitted).count());
    if (!bytes.startsWith("CMD=BON OK")) ++run.errors;
    RemoveAnswer(files);
    return true;
}

void Await(const QString& dir, AnswerWatch& watch, std::map<std::string, Clock::time_point>& pending, Run& run,
           std::chrono::seconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (!pending.empty() && Clock::now() < deadline) {
        const std::vector<std::string> changed = watch.Next(200);
        if (changed.empty()) {
            // No notice for a while: look at every pending answer once.
            for (auto it = pending.begin(); it != pending.end();)
                it = Collect(dir, it->first, it->second, run) ? pending.erase(it) : std::next(it);
            continue;
        }
        for (const std::string& name : changed) {
            const auto it = pending.find(name);
            if (it != pending.end() && Collect(dir, name, it->second, run)) pending.erase(it);
        }
    }
    run.missing += static_cast<int>(pending.size());
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t rank = static_cast<size_t>(std::max(1.0, std::ceil(p / 100.0 * v.size())));
    return v[std::min(rank, v.size()) - 1];
}

Run Burst(const QString& dir, AnswerWatch& watch, int count)
{
    Run run;
    std::map<std::string, Clock::time_point> pending;
    const auto begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "BURST%04d", i);
        const SubmitResult s = SubmitJob({dir, QString::fromLatin1(name)}, BonJob(i));
        if (s.exitCode != 0) {
            std::fprintf(stderr, "%s\n", s.error.toLocal8Bit().constData());
            ++run.missing;
            continue;
        }
        pending.emplace(name, Clock::now());
    }
    Await(dir, watch, pending, run, std::chrono::seconds(60 + count / 5));
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return run;
}

Run Singles(const QString& dir, AnswerWatch& watch, int count)
{
    Run run;
    const auto begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "SINGLE%03d", i);
        std::map<std::string, Clock::time_point> pending;
        if (SubmitJob({dir, QString::fromLatin1(name)}, BonJob(i)).exitCode != 0) {
            ++run.missing;
            continue;
        }
        pending.emplace(name, Clock::now());
        Await(dir, watch, pending, run, std::chrono::seconds(10));
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return run;
}

// utime + stime of the process, in seconds.
double ProcessorSeconds(long pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(f, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// The status line's value in kB, e.g. "VmHWM".
long StatusKb(long pid, const std::string& key)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

void Report(const char* what, const Run& r, int count)
{
    std::printf("%s: %d jobs answered in %.2f s = %.1f jobs/s; latency p50 %.1f ms, p95 %.1f ms, max %.1f ms",
                what, static_cast<int>(r.latencyMs.size()), r.seconds, r.latencyMs.size() / r.seconds,
                Percentile(r.latencyMs, 50), Percentile(r.latencyMs, 95), Percentile(r.latencyMs, 100));
    if (r.errors || r.missing || static_cast<int>(r.latencyMs.size()) != count)
        std::printf("; %d ERR answers, %d unanswered", r.errors, r.missing);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    Args a;
    if (!ParseArgs(argc, argv, a)) {
        std::fprintf(stderr, "usage: vok_tse_bench --dir JOBDIR --pid PID [--burst N] [--single N] [--idle S] "
                             "[--tse-rate R]\n");
        return 64;
    }
    AnswerWatch watch(a.dir);
    if (!watch.ok()) {
        std::fprintf(stderr, "cannot watch %s\n", a.dir.toLocal8Bit().constData());
        return 74;
    }
    if (a.burst > 0) {
        const Run burst = Burst(a.dir, watch, a.burst);
        Report("burst", burst, a.burst);
        if (a.tseRate > 0 && burst.seconds > 0)
            std::printf("burst throughput / TSE's own rate: %.2f\n", burst.latencyMs.size() / burst.seconds / a.tseRate);
    }
    if (a.single > 0) Report("single", Singles(a.dir, watch, a.single), a.single);
    if (a.idleSeconds > 0) {
        const double before = ProcessorSeconds(a.pid);
        std::this_thread::sleep_for(std::chrono::seconds(a.idleSeconds));
        const double used = ProcessorSeconds(a.pid) - before;
        std::printf("idle: %.2f s processor time in %d s = %.2f %% of a core\n", used, a.idleSeconds,
                    100.0 * used / a.idleSeconds);
    }
    std::printf("peak resident memory: %.1f MB\n", StatusKb(a.pid, "VmHWM") / 1024.0);
    return 0;
}
