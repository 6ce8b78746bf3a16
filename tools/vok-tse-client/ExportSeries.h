// The checks across all archives of one run, per TSE (serial number): every
// signature counter once (a message two archives both hold counts once), no
// gap, a start at counter 1 or the one allowed, log times that do not go
// back, and transactions with one start and one finish in that order.
// Keeps only a small record per message, so a series of any length fits.
#pragma once

#include "vok-tse-client/ExportLogMessage.h"
#include "vok-tse-client/VerifyReport.h"

#include <array>
#include <deque>
#include <map>

namespace vokclient {

struct MessageRecord {
    uint64_t counter = 0;
    int64_t logTime = 0;
    uint64_t transactionNumber = 0;
    std::array<uint8_t, 16> digest{};  // of the whole message: tells identical copies from different messages
    uint32_t archive = 0;              // index into the run's archive list
    LogKind kind = LogKind::System;
};

class ExportSeries {
public:
    void Add(const std::string& serialHex, const MessageRecord& record);
    // from: the lowest counter a series may start at without a finding.
    void Check(uint64_t from, const std::vector<std::string>& archives, VerifyReport& report);

private:
    void CheckOne(const std::string& serial, std::deque<MessageRecord>& records, uint64_t from,
                  const std::vector<std::string>& archives, VerifyReport& report);
    std::map<std::string, std::deque<MessageRecord>> series_;
};

}  // namespace vokclient
