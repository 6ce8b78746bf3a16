// Log messages as TR-03151 defines them (transaction and system logs), and
// the file names under which the TSE stores and exports them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softtse {

using Bytes = std::vector<uint8_t>;

// DER of AlgorithmIdentifier { ecdsa-plain-SHA384 }.
Bytes signatureAlgorithmDer();

struct TransactionLogData {
    bool start = true; // StartTransaction or FinishTransaction
    Bytes clientId;
    Bytes processData;
    Bytes processType;
    Bytes additionalExternalData; // left out of the message when empty
    uint32_t transactionNumber = 0;
};

struct SystemLogData {
    std::string operationType;  // e.g. "authenticateUser"
    Bytes operationData;        // DER, the operation's parameters
};

// The concatenated DER of the elements version..logTime: what is signed.
Bytes transactionLogSignedPart(const TransactionLogData &t, const Bytes &serial, uint32_t signatureCounter,
                               uint64_t logTime);
Bytes systemLogSignedPart(const SystemLogData &s, const Bytes &serial, uint32_t signatureCounter, uint64_t logTime);
// SEQUENCE { signedPart, signatureValue OCTET STRING }.
Bytes completeLogMessage(const Bytes &signedPart, const Bytes &signature);

std::string transactionLogName(const TransactionLogData &t, uint32_t signatureCounter, uint64_t logTime);
std::string systemLogName(const std::string &operationType, uint32_t signatureCounter, uint64_t logTime);

// What a stored log's file name tells about it.
struct LogFileInfo {
    std::string name;
    bool transaction = false;
    uint64_t logTime = 0;
    uint32_t signatureCounter = 0;
    uint32_t transactionNumber = 0; // transaction logs only
    bool finish = false;            // transaction logs only: the finish, not the start
    Bytes clientId;                 // transaction logs only
};
bool parseLogName(const std::string &name, LogFileInfo &info);

} // namespace softtse
