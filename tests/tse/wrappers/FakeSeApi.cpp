#include "FakeSeApi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace fakese {
namespace {

struct State {
    Script script;
    std::vector<Call> calls;
    std::set<void*> live;      // handed out with success, not yet released
    std::set<void*> handedOnFailure;
    std::set<void*> released;
    std::vector<void*> all;    // freed only at Reset, so no address is reused
    std::vector<std::string> releasedContents;
    std::map<void*, std::string> contents;
    size_t nullFrees = 0;
    std::vector<std::string> misfrees;
};

State& S()
{
    static State s;
    return s;
}

Bytes Arg(const void* p, uint32_t length)
{
    if (p == nullptr) return std::nullopt;
    return std::string(static_cast<const char*>(p), length);
}

se_result_t Record(const char* fn, std::vector<Bytes> data, std::vector<uint64_t> nums)
{
    S().calls.push_back({fn, std::move(data), std::move(nums)});
    const auto it = S().script.results.find(fn);
    return it == S().script.results.end() ? ExecutionOk : it->second;
}

uint8_t* Hand(const Bytes& bytes, se_result_t res)
{
    if (!bytes) return nullptr;
    void* p = std::malloc(bytes->size() + 1);
    std::memcpy(p, bytes->data(), bytes->size());
    S().all.push_back(p);
    S().contents[p] = *bytes;
    (res == ExecutionOk ? S().live : S().handedOnFailure).insert(p);
    return static_cast<uint8_t*>(p);
}

template <typename T>
se_result_t BufferOut(se_result_t res, T** out, uint32_t* length)
{
    const Script& sc = S().script;
    *out = reinterpret_cast<T*>(Hand(sc.buffer, res));
    *length = sc.bufferLength ? *sc.bufferLength : (sc.buffer ? uint32_t(sc.buffer->size()) : 0);
    return res;
}

template <typename R>
void FillRecord(R* r, se_result_t res)
{
    const TransRecord& t = S().script.trans;
    r->logTime = t.logTime;
    r->serialNumber = Hand(t.serial, res);
    r->serialNumberLength = t.serial ? uint32_t(t.serial->size()) : 0;
    r->signatureCounter = t.signatureCounter;
    r->signatureValue = Hand(t.signature, res);
    r->signatureValueLength = t.signature ? uint32_t(t.signature->size()) : 0;
}

}  // namespace

Script& script()
{
    return S().script;
}

void Reset()
{
    for (void* p : S().all) std::free(p);
    S() = State{};
}

const std::vector<Call>& Calls()
{
    return S().calls;
}

const Call& Only(const std::string& fn)
{
    const Call* found = nullptr;
    int n = 0;
    for (const Call& c : S().calls)
        if (c.fn == fn) {
            found = &c;
            ++n;
        }
    EXPECT_EQ(n, 1) << fn;
    static const Call none;
    return found ? *found : none;
}

Frees FreeReport()
{
    return {S().releasedContents, S().live.size(), S().nullFrees, S().misfrees};
}

}  // namespace fakese

using namespace fakese;

