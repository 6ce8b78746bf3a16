#include "jobs/RepeatedErrors.h"

#include <QSet>

QString TRepeatedErrors::Filter(const QByteArray& job, const QString& line, plat::TDateTime now)
{
    auto it = errors_.find(job);
    if (it == errors_.end() || it->second.line != line) {
        errors_[job] = Seen{line, now, 0};
        return line;
    }
    Seen& seen = it->second;
    ++seen.keptBack;
    if (now - seen.lastLogged < kInterval) return {};
    const int count = seen.keptBack;
    seen.keptBack = 0;
    seen.lastLogged = now;
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
