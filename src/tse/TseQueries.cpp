// What the TSE tells about itself: identity, state, certificate, clients,
// capacities, counters, memory, signature algorithm and public key.
#include "tse/TseCall.h"
#include "tse/TseLib.h"
#include "tse/UnixLib.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"

using tsecall::LibBuffer;
using tsecall::Ok;
using tsecall::SerialArg;

namespace {

// The hex of a returned buffer, released after copying; empty on failure.
template <typename Call>
std::string HexGetter(Call call)
{
    LibBuffer<uint8_t> buffer;
    if (!Ok(call(buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    return buffer.Hex();
}

template <typename T, typename Call>
T NumberGetter(Call call)
{
    T value = 0;
    return Ok(call(&value)) ? value : 0;
}

std::string FirstTerm(const std::string& list)
{
    return list.substr(0, list.find('|'));
}

}  // namespace

std::string tse_getUniqueId()
{
    // The id has no result code of its own: a missing id is reported as 5001h.
    TseRes = ExecutionOk;
    uint32_t length = 0;
    const uint8_t* id = se_getUniqueId(&length);
    if (id == nullptr) {
        TseRes = TseResNoUniqueId;
        return {};
    }
    // The id's bytes belong to the library and are not released.
    return tsecall::HexOf(std::string(reinterpret_cast<const char*>(id), length));
}

std::string tse_getLifeCycleState()
{
    int32_t state = 0;
    if (!Ok(se_getLifeCycleState(&state))) return {};
    switch (state) {
    case 1: return "nicht initialisiert";
    case 2: return "keine Zeit gesetzt";
    case 3: return "aktiv";
    case 4: return "deaktiviert";
    case 5: return "dauerhaft deaktiviert";
    default: return "unbekannt";
    }
}

std::string tse_getCertificationId()
{
    LibBuffer<char> buffer;
    if (!Ok(se_getCertificationId(buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    const std::string text = buffer.Bytes();
    return text.substr(0, text.find('\0'));
}

std::string tse_getCertificateExpirationDate(const std::string& HexSN)
{
    const SerialArg serial(HexSN);
    uint64_t expiry = 0;
    if (!Ok(se_getCertificateExpirationDate(serial.bytes(), serial.length(), &expiry))) return {};
    // The certificate's end is a UTC instant whatever the TSE's clock runs on.
    const auto when = UnixTimeToDateTime(static_cast<uint32_t>(expiry), false);
    return plat::QToAnsi(plat::FormatDateTime(QStringLiteral("DD.MM.YY hh:nn:ss"), when));
}

std::string tse_getERSMappings()
{
    return HexGetter(se_getERSMappings);
}

std::string tse_exportSerialNumbers()
{
    const std::string hex = HexGetter(se_exportSerialNumbers);
    if (hex.empty()) return {};
    return Get_ASN1_Data(hex);
}

uint32_t tse_getMaxNumberOfClients()
{
    return NumberGetter<uint32_t>(se_getMaxNumberOfClients);
}

uint32_t tse_getCurrentNumberOfClients()
{
    return NumberGetter<uint32_t>(se_getCurrentNumberOfClients);
}

uint32_t tse_getMaxNumberOfTransactions()
{
    return NumberGetter<uint32_t>(se_getMaxNumberOfTransactions);
}

uint32_t tse_getCurrentNumberOfTransactions()
{
    return NumberGetter<uint32_t>(se_getCurrentNumberOfTransactions);
}

uint32_t tse_getTransactionCounter()
{
    return NumberGetter<uint32_t>(se_getTransactionCounter);
}

uint64_t tse_getTotalLogMemory()
{
    return NumberGetter<uint64_t>(se_getTotalLogMemory);
}

uint64_t tse_getAvailableLogMemory()
{
    return NumberGetter<uint64_t>(se_getAvailableLogMemory);
}

uint32_t tse_getSignatureCounter(const std::string& HexSN)
{
    const SerialArg serial(HexSN);
    uint32_t counter = 0;
    return Ok(se_getSignatureCounter(serial.bytes(), serial.length(), &counter)) ? counter : 0;
}

std::string tse_getSignatureAlgorithm()
{
    LibBuffer<uint8_t> buffer;
    if (!Ok(se_getSignatureAlgorithm(buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    const std::string S = buffer.Hex();
    buffer.Release();

    // The TSE sends an AlgorithmIdentifier: a SEQUENCE whose first value is
    // the object identifier.
    if (S.rfind("30", 0) != 0) {
        tse_Log("tse_getSignatureAlgorithm  FORMAT-FEHLER");
        tse_Log("  " + InsTZ(S, '-'));
        return S;
    }
    const std::string oid = FirstTerm(Get_ASN1_Data(S));
    if (oid == "04007F00070101040103") return "ecdsa-plain-SHA256";
    if (oid == "04007F00070101040104") return "ecdsa-plain-SHA384";
    if (oid == "04007F00070101040105") return "ecdsa-plain-SHA512";
    if (oid == "2A8648CE3D040303") return "ecdsa-with-SHA384";
    return oid;
}

std::string tse_exportPublicKey(const std::string& HexSN)
{
    const SerialArg serial(HexSN);
    LibBuffer<uint8_t> buffer;
    if (!Ok(se_exportPublicKey(serial.bytes(), serial.length(), buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    return buffer.Hex();
}
