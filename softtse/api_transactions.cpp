// SE-API: clients and transactions.
#include "der.h"
#include "log_message.h"
#include "printable_string.h"
#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace softtse;

namespace {

bool isMapped(const DeviceState &s, const Bytes &client)
{
    return std::find(s.clients.begin(), s.clients.end(), client) != s.clients.end();
}

// Text and byte arguments: a null pointer is only right with length 0.
bool argumentsPresent(const void *processData, uint32_t processDataLength, const char *processType,
                      uint32_t processTypeLength, const void *additionalData, uint32_t additionalDataLength)
{
    return (processData || processDataLength == 0) && (processType || processTypeLength == 0) &&
           (additionalData || additionalDataLength == 0);
}

// The two library buffers of a transaction result, allocated before the
// state changes so that a failed allocation never costs a counter.
struct ResultBuffers {
    uint8_t *serial = nullptr;
    uint8_t *signature = nullptr;
    ~ResultBuffers()
    {
        std::free(serial);
        std::free(signature);
    }
    bool allocate(const Bytes &serialNumber)
    {
        serial = copyOut(serialNumber);
        signature = static_cast<uint8_t *>(std::malloc(kSignatureSize));
        return serial && signature;
    }
};

template <class Result>
void fillResult(Result *result, ResultBuffers &buffers, const Bytes &serial, const SignedLog &signedLog)
{
    std::memcpy(buffers.signature, signedLog.signature.data(), kSignatureSize);
    result->logTime = signedLog.logTime;
    result->serialNumber = buffers.serial;
    result->serialNumberLength = static_cast<uint32_t>(serial.size());
    result->signatureCounter = signedLog.signatureCounter;
    result->signatureValue = buffers.signature;
    result->signatureValueLength = static_cast<uint32_t>(kSignatureSize);
    buffers.serial = nullptr; // now the caller's, released with se_free
    buffers.signature = nullptr;
}

// What start and finish check alike before they change the state: the
// arguments, the session, the TSE's readiness to sign and the client's mapping.
// Client id and process type are checked before anything else is looked at,
// as they are properties of the call alone.
template <class Result>
se_result_t beginTransaction(Call &call, const char *clientId, uint32_t clientIdLength, const uint8_t *processData,
                             uint32_t processDataLength, const char *processType, uint32_t processTypeLength,
                             const uint8_t *additionalData, uint32_t additionalDataLength, Result *result,
                             TransactionLogData &log, DeviceState &next)
{
    if (result == nullptr || clientId == nullptr || clientIdLength == 0 ||
        !argumentsPresent(processData, processDataLength, processType, processTypeLength, additionalData,
                          additionalDataLength))
        return ErrorMissingParameter;
    std::memset(result, 0, sizeof *result);
    if (!isValidClientId(clientId, clientIdLength) || !isPrintableString(processType, processTypeLength))
        return ErrorParameterMismatch;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkSigning(d)) != ExecutionOk)
        return rc;
    log.clientId = bytesOf(clientId, clientIdLength);
    next = d.state();
    if (!isMapped(next, log.clientId))
        return ErrorNoERS;
    log.processData = bytesOf(processData, processDataLength);
    log.processType = bytesOf(processType, processTypeLength);
    log.additionalExternalData = bytesOf(additionalData, additionalDataLength);
    return ExecutionOk;
}

} // namespace

