// The SE-API (BSI TR-03151 "SE API", C binding) as this library provides it.
// Callers include this header; the declarations match the SE-API exactly so
// that any program built against the SE-API binds this library by name.
#ifndef SOFTTSE_SE_API_H
#define SOFTTSE_SE_API_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t se_result_t;

/* Result codes. Values follow the order of the list. */
enum {
    ExecutionOk = 0,

    ErrorMissingParameter = 0x1000,
    ErrorFunctionNotSupported,
    ErrorAllocationfailed,
    ErrorFileNotFound,
    ErrorSECommunicationFailed,
    ErrorTSECommandDataInvalid,
    ErrorTSEResponseDataInvalid,
    ErrorTSEUnknownError,
    ErrorStreamWrite,
    ErrorIO,
    ErrorTSETimeout,
    ErrorBufferTooSmall,
    ErrorCallback,
    ErrorTSEFirmwareVersion,
    ErrorTransport,
    ErrorNoStartup,
    ErrorNoStorage, /* 0x1010 */

    ErrorAuthenticationFailed = 0x2000,
    ErrorUnblockFailed,

    ErrorRetrieveLogMessageFailed = 0x3000,
    ErrorStorageFailure,
    ErrorUpdateTimeFailed,
    ErrorParameterMismatch,
    ErrorIdNotFound,
    ErrorNoSuchKey,
    ErrorERSalreadyMapped,
    ErrorNoERS, /* 0x3007 */
    ErrorNoKey,
    ErrorTransactionNumberNotFound,
    ErrorNoDataAvailable,
    ErrorTooManyRecords,
    ErrorStartTransactionFailed,
    ErrorUpdateTransactionFailed,
    ErrorFinishTransactionFailed,
    ErrorRestoreFailed,
    ErrorStoringInitDataFailed,
    ErrorExportCertFailed,
    ErrorNoLogMessage,
    ErrorReadingLogMessage,
    ErrorNoTransaction,
    ErrorSeApiNotInitialized, /* 0x3015 */
    ErrorSeApiDeactivated,
    ErrorSeApiNotDeactivated,
    ErrorTimeNotSet,
    ErrorCertificateExpired,
    ErrorSecureElementDisabled,
    ErrorUserNotAuthorized,
    ErrorUserNotAuthenticated,
    ErrorDescriptionNotSetByManufacturer,
    ErrorDescriptionSetByManufacturer,
    ErrorExportSerialNumbersFailed,
    ErrorGetMaxNumberOfClientsFailed,
    ErrorGetCurrentNumberOfClientsFailed,
    ErrorGetMaxNumberTransactionsFailed,
    ErrorGetCurrentNumberOfTransactionsFailed,
    ErrorGetSupportedUpdateVariantsFailed,
    ErrorDeleteStoredDataFailed,
    ErrorUnexportedStoredData,
    ErrorSigningSystemOperationDataFailed,
    ErrorUserIdNotManaged,
    ErrorUserIdNotAuthenticated,
    ErrorDisableSecureElementFailed, /* 0x302A */

    ErrorClassSD = 0x4000
};

/* Open upper bounds of an export. */
#define SE_MAX_UINT32 ((uint32_t)0xFFFFFFFFu)
#define SE_MAX_TIME ((uint64_t)0xFFFFFFFFu)

typedef struct {
    uint64_t logTime;
    uint8_t *serialNumber;
    uint32_t serialNumberLength;
    uint32_t signatureCounter;
    uint8_t *signatureValue;
    uint32_t signatureValueLength;
    uint32_t transactionNumber;
} se_StartTransactionResult_t;

typedef struct {
    uint64_t logTime;
    uint8_t *serialNumber;
    uint32_t serialNumberLength;
    uint32_t signatureCounter;
    uint8_t *signatureValue;
    uint32_t signatureValueLength;
} se_FinishTransactionResult_t;

se_result_t se_openDirect(const char *devicePath, uint32_t timeout); /* zero-terminated path */
se_result_t se_close(void);
se_result_t se_authenticateUser(const char *userId, uint32_t userIdLength, const uint8_t *pin, uint32_t pinLength,
                                int32_t *authenticationResult, int16_t *remainingRetries);
