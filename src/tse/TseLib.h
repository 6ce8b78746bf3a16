// The only door to the TSE: wrappers of the SE-API library, the result of the
// last call, the switch flags, the TSE log and the text helpers that turn the
// TSE's binary answers (held as hex text) into readable text.
//
// 8-bit texts (everything exchanged with the TSE) are std::string holding the
// bytes; hex results are upper case without separators. A failing wrapper
// returns empty text or 0 and leaves its code in TseRes; none raises.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// ---- Globals -----------------------------------------------------------
extern std::atomic<int32_t> TseRes;  // result of the last library call
extern std::string TseSN;            // serial number of the open TSE, hex
extern bool TseDebug;                // switch "/D"
extern bool TseLogAll;               // switch "/L"
extern bool TseLogFiles;             // switch "/F"
// TSE_ZEIT=LOKAL of Vok_TSE.INI: the TSE's clock runs on local wall-clock
// time labelled UTC, for registers that print START/ENDE as they come.
extern bool TseLocalClock;

extern const char* const TseLogFileName;  // "Vok_TSE.LOG"

constexpr int32_t TseResNoUniqueId = 0x5001;

// Four upper-case hex digits of the low 16 bits of TseRes, then "h".
std::string ErgStr();
std::string ErgStrOf(int32_t code);

// Appends stamp + Msg to the log file in the program directory; never raises.
void tse_Log(const std::string& Msg);

// ---- Text helpers ------------------------------------------------------
std::string InsTZ(const std::string& s, char TZ);
std::string Get_ASN1_Data(const std::string& OktStr);
std::string HexToText(const std::string& HexStr);
std::string HexToBase64(const std::string& S);
// A TSE log time (Unix seconds) as the answers write it: 'YYYY-MM-DDThh:nn:ss.000Z'.
// It is UTC, unless TseLocalClock has set the TSE to local time.
std::string LogTimeText(uint64_t logTime);

// ---- Session and administration ---------------------------------------
void tse_openDirect(const std::string& devicePath, uint32_t timeout);
void tse_close();
void tse_authenticateUser(const std::string& userId, const std::string& pin, int32_t& authenticationResult,
                          int16_t& remainingRetries);
void tse_logOut(const std::string& userId);
void tse_activateTSE();
void tse_deactivateTSE();
void tse_initializePinValues(const std::string& adminPin, const std::string& adminPuk,
                             const std::string& timeAdminPin, const std::string& timeAdminPuk);
void tse_initialize();
void tse_updateTime();
uint32_t tse_getTimeSyncInterval();
std::string tse_getTimeSyncVariant();
std::string tse_getApiVersionString();

// ---- Information queries ------------------------------------------------
std::string tse_getUniqueId();
std::string tse_getLifeCycleState();
std::string tse_getCertificationId();
std::string tse_getCertificateExpirationDate(const std::string& HexSN);
std::string tse_getERSMappings();
std::string tse_exportSerialNumbers();
uint32_t tse_getMaxNumberOfClients();
uint32_t tse_getCurrentNumberOfClients();
uint32_t tse_getMaxNumberOfTransactions();
uint32_t tse_getCurrentNumberOfTransactions();
uint32_t tse_getTransactionCounter();
uint64_t tse_getTotalLogMemory();
uint64_t tse_getAvailableLogMemory();
uint32_t tse_getSignatureCounter(const std::string& HexSN);
std::string tse_getSignatureAlgorithm();
std::string tse_exportPublicKey(const std::string& HexSN);

// ---- Transactions and exports -----------------------------------------
struct TTransResult {
    std::string logTime;        // 'YYYY-MM-DDThh:nn:ss.000Z'
    std::string serialNumber;   // hex
    uint32_t signatureCounter = 0;
    std::string signatureValue; // hex
    uint32_t transactionNumber = 0;
};

void tse_mapERStoKey(const std::string& clientId, const std::string& HexSN);
void tse_startTransaction(const std::string& clientId, const std::string& processData,
                          const std::string& processType, const std::string& additionalData,
                          TTransResult& TransRes);
void tse_finishTransaction(const std::string& clientId, uint32_t transactionNumber, const std::string& processData,
                           const std::string& processType, const std::string& additionalData,
                           TTransResult& TransRes);
std::string tse_getOpenTransactions();
void tse_exportDataToFile(const std::string& clientId, uint32_t VonTransactionNr, uint32_t BisTransactionNr,
                          uint64_t VonDatum, uint64_t BisDatum, const std::string& filename);
std::string tse_exportCertificates();
