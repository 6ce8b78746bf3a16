#include "vok-tse-client/LogMemberCheck.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

namespace vokclient {

namespace {

const char* KindText(LogKind kind)
{
    switch (kind) {
    case LogKind::System: return "a system log";
    case LogKind::Audit: return "an audit log";
    case LogKind::Start: return "a transaction start";
    case LogKind::Update: return "a transaction update";
    case LogKind::Finish: return "a transaction finish";
    }
    return "";
}

const char* TimeFormText(TimeForm form)
{
    switch (form) {
    case TimeForm::Unix: return "unixTime";
    case TimeForm::Utc: return "utcTime";
    case TimeForm::Generalized: return "generalizedTime";
    }
    return "";
}

}  // namespace

std::string UpperHex(const ByteString& b)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(b.size() * 2);
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 0x0F];
    }
    return s;
}

LogMemberResult CheckLogMember(const std::string& member, const ByteString& data, const KeyRing& keys,
                               PlainSignatureChecker& checker)
{
    LogMemberResult r;
    LogFileName name;
    const bool named = ParseLogFileName(member, name);
    if (!named) r.findings.push_back("name does not follow the export naming");
    LogMessageFields f;
    std::string why;
    if (!ParseLogMessage(data, f, why)) {
        r.findings.push_back("not a TR-03151 log message: " + why);
        return r;
    }
    r.parsed = true;
    r.serialHex = UpperHex(f.serialNumber);
    r.record.counter = f.signatureCounter;
    r.record.logTime = f.logTime;
    r.record.kind = f.kind;
    r.record.transactionNumber = f.transactionNumber;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    if (EVP_Digest(data.data(), data.size(), md, &mdLength, EVP_sha256(), nullptr) == 1)
        std::memcpy(r.record.digest.data(), md, r.record.digest.size());

    if (named) {
        if (f.signatureCounter != name.signatureCounter)
            r.findings.push_back("signature counter in the message is " + std::to_string(f.signatureCounter));
        if (f.timeForm != name.timeForm)
            r.findings.push_back(std::string("logTime in the message is ") + TimeFormText(f.timeForm) +
                                 ", the name's prefix says otherwise");
        else if (f.logTime != name.logTime)
            r.findings.push_back("logTime in the message is " + std::to_string(f.logTime));
        if (f.kind != name.kind) {
            r.findings.push_back(std::string("named ") + KindText(name.kind) + " but holds " + KindText(f.kind));
        } else if (IsTransaction(f.kind)) {
            if (f.transactionNumber != name.transactionNumber)
                r.findings.push_back("transaction number in the message is " + std::to_string(f.transactionNumber));
            if (!TailNames(name.tail, f.clientId))
                r.findings.push_back("client id in the message is " + std::string(f.clientId.begin(), f.clientId.end()));
        } else if (f.kind == LogKind::System &&
                   !TailNames(name.tail, ByteString(f.operationType.begin(), f.operationType.end()))) {
            r.findings.push_back("operation in the message is " + f.operationType);
        }
    }
    if (f.hash == PlainHash::Unknown) {
        r.findings.push_back("signature algorithm " + f.algorithmOid + " is not an ecdsa-plain algorithm");
        return r;
    }
    const auto key = keys.find(r.serialHex);
    if (key == keys.end()) return r;  // reported once per archive and serial number
    r.keyKnown = true;
    if (!checker.Verifies(*key->second, f.hash, f.signedData, f.signature))
        r.findings.push_back("signature does not verify with the key of the certificate its serial number names");
    return r;
}

}  // namespace vokclient
