// One transaction's log messages read back from a TSE export: what its
// start and finish were signed with, for an answer the service could not
// write before it ended.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <string>

// What one transaction log message says.
struct TLogMessage {
    std::string operationType;  // "StartTransaction", "FinishTransaction", ...
    std::string clientId;
    std::string processData;    // bytes
    std::string processType;
    uint32_t taNr = 0;
    uint32_t sigCounter = 0;
    uint64_t logTime = 0;       // Unix seconds, whichever of the three forms the TSE wrote
    std::string logTimeFormat;  // the core, by the names the QR text uses ("unixTime", ...)
    std::string signature;      // hex
};

struct TTransactionLogs {
    bool haveStart = false;
    bool haveFinish = false;
    std::string startTime;   // as the answers write it
    std::string endTime;
    uint32_t sigCounter = 0; // of the finish
    std::string signature;   // of the finish, hex
    std::string startClient;        // who began the transaction
    std::string finishClient;       // and what its finish signed
    std::string finishProcessType;
    std::string finishProcessData;
    std::string logTimeFormat;      // of its messages: "unixTime", "utcTime", ...
};

// An export archive holds no more than this for one transaction.
inline constexpr int64_t kTransactionExportLimit = 16 * 1024 * 1024;

// Reads the log messages of transaction taNr from the export archive (TAR)
// at path. 0, or the error number of reading the file; an archive that is
// damaged or too large gives EINVAL.
int ReadTransactionLogs(const plat::FsPath& path, uint32_t taNr, TTransactionLogs& out);

// One transaction log message from its DER bytes; false when it is not
// one that can be read. The log time may be an INTEGER (unixTime), a
// UTCTime or a GeneralizedTime.
bool ParseLogMessage(const std::string& der, TLogMessage& out);
