// Measures the running service through its job directory and prints each
// figure beside the software TSE's own rate of the same run: a burst of BON
// jobs (throughput, latency from the rename of each job file to its complete
// answer), single BON jobs one after another, a quiet register's jobs while
// another register floods the directory, a large drain dropped at once, and
// the service's processor time while idle, alone and beside answers that
// nobody collects, and its peak resident memory. Prints figures; asserts
// nothing. Linux only.
//
//   vok_tse_bench --dir JOBDIR --pid PID [--burst 1000] [--single 100]
//                 [--flood 500] [--drain 10000] [--idle 30]
//                 [--uncollected 10000] [--tse-rate PAIRS_PER_SECOND]
//                 [--tse-bench "softtse_bench 500"] [--meter FILE]
//
// --tse-bench measures the TSE's own rate right before and after each job
// figure (the rate of the figure's own minutes, not of the run's start; the
// pairs the service's TSE has signed so far are appended as the prefill);
// --meter reads the time the service spent inside the TSE's calls (the file
// the service's software TSE got as SOFTTSE_METER), so that the service's
// own share of each job is stated apart from the TSE's.
#include "ServiceWatch.h"
#include "TseMeter.h"

#include "vok-tse-client/JobExchange.h"
#include "vok-tse-client/JobText.h"

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

using namespace bench;
using namespace vokclient;

namespace {

struct Args {
    QString dir;
    long pid = 0;
    int burst = 1000;
    int single = 100;
    int flood = 500;
    int drain = 10000;
    int idleSeconds = 30;
    int uncollected = 10000;
    double tseRate = 0;  // start+finish pairs per second
    std::string tseBench;
    QString meter;
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
        else if (k == "--flood") a.flood = std::atoi(v);
        else if (k == "--drain") a.drain = std::atoi(v);
        else if (k == "--idle") a.idleSeconds = std::atoi(v);
        else if (k == "--uncollected") a.uncollected = std::atoi(v);
        else if (k == "--tse-rate") a.tseRate = std::atof(v);
        else if (k == "--tse-bench") a.tseBench = v;
        else if (k == "--meter") a.meter = QFile::decodeName(v);
        else return false;
    }
    return !a.dir.isEmpty() && a.pid > 0 && argc % 2 == 1;
}

QByteArray BonJob(int i, const char* kasid)
{
    Job job;
    job.command = Command::Bon;
    job.kasid = kasid;
    job.bonid = QByteArray::number(i);
    job.sigtext = "Beleg^12.50_0.00_0.00_0.00_0.00^12.50:Bar";
    return JobFileBytes(job);
}

std::string Name(const char* prefix, int i)
{
    char name[32];
    // A register numbers its jobs after a separator ("KASSE01_00042"): the
    // pass tells registers apart by the name before that number.
    std::snprintf(name, sizeof name, "%s_%05d", prefix, i);
    return name;
}

// Hands `count` jobs over at once, as registers that were offline do: every
// job file is written under its temporary name first, then all are renamed
// to *.TSE in a row. The rename is each job's moment of hand-over.
Pending Drop(const QString& dir, const char* prefix, int first, int count, const char* kasid, Run& run)
{
    std::vector<JobFiles> jobs;
    for (int i = first; i < first + count; ++i) {
        JobFiles files{dir, QString::fromStdString(Name(prefix, i))};
        std::ofstream out(QFile::encodeName(files.temporary()).toStdString(), std::ios::binary);
        const QByteArray bytes = BonJob(i, kasid);
        if (!out.write(bytes.constData(), bytes.size()) || !out.flush()) {
            ++run.missing;
            continue;
        }
        jobs.push_back(files);
    }
    Pending pending;
    for (const JobFiles& files : jobs) {
        if (std::rename(QFile::encodeName(files.temporary()).constData(), QFile::encodeName(files.job()).constData()) != 0) {
            ++run.missing;
            continue;
        }
        pending.emplace(files.name.toStdString(), Clock::now());
    }
    return pending;
}

// The moment of the first hand-over among `pending`.
Clock::time_point FirstHandOver(const Pending& pending)
{
    Clock::time_point first = Clock::now();
    for (const auto& [name, at] : pending) first = std::min(first, at);
    return first;
}

