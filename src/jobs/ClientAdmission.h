// Which cash registers may reach the TSE. An administrator may name the
// allowed client ids (KASSEN= in Vok_TSE.INI), so that a stray or hostile id
// never takes one of the TSE's few client slots. An id whose registration
// the TSE refused is not tried again for a minute: each attempt costs an
// Admin login, and a register asks again on every pass. Times are
// plat::MonotonicMs, which no setting of the clock moves.
#pragma once

#include "jobs/RepeatedErrors.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <string>

// True when the list is empty (no restriction) or one entry names the id:
// exactly, or an entry ending in "*" by the text before it. Letter case
// counts, as it does for the TSE: "Kasse1" and "kasse1" are two clients.
bool ClientAllowed(const QStringList& allowed, const QString& kasId);

class TRefusedClients {
public:
    static constexpr int64_t kRetryAfterMs = 60000;

    // The TSE's answer to the id's last registration while that is younger
    // than kRetryAfterMs; 0 when the TSE may be asked.
    int32_t Refusal(const std::string& kasId, int64_t nowMs) const;
    void NoteRefusal(const std::string& kasId, int32_t code, int64_t nowMs);

    // The line to log for this refusal of the id, or an empty text while
    // the same line was logged for it less than a minute ago.
    QString LogLine(const std::string& kasId, const QString& line, int64_t nowMs);

    size_t Size() const { return refused_.size(); }

private:
    struct Refused {
        int32_t code = 0;
        int64_t atMs = 0;
    };
    // Ids not seen for two minutes are forgotten, so that a register
    // inventing ids does not grow the service's memory.
    void Prune(int64_t nowMs);

    std::map<std::string, Refused> refused_;
    std::map<std::string, int64_t> lastSeen_;  // by LogLine
    TRepeatedErrors log_;
    int64_t lastPruneMs_ = 0;
};
