// One transaction's log messages read back from a TSE export: what its
// start and finish were signed with, for an answer the service could not
// write before it ended.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <string>

struct TTransactionLogs {
    bool haveStart = false;
    bool haveFinish = false;
    std::string startTime;   // as the answers write it
    std::string endTime;
    uint32_t sigCounter = 0; // of the finish
    std::string signature;   // of the finish, hex
};

// An export archive holds no more than this for one transaction.
inline constexpr int64_t kTransactionExportLimit = 16 * 1024 * 1024;

// Reads the log messages of transaction taNr from the export archive (TAR)
// at path. 0, or the error number of reading the file; an archive that is
// damaged or too large gives EINVAL.
int ReadTransactionLogs(const plat::FsPath& path, uint32_t taNr, TTransactionLogs& out);

// The signature counter, log time (Unix seconds) and signature (hex) of
// one log message, from its DER bytes. False when they cannot be read.
bool ParseLogMessage(const std::string& der, uint32_t& sigCounter, uint64_t& logTime, std::string& signature);
