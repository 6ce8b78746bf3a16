// What the job benchmark sees of the running service: answers as they are
// completed in the job directory (inotify), latencies, and the service's
// processor time and memory from /proc. Linux only.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Tells which answers in the job directory have been closed or renamed in.
class AnswerWatch {
public:
    explicit AnswerWatch(const QString& dir);
    ~AnswerWatch();
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;
    bool ok() const { return fd_ >= 0; }

    // Job names whose .SIG file changed; waits up to timeoutMs for the first.
    std::vector<std::string> Next(int timeoutMs);

private:
    int fd_ = -1;
};

// Answers collected for a set of jobs.
struct Run {
    std::vector<double> latencyMs;
    double seconds = 0;
    int errors = 0;
    int missing = 0;
};

// Jobs handed over and not yet answered: job name, moment of hand-over.
using Pending = std::map<std::string, Clock::time_point>;

// Takes the answer of `name` if it is complete: records its latency and
// removes it.
bool Collect(const QString& dir, const std::string& name, Clock::time_point submitted, Run& run);

// Collects the answers of `pending` until all are in or `limit` has passed;
// what is left counts as missing.
void Await(const QString& dir, AnswerWatch& watch, Pending& pending, Run& run, std::chrono::seconds limit);

// One pass over the watch's notices (waiting up to timeoutMs) for several
// sets of jobs at once; with no notice every pending answer is looked at.
void CollectSome(const QString& dir, AnswerWatch& watch, std::vector<std::pair<Pending*, Run*>> sets,
                 int timeoutMs);

double Percentile(std::vector<double> v, double p);

// Processor time of the process's threads, in seconds.
double ProcessorSeconds(long pid);
// A value of /proc/PID/status in kB, e.g. "VmHWM"; -1 when unreadable.
long StatusKb(long pid, const std::string& key);

}  // namespace bench
