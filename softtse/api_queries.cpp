// SE-API: what the TSE tells about itself.
#include "der.h"
#include "log_message.h"
#include "session.h"

#include <cstdlib>
#include <cstring>

using namespace softtse;

namespace {

enum class Needs { Open, Initialised };

// The common shape of the number getters. A "value" directive of the fault
// file answers in place of the device.
template <class T, class Get>
se_result_t numberQuery(const char *function, T *out, Needs needs, Get get, const uint8_t *serial = nullptr,
                        uint32_t serialLength = 0, bool takesSerial = false)
{
    Call call(function);
    if (call.failing())
        return call.fault().code;
    if (out == nullptr)
        return ErrorMissingParameter;
    if (call.fault().kind == FaultAction::Value) {
        *out = static_cast<T>(call.fault().value);
        return ExecutionOk;
    }
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if (needs == Needs::Initialised && (rc = checkInitialised(d.state())) != ExecutionOk)
        return rc;
    if (takesSerial && (rc = checkSerial(d, serial, serialLength)) != ExecutionOk)
        return rc;
    *out = static_cast<T>(get(d));
    return ExecutionOk;
}

// The common shape of the getters that hand out a buffer.
template <class Make>
se_result_t bufferQuery(const char *function, uint8_t **out, uint32_t *length, Needs needs, Make make,
                        const uint8_t *serial = nullptr, uint32_t serialLength = 0, bool takesSerial = false)
{
    Call call(function);
    if (call.failing())
        return call.fault().code;
    if (out == nullptr || length == nullptr)
        return ErrorMissingParameter;
    se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    Device &d = call.device();
    if (needs == Needs::Initialised && (rc = checkInitialised(d.state())) != ExecutionOk)
        return rc;
    if (takesSerial && (rc = checkSerial(d, serial, serialLength)) != ExecutionOk)
        return rc;
    const Bytes bytes = make(d);
    uint8_t *buffer = copyOut(bytes);
    if (buffer == nullptr)
        return ErrorAllocationfailed;
    *out = buffer;
    *length = static_cast<uint32_t>(bytes.size());
    return ExecutionOk;
}

} // namespace

