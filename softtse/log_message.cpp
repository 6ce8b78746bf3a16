#include "log_message.h"

#include "der.h"

#include <cstdio>
#include <cstdlib>

namespace softtse {

namespace {

constexpr const char *kTransactionLogOid = "0.4.0.127.0.7.3.7.1.1";
constexpr const char *kSystemLogOid = "0.4.0.127.0.7.3.7.1.2";
constexpr const char *kEcdsaPlainSha384Oid = "0.4.0.127.0.7.1.1.4.1.4";

Bytes bytesOf(const std::string &s) { return Bytes(s.begin(), s.end()); }

Bytes tagged(int n, const Bytes &content) { return der::tlv(static_cast<uint8_t>(der::kContext0 + n), content); }

void appendTrailer(Bytes &out, const Bytes &serial, uint32_t signatureCounter, uint64_t logTime)
{
    der::append(out, der::octetString(serial));
    der::append(out, signatureAlgorithmDer());
    der::append(out, der::integer(signatureCounter));
    der::append(out, der::integer(logTime));
}

// Client ids are free bytes; in a file name only a safe set stays as it is,
// everything else becomes %XX.
std::string encodeClient(const Bytes &client)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t c : client) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '_' || c == '.';
        if (safe) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

bool decodeClient(const std::string &s, Bytes &out)
{
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out.push_back(static_cast<uint8_t>(s[i]));
            continue;
        }
        if (i + 2 >= s.size())
            return false;
        const std::string hex = s.substr(i + 1, 2);
        char *end = nullptr;
        const long v = std::strtol(hex.c_str(), &end, 16);
        if (hex.size() != 2 || *end != '\0')
            return false;
        out.push_back(static_cast<uint8_t>(v));
        i += 2;
    }
    return true;
}

bool readNumber(const std::string &s, size_t &pos, uint64_t &value)
{
    const size_t begin = pos;
    value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + static_cast<uint64_t>(s[pos] - '0');
        ++pos;
    }
    return pos > begin && pos - begin <= 20;
}

bool expect(const std::string &s, size_t &pos, const char *text)
{
    const std::string t(text);
    if (s.compare(pos, t.size(), t) != 0)
        return false;
    pos += t.size();
    return true;
}

} // namespace

Bytes signatureAlgorithmDer() { return der::sequence({der::oid(kEcdsaPlainSha384Oid)}); }

Bytes transactionLogSignedPart(const TransactionLogData &t, const Bytes &serial, uint32_t signatureCounter,
                               uint64_t logTime)
{
    Bytes out;
    der::append(out, der::integer(2));
    der::append(out, der::oid(kTransactionLogOid));
    der::append(out, tagged(0, bytesOf(t.start ? "StartTransaction" : "FinishTransaction")));
    der::append(out, tagged(1, t.clientId));
    der::append(out, tagged(2, t.processData));
    der::append(out, tagged(3, t.processType));
    if (!t.additionalExternalData.empty())
        der::append(out, tagged(4, t.additionalExternalData));
    der::append(out, tagged(5, der::integerContent(t.transactionNumber)));
    appendTrailer(out, serial, signatureCounter, logTime);
    return out;
}

Bytes systemLogSignedPart(const SystemLogData &s, const Bytes &serial, uint32_t signatureCounter, uint64_t logTime)
{
    Bytes out;
    der::append(out, der::integer(2));
    der::append(out, der::oid(kSystemLogOid));
    der::append(out, tagged(0, bytesOf(s.operationType)));
    der::append(out, tagged(1, s.operationData));
    appendTrailer(out, serial, signatureCounter, logTime);
    return out;
}

Bytes completeLogMessage(const Bytes &signedPart, const Bytes &signature)
{
    Bytes content = signedPart;
    der::append(content, der::octetString(signature));
    return der::tlv(der::kSequence, content);
}

std::string transactionLogName(const TransactionLogData &t, uint32_t signatureCounter, uint64_t logTime)
{
    return "Unixt_" + std::to_string(logTime) + "_Sig-" + std::to_string(signatureCounter) + "_Log-Tra_No-" +
           std::to_string(t.transactionNumber) + (t.start ? "_Start" : "_Finish") + "_Client-" +
           encodeClient(t.clientId) + ".log";
}

std::string systemLogName(const std::string &operationType, uint32_t signatureCounter, uint64_t logTime)
{
    return "Unixt_" + std::to_string(logTime) + "_Sig-" + std::to_string(signatureCounter) + "_Log-Sys_" +
           operationType + ".log";
}

bool parseLogName(const std::string &name, LogFileInfo &info)
{
    const std::string suffix = ".log";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string s = name.substr(0, name.size() - suffix.size());
    size_t pos = 0;
    uint64_t logTime = 0;
    uint64_t counter = 0;
    if (!expect(s, pos, "Unixt_") || !readNumber(s, pos, logTime) || !expect(s, pos, "_Sig-") ||
        !readNumber(s, pos, counter) || counter > 0xFFFFFFFFu)
        return false;
    LogFileInfo r;
    r.name = name;
    r.logTime = logTime;
    r.signatureCounter = static_cast<uint32_t>(counter);
    if (expect(s, pos, "_Log-Sys_")) {
        r.transaction = false;
        info = r;
        return true;
    }
    uint64_t number = 0;
    if (!expect(s, pos, "_Log-Tra_No-") || !readNumber(s, pos, number) || number > 0xFFFFFFFFu)
        return false;
    if (expect(s, pos, "_Start"))
        r.finish = false;
    else if (expect(s, pos, "_Finish"))
        r.finish = true;
    else
        return false;
    if (!expect(s, pos, "_Client-") || !decodeClient(s.substr(pos), r.clientId))
        return false;
    r.transaction = true;
    r.transactionNumber = static_cast<uint32_t>(number);
    info = r;
    return true;
}

} // namespace softtse
