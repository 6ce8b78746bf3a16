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

int32_t TRefusedClients::Refusal(const std::string& kasId, plat::TDateTime now) const
{
    const auto it = refused_.find(kasId);
    if (it == refused_.end()) return 0;
    // A clock set back must not hold the id for longer than a minute.
    if (now - it->second.at >= kRetryAfter || now < it->second.at) return 0;
    return it->second.code;
}

void TRefusedClients::NoteRefusal(const std::string& kasId, int32_t code, plat::TDateTime now)
{
    Prune(now);
    refused_[kasId] = Refused{code, now};
}

QString TRefusedClients::LogLine(const std::string& kasId, const QString& line, plat::TDateTime now)
{
    Prune(now);
    lastSeen_[kasId] = now;
    return log_.Filter(QByteArray::fromStdString(kasId), line, now);
}

void TRefusedClients::Prune(plat::TDateTime now)
{
    if (now - lastPrune_ < kRetryAfter && now >= lastPrune_) return;
    lastPrune_ = now;
    // Twice the interval: the repeat count of a refusal that comes again
    // right after its minute is still told.
    const auto old = [now](plat::TDateTime at) { return now - at >= 2 * kRetryAfter || now < at; };
    for (auto it = refused_.begin(); it != refused_.end();)
        it = old(it->second.at) ? refused_.erase(it) : std::next(it);
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
