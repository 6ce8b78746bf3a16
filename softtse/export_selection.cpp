#include "export_selection.h"

#include <algorithm>
#include <dirent.h>
#include <memory>

namespace softtse {

namespace {

struct DirClose {
    void operator()(DIR *d) const { closedir(d); }
};

constexpr uint32_t kNotSet = 0xFFFFFFFFu;
constexpr uint64_t kNoTime = 0xFFFFFFFFu;

uint32_t firstNumber(const ExportRange &r)
{
    return r.transactionNumber != kNotSet ? r.transactionNumber : r.startTransactionNumber;
}

uint32_t lastNumber(const ExportRange &r)
{
    return r.transactionNumber != kNotSet ? r.transactionNumber : r.endTransactionNumber;
}

bool timeInRange(const LogFileInfo &log, const ExportRange &r)
{
    return log.logTime >= r.startDate && (r.endDate == kNoTime || log.logTime <= r.endDate);
}

bool transactionInRange(const LogFileInfo &log, const ExportRange &r)
{
    if (!r.allClients && log.clientId != r.clientId)
        return false;
    if (log.transactionNumber < firstNumber(r))
        return false;
    return lastNumber(r) == kNotSet || log.transactionNumber <= lastNumber(r);
}

} // namespace

std::vector<LogFileInfo> listStoredLogs(const std::string &folder)
{
    std::vector<LogFileInfo> logs;
    std::unique_ptr<DIR, DirClose> dir(opendir(folder.c_str()));
    if (!dir)
        return logs;
    while (const dirent *e = readdir(dir.get())) {
        LogFileInfo info;
        if (parseLogName(e->d_name, info))
            logs.push_back(std::move(info));
    }
    return logs;
}

std::vector<LogFileInfo> selectLogs(const std::vector<LogFileInfo> &stored, const ExportRange &r)
{
    // The system logs' counter window (below, upTo]: bounded by the
    // transactions of every client, so that a client's export and the
    // export of all clients cut the series at the same places.
    const uint32_t first = firstNumber(r);
    const uint32_t last = lastNumber(r);
    const bool openAbove = last == kNotSet;
    uint32_t below = 0;
    uint32_t upTo = 0;
    for (const LogFileInfo &log : stored) {
        if (!log.transaction)
            continue;
        if (log.transactionNumber < first)
            below = std::max(below, log.signatureCounter);
        if (openAbove || log.transactionNumber <= last)
            upTo = std::max(upTo, log.signatureCounter);
    }
    std::vector<LogFileInfo> chosen;
    for (const LogFileInfo &log : stored) {
        if (!timeInRange(log, r))
            continue;
        const bool wanted = log.transaction ? transactionInRange(log, r)
                                            : log.signatureCounter > below && (openAbove || log.signatureCounter <= upTo);
        if (wanted)
            chosen.push_back(log);
    }
    std::sort(chosen.begin(), chosen.end(), [](const LogFileInfo &a, const LogFileInfo &b) {
        return a.signatureCounter < b.signatureCounter;
    });
    return chosen;
}

} // namespace softtse
