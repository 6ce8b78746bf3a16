// `vok-tse-client verify`: checks a shop's series of export archives as a tax
// auditor's tool would, each archive on its own and the series as a whole.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vokclient {

struct VerifyFinding {
    std::string archive;
    std::string member;  // empty when the finding is about the archive or the series
    std::string text;
};

struct VerifyReport {
    std::vector<VerifyFinding> findings;     // faults
    std::vector<VerifyFinding> information;  // transactions still open
    bool unreadable = false;                 // an archive could not be read at all
    size_t archives = 0;
    size_t logMessages = 0;                  // distinct signature counters
    size_t transactions = 0;
    uint64_t firstCounter = 0;
    uint64_t lastCounter = 0;
};

class ExportVerifier {
public:
    void AddArchive(const std::string& path);
    VerifyReport Finish();  // the checks across all archives

private:
    struct Seen {
        std::string archive;
        std::string member;
        std::string digest;  // of the whole message
    };
    struct Transaction {
        std::vector<Seen> starts;
        std::vector<Seen> finishes;
    };
    void Found(const std::string& archive, const std::string& member, const std::string& text);

    VerifyReport report_;
    std::map<uint64_t, Seen> counters_;
    std::map<uint64_t, Transaction> transactions_;
};

// One line per finding and per piece of information, then the summary.
std::string VerifyReportText(const VerifyReport& report);
std::string VerifyReportJson(const VerifyReport& report);

}  // namespace vokclient