se_result_t se_logOut(const char *userId, uint32_t userIdLength);
se_result_t se_activateTSE(void);
se_result_t se_deactivateTSE(void);
se_result_t se_initializePinValues(const uint8_t *adminPin, uint32_t adminPinLength, const uint8_t *adminPuk,
                                   uint32_t adminPukLength, const uint8_t *timeAdminPin, uint32_t timeAdminPinLength,
                                   const uint8_t *timeAdminPuk, uint32_t timeAdminPukLength);
se_result_t se_initialize(void);
se_result_t se_updateTime(uint64_t newDateTime); /* Unix seconds */
se_result_t se_getTimeSyncInterval(uint32_t *timeSyncInterval); /* seconds */
se_result_t se_getTimeSyncVariant(int32_t *timeSyncVariant);
const char *se_getApiVersionString(void); /* library-owned, not freed */
uint8_t *se_getUniqueId(uint32_t *length); /* library-owned, NULL on failure */
se_result_t se_getCertificationId(char **certificationId, uint32_t *certificationIdLength);
se_result_t se_getLifeCycleState(int32_t *state);
se_result_t se_getCertificateExpirationDate(const uint8_t *serialNumber, uint32_t serialNumberLength,
                                            uint64_t *expirationDate);
se_result_t se_getERSMappings(uint8_t **ersMappings, uint32_t *ersMappingsLength);
se_result_t se_exportSerialNumbers(uint8_t **serialNumbers, uint32_t *serialNumbersLength);
se_result_t se_getMaxNumberOfClients(uint32_t *maxNumberClients);
se_result_t se_getCurrentNumberOfClients(uint32_t *currentNumberClients);
se_result_t se_getMaxNumberOfTransactions(uint32_t *maxNumberTransactions);
se_result_t se_getCurrentNumberOfTransactions(uint32_t *currentNumberTransactions);
se_result_t se_getTransactionCounter(uint32_t *transactionCounter);
se_result_t se_getTotalLogMemory(uint64_t *totalLogMemory); /* bytes */
se_result_t se_getAvailableLogMemory(uint64_t *availableLogMemory); /* bytes */
se_result_t se_getSignatureCounter(const uint8_t *serialNumber, uint32_t serialNumberLength,
                                   uint32_t *signatureCounter);
se_result_t se_getSignatureAlgorithm(uint8_t **signatureAlgorithm, uint32_t *signatureAlgorithmLength); /* DER */
se_result_t se_exportPublicKey(const uint8_t *serialNumber, uint32_t serialNumberLength, uint8_t **publicKey,
                               uint32_t *publicKeyLength);
se_result_t se_mapERStoKey(const char *clientId, uint32_t clientIdLength, const uint8_t *serialNumber,
                           uint32_t serialNumberLength);
se_result_t se_startTransaction(const char *clientId, uint32_t clientIdLength, const uint8_t *processData,
                                uint32_t processDataLength, const char *processType, uint32_t processTypeLength,
                                const uint8_t *additionalData, uint32_t additionalDataLength,
                                se_StartTransactionResult_t *result);
se_result_t se_finishTransaction(const char *clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                 const uint8_t *processData, uint32_t processDataLength, const char *processType,
                                 uint32_t processTypeLength, const uint8_t *additionalData,
                                 uint32_t additionalDataLength, se_FinishTransactionResult_t *result);
se_result_t se_getOpenTransactions(uint8_t **transactionNumbers,
                                   uint32_t *count); /* count entries, each a little-endian uint32 */
se_result_t se_exportDataToFile(const char *clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                uint32_t startTransactionNumber, uint32_t endTransactionNumber, uint64_t startDate,
                                uint64_t endDate, uint32_t maximumNumberRecords,
                                const char *fileName); /* zero-terminated file name */
se_result_t se_exportCertificates(uint8_t **certificates, uint32_t *certificatesLength); /* a TAR archive */
void se_free(void *buffer);

#ifdef __cplusplus
}
#endif

#endif /* SOFTTSE_SE_API_H */
