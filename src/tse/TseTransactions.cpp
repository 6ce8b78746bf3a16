// Signing: client mapping, start and finish of a transaction, the open
// transactions, and the exports of stored data and certificates.
#include "tse/TseCall.h"
#include "tse/TseLib.h"
#include "tse/UnixLib.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"

using tsecall::LibBuffer;
using tsecall::Ok;
using tsecall::SerialArg;
using tsecall::TextArg;

namespace {

// The part both result records share; the buffers are copied and released,
// the signature first.
template <typename Record>
void TakeSignature(Record& record, TTransResult& TransRes)
{
    LibBuffer<uint8_t> serial(record.serialNumber, record.serialNumberLength);
    LibBuffer<uint8_t> signature(record.signatureValue, record.signatureValueLength);
    serial.Adopt();
    signature.Adopt();

    TransRes.logTime = LogTimeText(record.logTime);
    TransRes.serialNumber = serial.Hex();
    TransRes.signatureCounter = record.signatureCounter;
    TransRes.signatureValue = signature.Hex();

    signature.Release();
    serial.Release();
}

void ClearSignature(TTransResult& TransRes)
{
    TransRes.logTime.clear();
    TransRes.serialNumber.clear();
    TransRes.signatureCounter = 0;
    TransRes.signatureValue.clear();
}

}  // namespace

// 'YYYY-MM-DDThh:nn:ss.000Z': the Unix time as UTC. With TSE_ZEIT=LOKAL the
// TSE's clock runs on local time (see tse_updateTime), and so does this.
std::string LogTimeText(uint64_t logTime)
{
    const auto when = UnixTimeToDateTime(static_cast<uint32_t>(logTime), false);
    std::string text = plat::QToAnsi(plat::FormatDateTime(QStringLiteral("YYYY-MM-DD hh:nn:ss"), when)) + ".000Z";
    if (text.size() > 10) text[10] = 'T';
    return text;
}

void tse_mapERStoKey(const std::string& clientId, const std::string& HexSN)
{
    const TextArg client(clientId);
    const SerialArg serial(HexSN);
    Ok(se_mapERStoKey(client.chars(), client.length(), serial.bytes(), serial.length()));
}

// additionalData is part of the callers' interface but never reaches the
// library: the TSE gets "none" for it.
void tse_startTransaction(const std::string& clientId, const std::string& processData,
                          const std::string& processType, const std::string& /*additionalData*/,
                          TTransResult& TransRes)
{
    ClearSignature(TransRes);
    TransRes.transactionNumber = 0;

    const TextArg client(clientId), data(processData), type(processType);
    se_StartTransactionResult_t record{};
    if (!Ok(se_startTransaction(client.chars(), client.length(), data.bytes(), data.length(), type.chars(),
                                type.length(), nullptr, 0, &record)))
        return;

    TakeSignature(record, TransRes);
    TransRes.transactionNumber = record.transactionNumber;
}

// The caller's transaction number in TransRes stays as it is: the finish
// record carries none.
void tse_finishTransaction(const std::string& clientId, uint32_t transactionNumber, const std::string& processData,
                           const std::string& processType, const std::string& /*additionalData*/,
                           TTransResult& TransRes)
{
    ClearSignature(TransRes);

    const TextArg client(clientId), data(processData), type(processType);
    se_FinishTransactionResult_t record{};
    if (!Ok(se_finishTransaction(client.chars(), client.length(), transactionNumber, data.bytes(), data.length(),
                                 type.chars(), type.length(), nullptr, 0, &record)))
        return;

    TakeSignature(record, TransRes);
}

std::string tse_getOpenTransactions()
{
    LibBuffer<uint8_t> buffer;
    if (!Ok(se_getOpenTransactions(buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    // The out-length is a count of 4-byte little-endian entries, not bytes.
    const uint32_t count = buffer.length();
    const uint8_t* entries = buffer.data();
    std::string list;
    if (entries != nullptr) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = entries + 4 * static_cast<size_t>(i);
            const uint32_t number = uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16 | uint32_t(e[3]) << 24;
            list += std::to_string(number) + ' ';
        }
    }
    return list;
}

void tse_exportDataToFile(const std::string& clientId, uint32_t VonTransactionNr, uint32_t BisTransactionNr,
                          uint64_t VonDatum, uint64_t BisDatum, const std::string& filename)
{
    // An empty client id exports all clients; 0 as an upper bound means open.
    const TextArg client(clientId);
    const uint32_t bisNr = BisTransactionNr == 0 ? SE_MAX_UINT32 : BisTransactionNr;
    const uint64_t bisDatum = BisDatum == 0 ? SE_MAX_TIME : BisDatum;
    const std::string file = filename;
    Ok(se_exportDataToFile(client.chars(), client.length(), SE_MAX_UINT32, VonTransactionNr, bisNr, VonDatum,
                           bisDatum, 0, file.c_str()));
}

std::string tse_exportCertificates()
{
    LibBuffer<uint8_t> buffer;
    if (!Ok(se_exportCertificates(buffer.out(), buffer.outLength()))) return {};
    buffer.Adopt();
    return buffer.Hex();
}
