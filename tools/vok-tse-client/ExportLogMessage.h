// TR-03151 log messages as they stand in an export: the DER of one message
// and the file name it is stored under. Read here independently of the TSE
// library that writes them, so that a fault in one is not mirrored here, and
// as any maker may write them: transaction, system and audit logs, the three
// forms of logTime, the ECDSA plain signature algorithms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokclient {

using ByteString = std::vector<uint8_t>;

enum class LogKind : uint8_t { System, Audit, Start, Update, Finish };

// The three forms logTime may take, and the file name prefix of each.
enum class TimeForm : uint8_t { Unix, Utc, Generalized };

// The hash of an ecdsa-plain algorithm; Unknown when the message names another.
enum class PlainHash : uint8_t { Unknown, Sha224, Sha256, Sha384, Sha512, Sha3_224, Sha3_256, Sha3_384, Sha3_512 };

struct LogMessageFields {
    LogKind kind = LogKind::System;
    std::string operationType;   // "StartTransaction", "updateTime", ...; empty for audit logs
    ByteString clientId;         // transaction logs
    ByteString processData;
    ByteString processType;
    uint64_t transactionNumber = 0;
    ByteString serialNumber;
    PlainHash hash = PlainHash::Unknown;
    std::string algorithmOid;    // dotted, for findings
    uint64_t signatureCounter = 0;
    TimeForm timeForm = TimeForm::Unix;
    int64_t logTime = 0;         // Unix seconds, whatever the form
    ByteString signedData;       // version .. logTime, as they were signed
    ByteString signature;
};

bool IsTransaction(LogKind kind);

// False with the reason when the bytes are not one well-formed log message.
bool ParseLogMessage(const ByteString& der, LogMessageFields& out, std::string& why);

struct LogFileName {
    LogKind kind = LogKind::System;
    TimeForm timeForm = TimeForm::Unix;
    int64_t logTime = 0;
    uint64_t signatureCounter = 0;
    uint64_t transactionNumber = 0;
    std::string tail;  // client id (transaction logs, %XX not yet decoded) or operation (system logs)
};

// <Unixt|Utc|Gent>_<time>_Sig-<n>_ then
//   Log-Tra_No-<tn>_<Start|Update|Finish>_Client-<id>, Log-Sys_<operation> or Log-Aud,
// each optionally followed by _Fc-<n>, then .log
bool ParseLogFileName(const std::string& name, LogFileName& out);

// Whether the name's tail stands for value: equal after %XX decoding, or
// equal once a file counter suffix _Fc-<n> is taken off.
bool TailNames(const std::string& tail, const ByteString& value);

// Seconds since 1970 of a UTCTime (YYMMDDhhmm[ss]Z) or GeneralizedTime
// (YYYYMMDDhhmmss[.fff]Z) text; false when it is neither.
bool ParseAsnTime(const std::string& text, bool generalized, int64_t& seconds);

}  // namespace vokclient