extern "C" {

se_result_t se_openDirect(const char* devicePath, uint32_t timeout)
{
    return Record(__func__, {devicePath ? Bytes(devicePath) : std::nullopt}, {timeout});
}
se_result_t se_close(void) { return Record(__func__, {}, {}); }
se_result_t se_authenticateUser(const char* userId, uint32_t userIdLength, const uint8_t* pin, uint32_t pinLength,
                                int32_t* authenticationResult, int16_t* remainingRetries)
{
    const se_result_t res = Record(__func__, {Arg(userId, userIdLength), Arg(pin, pinLength)}, {userIdLength, pinLength});
    *authenticationResult = S().script.i32;
    *remainingRetries = S().script.i16;
    return res;
}
se_result_t se_logOut(const char* userId, uint32_t userIdLength)
{
    return Record(__func__, {Arg(userId, userIdLength)}, {userIdLength});
}
se_result_t se_activateTSE(void) { return Record(__func__, {}, {}); }
se_result_t se_deactivateTSE(void) { return Record(__func__, {}, {}); }
se_result_t se_initializePinValues(const uint8_t* adminPin, uint32_t adminPinLength, const uint8_t* adminPuk,
                                   uint32_t adminPukLength, const uint8_t* timeAdminPin, uint32_t timeAdminPinLength,
                                   const uint8_t* timeAdminPuk, uint32_t timeAdminPukLength)
{
    return Record(__func__,
                  {Arg(adminPin, adminPinLength), Arg(adminPuk, adminPukLength), Arg(timeAdminPin, timeAdminPinLength),
                   Arg(timeAdminPuk, timeAdminPukLength)},
                  {adminPinLength, adminPukLength, timeAdminPinLength, timeAdminPukLength});
}
se_result_t se_initialize(void) { return Record(__func__, {}, {}); }
se_result_t se_updateTime(uint64_t newDateTime) { return Record(__func__, {}, {newDateTime}); }

#define FAKE_OUT(name, type, field)                 \
    se_result_t name(type* out)                     \
    {                                               \
        const se_result_t res = Record(__func__, {}, {}); \
        *out = static_cast<type>(S().script.field); \
        return res;                                 \
    }
FAKE_OUT(se_getTimeSyncInterval, uint32_t, u32)
FAKE_OUT(se_getTimeSyncVariant, int32_t, i32)
FAKE_OUT(se_getLifeCycleState, int32_t, i32)
FAKE_OUT(se_getMaxNumberOfClients, uint32_t, u32)
FAKE_OUT(se_getCurrentNumberOfClients, uint32_t, u32)
FAKE_OUT(se_getMaxNumberOfTransactions, uint32_t, u32)
FAKE_OUT(se_getCurrentNumberOfTransactions, uint32_t, u32)
FAKE_OUT(se_getTransactionCounter, uint32_t, u32)
FAKE_OUT(se_getTotalLogMemory, uint64_t, u64)
FAKE_OUT(se_getAvailableLogMemory, uint64_t, u64)
#undef FAKE_OUT

const char* se_getApiVersionString(void)
{
    Record(__func__, {}, {});
    return S().script.version.c_str();
}
uint8_t* se_getUniqueId(uint32_t* length)
{
    Record(__func__, {}, {});
    Bytes& id = S().script.uniqueId;
    *length = id ? uint32_t(id->size()) : 0;
    return id ? reinterpret_cast<uint8_t*>(id->data()) : nullptr;
}
se_result_t se_getCertificationId(char** certificationId, uint32_t* certificationIdLength)
{
    return BufferOut(Record(__func__, {}, {}), certificationId, certificationIdLength);
}
se_result_t se_getCertificateExpirationDate(const uint8_t* serialNumber, uint32_t serialNumberLength,
                                            uint64_t* expirationDate)
{
    const se_result_t res = Record(__func__, {Arg(serialNumber, serialNumberLength)}, {serialNumberLength});
    *expirationDate = S().script.u64;
    return res;
}
se_result_t se_getERSMappings(uint8_t** b, uint32_t* l) { return BufferOut(Record(__func__, {}, {}), b, l); }
se_result_t se_exportSerialNumbers(uint8_t** b, uint32_t* l) { return BufferOut(Record(__func__, {}, {}), b, l); }
se_result_t se_getSignatureAlgorithm(uint8_t** b, uint32_t* l) { return BufferOut(Record(__func__, {}, {}), b, l); }
se_result_t se_getOpenTransactions(uint8_t** b, uint32_t* l) { return BufferOut(Record(__func__, {}, {}), b, l); }
se_result_t se_exportCertificates(uint8_t** b, uint32_t* l) { return BufferOut(Record(__func__, {}, {}), b, l); }
se_result_t se_getSignatureCounter(const uint8_t* serialNumber, uint32_t serialNumberLength,
                                   uint32_t* signatureCounter)
{
    const se_result_t res = Record(__func__, {Arg(serialNumber, serialNumberLength)}, {serialNumberLength});
    *signatureCounter = S().script.u32;
    return res;
}
se_result_t se_exportPublicKey(const uint8_t* serialNumber, uint32_t serialNumberLength, uint8_t** publicKey,
                               uint32_t* publicKeyLength)
{
    const se_result_t res = Record(__func__, {Arg(serialNumber, serialNumberLength)}, {serialNumberLength});
    return BufferOut(res, publicKey, publicKeyLength);
}
se_result_t se_mapERStoKey(const char* clientId, uint32_t clientIdLength, const uint8_t* serialNumber,
                           uint32_t serialNumberLength)
{
    return Record(__func__, {Arg(clientId, clientIdLength), Arg(serialNumber, serialNumberLength)},
                  {clientIdLength, serialNumberLength});
}
se_result_t se_startTransaction(const char* clientId, uint32_t clientIdLength, const uint8_t* processData,
                                uint32_t processDataLength, const char* processType, uint32_t processTypeLength,
                                const uint8_t* additionalData, uint32_t additionalDataLength,
                                se_StartTransactionResult_t* result)
{
    const se_result_t res = Record(__func__,
                                   {Arg(clientId, clientIdLength), Arg(processData, processDataLength),
                                    Arg(processType, processTypeLength), Arg(additionalData, additionalDataLength)},
                                   {clientIdLength, processDataLength, processTypeLength, additionalDataLength});
    FillRecord(result, res);
    result->transactionNumber = S().script.trans.transactionNumber;
    return res;
}
se_result_t se_finishTransaction(const char* clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                 const uint8_t* processData, uint32_t processDataLength, const char* processType,
                                 uint32_t processTypeLength, const uint8_t* additionalData,
                                 uint32_t additionalDataLength, se_FinishTransactionResult_t* result)
{
    const se_result_t res = Record(__func__,
                                   {Arg(clientId, clientIdLength), Arg(processData, processDataLength),
                                    Arg(processType, processTypeLength), Arg(additionalData, additionalDataLength)},
                                   {clientIdLength, transactionNumber, processDataLength, processTypeLength,
                                    additionalDataLength});
    FillRecord(result, res);
    return res;
}
se_result_t se_exportDataToFile(const char* clientId, uint32_t clientIdLength, uint32_t transactionNumber,
                                uint32_t startTransactionNumber, uint32_t endTransactionNumber, uint64_t startDate,
                                uint64_t endDate, uint32_t maximumNumberRecords, const char* fileName)
{
    return Record(__func__, {Arg(clientId, clientIdLength), fileName ? Bytes(fileName) : std::nullopt},
                  {clientIdLength, transactionNumber, startTransactionNumber, endTransactionNumber, startDate, endDate,
                   maximumNumberRecords});
}

void se_free(void* buffer)
{
    State& s = S();
    if (buffer == nullptr) {
        ++s.nullFrees;
        return;
    }
    if (s.live.erase(buffer) || s.handedOnFailure.erase(buffer)) {
        s.released.insert(buffer);
        s.releasedContents.push_back(s.contents[buffer]);
        return;
    }
    if (s.released.count(buffer))
        s.misfrees.push_back("released twice: " + s.contents[buffer]);
    else if (s.script.uniqueId && buffer == s.script.uniqueId->data())
        s.misfrees.push_back("unique id");
    else if (buffer == s.script.version.c_str())
        s.misfrees.push_back("version text");
    else
        s.misfrees.push_back("not handed out");
}

}  // extern "C"
