// Which stored log messages an export holds.
#pragma once

#include "log_message.h"

#include <string>
#include <vector>

namespace softtse {

struct ExportRange {
    bool allClients = true;
    Bytes clientId;
    uint32_t transactionNumber = 0xFFFFFFFFu; // one transaction; all ones = not set
    uint32_t startTransactionNumber = 0;
    uint32_t endTransactionNumber = 0xFFFFFFFFu; // all ones = no upper bound
    uint64_t startDate = 0;
    uint64_t endDate = 0xFFFFFFFFu; // all ones = no upper bound
};

// The log messages stored in the state folder, by their file names.
std::vector<LogFileInfo> listStoredLogs(const std::string &folder);

// The logs of the transactions in the range (of the one client, when the
// range names one), and every system log whose signature counter lies above
// the highest counter of any transaction below the range and not above the
// highest counter of any transaction up to its end (no limit when the end is
// open). Consecutive ranges thus share out every log exactly once, the logs
// written between two transactions included. Dates narrow both kinds by
// logTime. Ordered by signature counter.
std::vector<LogFileInfo> selectLogs(const std::vector<LogFileInfo> &stored, const ExportRange &range);

} // namespace softtse