extern "C" {

se_result_t se_mapERStoKey(const char *clientId, uint32_t clientIdLength, const uint8_t *serialNumber,
                           uint32_t serialNumberLength)
{
    Call call("se_mapERStoKey");
    if (call.failing())
        return call.fault().code;
    if (clientId == nullptr || clientIdLength == 0)
        return ErrorMissingParameter;
    if (!isValidClientId(clientId, clientIdLength))
        return ErrorParameterMismatch;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if ((rc = checkAdministration(d, false)) != ExecutionOk ||
        (rc = checkSerial(d, serialNumber, serialNumberLength)) != ExecutionOk)
        return rc;
    const Bytes client = bytesOf(clientId, clientIdLength);
    DeviceState next = d.state();
    if (isMapped(next, client))
        return ErrorERSalreadyMapped;
    if (next.clients.size() >= next.maxClients)
        return ErrorTooManyRecords;
    next.clients.push_back(client);
    SystemLogData log;
    log.operationType = "mapERStoKey";
    log.operationData = der::sequence({der::octetString(client), der::octetString(d.serial())});
    return d.commitSystemLog(next, log);
}

se_result_t se_startTransaction(const char *clientId, uint32_t clientIdLength, const uint8_t *processData,
                                uint32_t processDataLength, const char *processType, uint32_t processTypeLength,
                                const uint8_t *additionalData, uint32_t additionalDataLength,
                                se_StartTransactionResult_t *result)
{
    Call call("se_startTransaction");
    if (call.failing())
        return call.fault().code;
    TransactionLogData log;
    log.start = true;
    DeviceState next;
    se_result_t rc = beginTransaction(call, clientId, clientIdLength, processData, processDataLength, processType,
                                      processTypeLength, additionalData, additionalDataLength, result, log, next);
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if (next.openTransactions.size() >= next.maxTransactions)
        return ErrorTooManyRecords;
    if (next.transactionCounter == SE_MAX_UINT32 - 1)
        return ErrorStartTransactionFailed;
    ResultBuffers buffers;
    if (!buffers.allocate(d.serial()))
        return ErrorAllocationfailed;
    next.transactionCounter += 1;
    log.transactionNumber = next.transactionCounter;
    next.openTransactions.push_back({log.transactionNumber, log.clientId});
    SignedLog signedLog;
    if ((rc = d.commitTransactionLog(next, log, signedLog, ErrorStartTransactionFailed)) != ExecutionOk)
        return rc;
    fillResult(result, buffers, d.serial(), signedLog);
    result->transactionNumber = log.transactionNumber;
    return ExecutionOk;
}

se_result_t se_finishTransaction(const char *clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                 const uint8_t *processData, uint32_t processDataLength, const char *processType,
                                 uint32_t processTypeLength, const uint8_t *additionalData,
                                 uint32_t additionalDataLength, se_FinishTransactionResult_t *result)
{
    Call call("se_finishTransaction");
    if (call.failing())
        return call.fault().code;
    TransactionLogData log;
    log.start = false;
    DeviceState next;
    se_result_t rc = beginTransaction(call, clientId, clientIdLength, processData, processDataLength, processType,
                                      processTypeLength, additionalData, additionalDataLength, result, log, next);
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    auto open = std::find_if(next.openTransactions.begin(), next.openTransactions.end(),
                             [&](const OpenTransaction &t) { return t.number == transactionNumber; });
    if (open == next.openTransactions.end())
        return ErrorTransactionNumberNotFound;
    // Only the client that started a transaction finishes it, as on a
    // certified TSE; a transaction whose starter is not known (its start
    // message lost) is left to any mapped client rather than to nobody.
    if (!open->client.empty() && open->client != log.clientId)
        return ErrorParameterMismatch;
    ResultBuffers buffers;
    if (!buffers.allocate(d.serial()))
        return ErrorAllocationfailed;
    next.openTransactions.erase(open);
    log.transactionNumber = transactionNumber;
    SignedLog signedLog;
    if ((rc = d.commitTransactionLog(next, log, signedLog, ErrorFinishTransactionFailed)) != ExecutionOk)
        return rc;
    fillResult(result, buffers, d.serial(), signedLog);
    return ExecutionOk;
}

se_result_t se_getOpenTransactions(uint8_t **transactionNumbers, uint32_t *count)
{
    Call call("se_getOpenTransactions");
    if (call.failing())
        return call.fault().code;
    if (transactionNumbers == nullptr || count == nullptr)
        return ErrorMissingParameter;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    const DeviceState &s = call.device().state();
    if ((rc = checkInitialised(s)) != ExecutionOk)
        return rc;
    Bytes bytes;
    bytes.reserve(s.openTransactions.size() * 4);
    for (const OpenTransaction &t : s.openTransactions) {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(t.number >> (8 * i)));
    }
    uint8_t *buffer = copyOut(bytes);
    if (buffer == nullptr)
        return ErrorAllocationfailed;
    *transactionNumbers = buffer;
    *count = static_cast<uint32_t>(s.openTransactions.size());
    return ExecutionOk;
}

} // extern "C"