extern "C" {

se_result_t se_getTimeSyncInterval(uint32_t *timeSyncInterval)
{
    return numberQuery("se_getTimeSyncInterval", timeSyncInterval, Needs::Open,
                       [](Device &d) { return d.state().timeSyncInterval; });
}

se_result_t se_getTimeSyncVariant(int32_t *timeSyncVariant)
{
    return numberQuery("se_getTimeSyncVariant", timeSyncVariant, Needs::Open, [](Device &) { return 3; });
}

uint8_t *se_getUniqueId(uint32_t *length)
{
    Call call("se_getUniqueId");
    if (call.failing() || length == nullptr || call.enter() != ExecutionOk)
        return nullptr;
    Session &s = call.state();
    if (!fromHex(call.device().state().uniqueIdHex, s.uniqueId) || s.uniqueId.empty())
        return nullptr;
    *length = static_cast<uint32_t>(s.uniqueId.size());
    return s.uniqueId.data();
}

se_result_t se_getCertificationId(char **certificationId, uint32_t *certificationIdLength)
{
    Call call("se_getCertificationId");
    if (call.failing())
        return call.fault().code;
    if (certificationId == nullptr || certificationIdLength == nullptr)
        return ErrorMissingParameter;
    const se_result_t rc = call.enter();
    if (rc != ExecutionOk)
        return rc;
    const std::string &id = call.device().state().certificationId;
    // One byte more than the length: a terminator for callers that want one.
    auto *buffer = static_cast<char *>(std::malloc(id.size() + 1));
    if (buffer == nullptr)
        return ErrorAllocationfailed;
    std::memcpy(buffer, id.c_str(), id.size() + 1);
    *certificationId = buffer;
    *certificationIdLength = static_cast<uint32_t>(id.size());
    return ExecutionOk;
}

se_result_t se_getLifeCycleState(int32_t *state)
{
    return numberQuery("se_getLifeCycleState", state, Needs::Open, [](Device &d) { return d.state().lifeCycle; });
}

se_result_t se_getCertificateExpirationDate(const uint8_t *serialNumber, uint32_t serialNumberLength,
                                            uint64_t *expirationDate)
{
    return numberQuery(
        "se_getCertificateExpirationDate", expirationDate, Needs::Open,
        [](Device &d) { return d.state().certificateExpiry; }, serialNumber, serialNumberLength, true);
}

se_result_t se_getERSMappings(uint8_t **ersMappings, uint32_t *ersMappingsLength)
{
    return bufferQuery("se_getERSMappings", ersMappings, ersMappingsLength, Needs::Initialised, [](Device &d) {
        std::vector<Bytes> entries;
        for (const Bytes &client : d.state().clients)
            entries.push_back(der::sequence({der::octetString(client), der::octetString(d.serial())}));
        return der::sequence(entries);
    });
}

se_result_t se_exportSerialNumbers(uint8_t **serialNumbers, uint32_t *serialNumbersLength)
{
    return bufferQuery("se_exportSerialNumbers", serialNumbers, serialNumbersLength, Needs::Initialised,
                       [](Device &d) {
                           return der::sequence({der::sequence({der::octetString(d.serial()), der::boolean(true),
                                                                der::boolean(true), der::boolean(false)})});
                       });
}

se_result_t se_getMaxNumberOfClients(uint32_t *maxNumberClients)
{
    return numberQuery("se_getMaxNumberOfClients", maxNumberClients, Needs::Open,
                       [](Device &d) { return d.state().maxClients; });
}

se_result_t se_getCurrentNumberOfClients(uint32_t *currentNumberClients)
{
    return numberQuery("se_getCurrentNumberOfClients", currentNumberClients, Needs::Initialised,
                       [](Device &d) { return d.state().clients.size(); });
}

se_result_t se_getMaxNumberOfTransactions(uint32_t *maxNumberTransactions)
{
    return numberQuery("se_getMaxNumberOfTransactions", maxNumberTransactions, Needs::Open,
                       [](Device &d) { return d.state().maxTransactions; });
}

se_result_t se_getCurrentNumberOfTransactions(uint32_t *currentNumberTransactions)
{
    return numberQuery("se_getCurrentNumberOfTransactions", currentNumberTransactions, Needs::Initialised,
                       [](Device &d) { return d.state().openTransactions.size(); });
}

se_result_t se_getTransactionCounter(uint32_t *transactionCounter)
{
    return numberQuery("se_getTransactionCounter", transactionCounter, Needs::Initialised,
                       [](Device &d) { return d.state().transactionCounter; });
}

se_result_t se_getTotalLogMemory(uint64_t *totalLogMemory)
{
    return numberQuery("se_getTotalLogMemory", totalLogMemory, Needs::Open,
                       [](Device &d) { return d.state().totalLogMemory; });
}

se_result_t se_getAvailableLogMemory(uint64_t *availableLogMemory)
{
    return numberQuery("se_getAvailableLogMemory", availableLogMemory, Needs::Open, [](Device &d) {
        const DeviceState &s = d.state();
        return s.storedLogBytes < s.totalLogMemory ? s.totalLogMemory - s.storedLogBytes : 0;
    });
}

se_result_t se_getSignatureCounter(const uint8_t *serialNumber, uint32_t serialNumberLength,
                                   uint32_t *signatureCounter)
{
    return numberQuery(
        "se_getSignatureCounter", signatureCounter, Needs::Initialised,
        [](Device &d) { return d.state().signatureCounter; }, serialNumber, serialNumberLength, true);
}

se_result_t se_getSignatureAlgorithm(uint8_t **signatureAlgorithm, uint32_t *signatureAlgorithmLength)
{
    return bufferQuery("se_getSignatureAlgorithm", signatureAlgorithm, signatureAlgorithmLength, Needs::Open,
                       [](Device &) { return signatureAlgorithmDer(); });
}

se_result_t se_exportPublicKey(const uint8_t *serialNumber, uint32_t serialNumberLength, uint8_t **publicKey,
                               uint32_t *publicKeyLength)
{
    return bufferQuery(
        "se_exportPublicKey", publicKey, publicKeyLength, Needs::Open, [](Device &d) { return d.publicPoint(); },
        serialNumber, serialNumberLength, true);
}

} // extern "C"
