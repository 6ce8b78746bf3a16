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

// Transaction logs in the range, and the system logs whose signature
// counters lie between the first and last of them (or before or after,
// when the range is open on that side); ordered by signature counter.
std::vector<LogFileInfo> selectLogs(const std::vector<LogFileInfo> &stored, const ExportRange &range);

} // namespace softtse
