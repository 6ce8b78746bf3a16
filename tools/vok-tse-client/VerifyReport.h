// What `vok-tse-client verify` found, and its two printed forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vokclient {

struct VerifyFinding {
    std::string archive;
    std::string member;  // empty when the finding is about the archive or the series
    std::string text;
};

// One TSE's series, told apart by its serial number.
struct TseSummary {
    std::string serial;  // hex
    uint64_t firstCounter = 0;
    uint64_t lastCounter = 0;
    size_t logMessages = 0;  // distinct signature counters
    size_t transactions = 0;
};

struct VerifyReport {
    std::vector<VerifyFinding> findings;     // faults
    std::vector<VerifyFinding> information;  // transactions still open, ...
    bool unreadable = false;                 // an archive could not be read at all
    size_t archives = 0;
    size_t logMessages = 0;                  // over all TSEs
    size_t transactions = 0;
    uint64_t firstCounter = 0;               // lowest and highest over all TSEs
    uint64_t lastCounter = 0;
    std::vector<TseSummary> tses;
};

// One line per finding and per piece of information, one per TSE, then the summary.
std::string VerifyReportText(const VerifyReport& report);
std::string VerifyReportJson(const VerifyReport& report);

}  // namespace vokclient
