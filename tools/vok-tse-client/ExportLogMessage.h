// TR-03151 log messages as they stand in an export: the DER of one message
// and the file name it is stored under. Read here independently of the TSE
// library that writes them, so that a fault in one is not mirrored here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokclient {

using ByteString = std::vector<uint8_t>;

struct LogMessageFields {
    bool transaction = false;    // transaction log, else system log
    std::string operationType;   // "StartTransaction", "FinishTransaction", "updateTime", ...
    ByteString clientId;         // transaction logs
    ByteString processData;
    ByteString processType;
    bool hasTransactionNumber = false;
    uint64_t transactionNumber = 0;
    ByteString serialNumber;
    bool ecdsaPlainSha384 = false;  // the signature algorithm named
    uint64_t signatureCounter = 0;
    uint64_t logTime = 0;
    ByteString signedData;  // version .. logTime, as they were signed
    ByteString signature;
};

// False with the reason when the bytes are not one well-formed log message.
bool ParseLogMessage(const ByteString& der, LogMessageFields& out, std::string& why);

struct LogFileName {
    bool transaction = false;
    uint64_t logTime = 0;
    uint64_t signatureCounter = 0;
    uint64_t transactionNumber = 0;
    bool start = false;       // _Start, else _Finish
    ByteString clientId;      // %XX decoded
    std::string operation;    // system logs
};

// Unixt_<t>_Sig-<n>_Log-Tra_No-<tn>_<Start|Finish>_Client-<id>.log or
// Unixt_<t>_Sig-<n>_Log-Sys_<operation>.log
bool ParseLogFileName(const std::string& name, LogFileName& out);

}  // namespace vokclient
