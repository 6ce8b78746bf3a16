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

bool transactionInRange(const LogFileInfo &log, const ExportRange &r)
{
    if (!r.allClients && log.clientId != r.clientId)
        return false;
    if (r.transactionNumber != kNotSet) {
        if (log.transactionNumber != r.transactionNumber)
            return false;
    } else {
        if (log.transactionNumber < r.startTransactionNumber)
            return false;
        if (r.endTransactionNumber != kNotSet && log.transactionNumber > r.endTransactionNumber)
            return false;
    }
    if (log.logTime < r.startDate)
        return false;
    return r.endDate == kNoTime || log.logTime <= r.endDate;
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
    std::vector<LogFileInfo> chosen;
    uint32_t firstCounter = kNotSet;
    uint32_t lastCounter = 0;
    for (const LogFileInfo &log : stored) {
        if (!log.transaction || !transactionInRange(log, r))
            continue;
        firstCounter = std::min(firstCounter, log.signatureCounter);
        lastCounter = std::max(lastCounter, log.signatureCounter);
        chosen.push_back(log);
    }
    const bool single = r.transactionNumber != kNotSet;
    const bool openBelow = !single && r.startTransactionNumber <= 1 && r.startDate == 0;
    const bool openAbove = !single && r.endTransactionNumber == kNotSet && r.endDate == kNoTime;
    if (chosen.empty() && !(openBelow && openAbove))
        return chosen;
    for (const LogFileInfo &log : stored) {
        if (log.transaction)
            continue;
        const bool aboveFirst = openBelow || (!chosen.empty() && log.signatureCounter >= firstCounter);
        const bool belowLast = openAbove || (!chosen.empty() && log.signatureCounter <= lastCounter);
        if (aboveFirst && belowLast)
            chosen.push_back(log);
    }
    std::sort(chosen.begin(), chosen.end(), [](const LogFileInfo &a, const LogFileInfo &b) {
        return a.signatureCounter < b.signatureCounter;
    });
    return chosen;
}

} // namespace softtse