Run Burst(const QString& dir, AnswerWatch& watch, int count)
{
    Run run;
    Pending pending;
    const auto begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string name = Name("BURST", i);
        const SubmitResult s = SubmitJob({dir, QString::fromStdString(name)}, BonJob(i, "BENCH-KASSE-01"));
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

// tseMs gets, for each answered job, the time the service spent inside the
// TSE's calls from its hand-over to its answer (with a meter).
Run Singles(const QString& dir, AnswerWatch& watch, int count, const TseMeter& meter, std::vector<double>& tseMs)
{
    Run run;
    const auto begin = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string name = Name("SINGLE", i);
        Pending pending;
        const TseMeter::Reading before = meter.Read();
        if (SubmitJob({dir, QString::fromStdString(name)}, BonJob(i, "BENCH-KASSE-01")).exitCode != 0) {
            ++run.missing;
            continue;
        }
        pending.emplace(name, Clock::now());
        const size_t answered = run.latencyMs.size();
        Await(dir, watch, pending, run, std::chrono::seconds(10));
        if (meter.ok() && run.latencyMs.size() > answered) tseMs.push_back((meter.Read() - before).callNs / 1e6);
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return run;
}

// All jobs dropped at once; from the first rename to the last answer.
Run Drain(const QString& dir, AnswerWatch& watch, int count)
{
    Run run;
    Pending pending = Drop(dir, "DRAIN", 0, count, "BENCH-KASSE-01", run);
    const auto begin = FirstHandOver(pending);
    Await(dir, watch, pending, run, std::chrono::seconds(60 + count / 5));
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return run;
}

struct FloodRuns {
    Run flood;
    Run quiet;
};

// One register drops `count` jobs at once; once the service has answered the
// first of them, a second register hands over one job at a time (the next
// once the previous is answered) until the flood is through.
FloodRuns Flood(const QString& dir, AnswerWatch& watch, int count)
{
    FloodRuns r;
    Pending flood = Drop(dir, "FLOOD", 0, count, "BENCH-KASSE-01", r.flood);
    const auto begin = FirstHandOver(flood);
    Pending quiet;
    int sent = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(60 + count / 5);
    while ((!flood.empty() || !quiet.empty()) && Clock::now() < deadline) {
        if (quiet.empty() && !flood.empty() && !r.flood.latencyMs.empty()) {
            Pending one = Drop(dir, "QUIET", sent++, 1, "BENCH-KASSE-02", r.quiet);
            quiet.insert(one.begin(), one.end());
        }
        CollectSome(dir, watch, {{&flood, &r.flood}, {&quiet, &r.quiet}}, 200);
    }
    r.flood.missing += static_cast<int>(flood.size());
    r.quiet.missing += static_cast<int>(quiet.size());
    r.flood.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return r;
}

double IdlePercent(long pid, int seconds)
{
    const double before = ProcessorSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 100.0 * (ProcessorSeconds(pid) - before) / seconds;
}

// Answers that the registers never collected, as a shop's directory
// gathers them; removed again after the measurement.
class Uncollected {
public:
    Uncollected(const QString& dir, int count)
    {
        for (int i = 0; i < count; ++i) {
            const std::string path = QFile::encodeName(dir).toStdString() + "/" + Name("UNCOLLECTED", i) + ".SIG";
            std::ofstream out(path, std::ios::binary);
            out << "CMD=BON OK\r\nKASID=BENCH-KASSE-03\r\n*EOF*\r\n";
            if (out) paths_.push_back(path);
        }
    }
    ~Uncollected()
    {
        for (const std::string& p : paths_) std::remove(p.c_str());
    }
    Uncollected(const Uncollected&) = delete;
    Uncollected& operator=(const Uncollected&) = delete;
    size_t count() const { return paths_.size(); }

private:
    std::vector<std::string> paths_;
};

void Report(const char* what, const Run& r, int count)
{
    std::printf("%s: %d jobs answered in %.2f s = %.1f jobs/s; latency p50 %.1f ms, p95 %.1f ms, max %.1f ms",
                what, static_cast<int>(r.latencyMs.size()), r.seconds, r.latencyMs.size() / r.seconds,
                Percentile(r.latencyMs, 50), Percentile(r.latencyMs, 95), Percentile(r.latencyMs, 100));
    if (r.errors || r.missing || static_cast<int>(r.latencyMs.size()) != count)
        std::printf("; %d ERR answers, %d unanswered", r.errors, r.missing);
    std::printf("\n");
}

void ReportRatio(const char* what, const Run& r, double tseRate)
{
    if (tseRate > 0 && r.seconds > 0)
        std::printf("%s throughput / TSE's own rate: %.2f\n", what, r.latencyMs.size() / r.seconds / tseRate);
}

// The TSE's own rate for each figure: measured before the first and after
// each; a figure is set beside the mean of the measurements around it. The
// software TSE slows down as its device fills (a file per log message), so
// with a meter each measurement runs on a device that has signed as many
// pairs before as the service's has by then (softtse_bench's prefill).
class TseRate {
public:
    TseRate(std::string command, double fixed, const TseMeter& meter)
        : command_(std::move(command)), last_{fixed, 0}, meter_(meter)
    {
    }

    void Begin()
    {
        if (command_.empty()) return;
        last_ = Measure();
        std::printf("TSE's own rate: %.1f pairs/s (%.2f ms processor time a pair)%s\n", last_.rate, last_.cpuMs,
                    prefillNote_.c_str());
    }
    // After a figure: the rate to set beside it (0 when unknown).
    double Around(const char* what)
    {
        if (command_.empty()) return last_.rate;
        const TseRateFigure before = last_;
        const std::string beforeNote = prefillNote_;
        last_ = Measure();
        if (before.rate <= 0 || last_.rate <= 0) return 0;
        const double mean = (before.rate + last_.rate) / 2;
        std::printf("%s: TSE's own rate before / after: %.1f%s / %.1f%s pairs/s, mean %.1f = %.2f ms a pair "
                    "(%.2f ms of it on the processor)\n",
                    what, before.rate, beforeNote.c_str(), last_.rate, prefillNote_.c_str(), mean, 1000.0 / mean,
                    (before.cpuMs + last_.cpuMs) / 2);
        return mean;
    }

private:
    TseRateFigure Measure()
    {
        const uint64_t signedBefore = meter_.ok() ? meter_.Read().transactionCalls / 2 : 0;
        prefillNote_ = signedBefore ? " (after " + std::to_string(signedBefore) + " pairs)" : std::string();
        return MeasureTseRate(signedBefore ? command_ + " " + std::to_string(signedBefore) : command_);
    }

    std::string command_;
    TseRateFigure last_;
    const TseMeter& meter_;
    std::string prefillNote_;
};

void ReportMeter(const char* what, const Run& r, const TseMeter::Reading& d)
{
    const size_t jobs = r.latencyMs.size();
    if (jobs == 0 || r.seconds <= 0) return;
    const double callS = d.callNs / 1e9;
    const double pairs = d.transactionCalls / 2.0;
    std::printf("%s inside the TSE: %.2f ms a start+finish pair (%.2f ms of it on the processor), %.2f ms of TSE "
                "calls a job (%.1f calls); the TSE's calls fill %.2f of the time; the service's own time %.2f ms a job\n",
                what, pairs > 0 ? 1e-6 * d.transactionNs / pairs : 0.0,
                pairs > 0 ? 1e-6 * d.transactionCpuNs / pairs : 0.0, callS * 1e3 / jobs, double(d.calls) / jobs,
                callS / r.seconds, (r.seconds - callS) * 1e3 / jobs);
}

}  // namespace

