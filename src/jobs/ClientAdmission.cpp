#include "jobs/ClientAdmission.h"

#include <QByteArray>
#include <QList>

bool ClientAllowed(const QStringList& allowed, const QString& kasId)
{
    if (allowed.isEmpty()) return true;
    for (const QString& entry : allowed) {
        if (entry.endsWith(u'*')) {
            if (kasId.startsWith(entry.left(entry.size() - 1))) return true;
        } else if (kasId == entry) {
            return true;
        }
    }
    return false;
}

int32_t TRefusedClients::Refusal(const std::string& kasId, int64_t nowMs) const
{
    const auto it = refused_.find(kasId);
    if (it == refused_.end()) return 0;
    if (nowMs - it->second.atMs >= kRetryAfterMs || nowMs < it->second.atMs) return 0;
    return it->second.code;
}

void TRefusedClients::NoteRefusal(const std::string& kasId, int32_t code, int64_t nowMs)
{
    Prune(nowMs);
    refused_[kasId] = Refused{code, nowMs};
}

QString TRefusedClients::LogLine(const std::string& kasId, const QString& line, int64_t nowMs)
{
    Prune(nowMs);
    lastSeen_[kasId] = nowMs;
    return log_.Filter(QByteArray::fromStdString(kasId), line, nowMs);
}

void TRefusedClients::Prune(int64_t nowMs)
{
    if (nowMs - lastPruneMs_ < kRetryAfterMs && nowMs >= lastPruneMs_) return;
    lastPruneMs_ = nowMs;
    // Twice the interval: the repeat count of a refusal that comes again
    // right after its minute is still told.
    const auto old = [nowMs](int64_t atMs) { return nowMs - atMs >= 2 * kRetryAfterMs || nowMs < atMs; };
    for (auto it = refused_.begin(); it != refused_.end();)
        it = old(it->second.atMs) ? refused_.erase(it) : std::next(it);
    QList<QByteArray> kept;
    for (auto it = lastSeen_.begin(); it != lastSeen_.end();) {
        if (old(it->second)) {
            it = lastSeen_.erase(it);
        } else {
            kept << QByteArray::fromStdString(it->first);
            ++it;
        }
    }
    log_.KeepOnly(kept);
}
