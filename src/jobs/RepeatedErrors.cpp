#include "jobs/RepeatedErrors.h"

#include <QSet>

QString TRepeatedErrors::Filter(const QByteArray& job, const QString& line, int64_t nowMs)
{
    auto it = errors_.find(job);
    if (it == errors_.end() || it->second.line != line) {
        errors_[job] = Seen{line, nowMs, 0};
        return line;
    }
    Seen& seen = it->second;
    ++seen.keptBack;
    if (nowMs - seen.lastLoggedMs < kIntervalMs) return {};
    const int count = seen.keptBack;
    seen.keptBack = 0;
    seen.lastLoggedMs = nowMs;
    return line + "  (" + QString::number(count) + "x wiederholt)";
}

void TRepeatedErrors::Clear(const QByteArray& job)
{
    errors_.erase(job);
}

void TRepeatedErrors::KeepOnly(const QList<QByteArray>& jobs)
{
    const QSet<QByteArray> present(jobs.begin(), jobs.end());
    for (auto it = errors_.begin(); it != errors_.end();)
        it = present.contains(it->first) ? std::next(it) : errors_.erase(it);
}