int main(int argc, char** argv)
{
    Args a;
    if (!ParseArgs(argc, argv, a)) {
        std::fprintf(stderr, "usage: vok_tse_bench --dir JOBDIR --pid PID [--burst N] [--single N] [--flood N] "
                             "[--drain N] [--idle S] [--uncollected N] [--tse-rate R] [--tse-bench CMD] "
                             "[--meter FILE]\n");
        return 64;
    }
    AnswerWatch watch(a.dir);
    if (!watch.ok()) {
        std::fprintf(stderr, "cannot watch %s\n", a.dir.toLocal8Bit().constData());
        return 74;
    }
    const TseMeter meter(a.meter);
    if (!a.meter.isEmpty() && !meter.ok())
        std::printf("no TSE call counters in %s: the service's own share is not shown\n", a.meter.toLocal8Bit().constData());
    TseRate tse(a.tseBench, a.tseRate, meter);
    if (a.tseBench.empty() && a.tseRate > 0)
        std::printf("TSE's own rate: %.1f pairs/s = %.2f ms a pair\n", a.tseRate, 1000.0 / a.tseRate);
    tse.Begin();

    // A throughput figure: the run, its TSE's rate around it, and its time
    // inside the TSE's calls.
    const auto throughput = [&](const char* what, int count, const std::function<Run()>& run) {
        const TseMeter::Reading before = meter.Read();
        const Run r = run();
        const TseMeter::Reading used = meter.Read() - before;
        Report(what, r, count);
        ReportRatio(what, r, tse.Around(what));
        if (meter.ok()) ReportMeter(what, r, used);
    };
    if (a.burst > 0) throughput("burst", a.burst, [&] { return Burst(a.dir, watch, a.burst); });
    double singleP50 = 0;
    if (a.single > 0) {
        std::vector<double> tseMs;
        const Run single = Singles(a.dir, watch, a.single, meter, tseMs);
        Report("single", single, a.single);
        singleP50 = Percentile(single.latencyMs, 50);
        const double rate = tse.Around("single");
        if (rate > 0) std::printf("single p50 above the TSE's pair time: %.1f ms\n", singleP50 - 1000.0 / rate);
        if (!tseMs.empty() && tseMs.size() == single.latencyMs.size()) {
            std::vector<double> own;
            for (size_t i = 0; i < tseMs.size(); ++i) own.push_back(single.latencyMs[i] - tseMs[i]);
            std::printf("single inside the TSE: p50 %.2f ms a job; the service's own time (latency less the TSE's "
                        "calls): p50 %.2f ms, p95 %.2f ms\n",
                        Percentile(tseMs, 50), Percentile(own, 50), Percentile(own, 95));
        }
    }
    if (a.flood > 0) {
        const FloodRuns f = Flood(a.dir, watch, a.flood);
        Report("flood (register 1)", f.flood, a.flood);
        const Run& q = f.quiet;
        std::printf("quiet register during the flood: %d jobs, latency p50 %.1f ms, max %.1f ms", static_cast<int>(q.latencyMs.size()),
                    Percentile(q.latencyMs, 50), Percentile(q.latencyMs, 100));
        if (q.errors || q.missing) std::printf("; %d ERR answers, %d unanswered", q.errors, q.missing);
        std::printf("\n");
        const double rate = tse.Around("flood");
        if (rate > 0 && !q.latencyMs.empty()) {
            const double pairMs = 1000.0 / rate;
            const double p50 = Percentile(q.latencyMs, 50), worst = Percentile(q.latencyMs, 100);
            std::printf("quiet register's job during the flood: p50 %.1f TSE pair times, max %.1f; "
                        "p50 above its own single p50: %.1f TSE pair times\n",
                        p50 / pairMs, worst / pairMs, (p50 - singleP50) / pairMs);
        }
    }
    if (a.drain > 0) {
        throughput("drain", a.drain, [&] { return Drain(a.dir, watch, a.drain); });
        std::printf("drain: peak resident memory so far %.1f MB, resident now %.1f MB\n",
                    StatusKb(a.pid, "VmHWM") / 1024.0, StatusKb(a.pid, "VmRSS") / 1024.0);
    }
    if (a.idleSeconds > 0) {
        // What the runs above left for the pass settles first.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::printf("idle: %.3f %% of a core over %d s\n", IdlePercent(a.pid, a.idleSeconds), a.idleSeconds);
        if (a.uncollected > 0) {
            const Uncollected answers(a.dir, a.uncollected);
            std::this_thread::sleep_for(std::chrono::seconds(2));
            std::printf("idle beside %zu uncollected answers: %.3f %% of a core over %d s\n", answers.count(),
                        IdlePercent(a.pid, a.idleSeconds), a.idleSeconds);
        }
    }
    std::printf("peak resident memory: %.1f MB\n", StatusKb(a.pid, "VmHWM") / 1024.0);
    return 0;
}
