#include "vok-tse-client/ExportLogMessage.h"

namespace vokclient {

namespace {

struct Tlv {
    uint8_t tag = 0;
    size_t begin = 0;    // first byte of the tag
    size_t content = 0;  // first byte of the content
    size_t end = 0;      // one past the content
};

// One DER element at pos, definite lengths only, within [pos, limit).
bool ReadTlv(const ByteString& d, size_t pos, size_t limit, Tlv& t)
{
    if (pos + 2 > limit) return false;
    t.begin = pos;
    t.tag = d[pos++];
    if ((t.tag & 0x1F) == 0x1F) return false;  // multi-byte tags do not occur here
    size_t length = d[pos++];
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || pos + count > limit) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | d[pos++];
        if (length < 0x80) return false;  // not the shortest form
    }
    if (length > limit - pos) return false;
    t.content = pos;
    t.end = pos + length;
    return true;
}

ByteString ContentOf(const ByteString& d, const Tlv& t)
{
    return ByteString(d.begin() + static_cast<std::ptrdiff_t>(t.content), d.begin() + static_cast<std::ptrdiff_t>(t.end));
}

// A non-negative INTEGER content of at most 64 bits.
bool UnsignedOf(const ByteString& d, const Tlv& t, uint64_t& v)
{
    size_t n = t.end - t.content;
    size_t p = t.content;
    if (n == 0 || (d[p] & 0x80)) return false;
    if (d[p] == 0 && n > 1) {
        if (!(d[p + 1] & 0x80)) return false;  // not the shortest form
        ++p;
        --n;
    }
    if (n > 8) return false;
    v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | d[p + i];
    return true;
}

const ByteString kTransactionLogOid = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x01};
const ByteString kSystemLogOid = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x02};
const ByteString kEcdsaPlainSha384Oid = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x01, 0x01, 0x04, 0x01, 0x04};

constexpr uint8_t kInteger = 0x02, kOctetString = 0x04, kOid = 0x06, kSequence = 0x30;

bool Fail(std::string& why, const char* text)
{
    why = text;
    return false;
}

}  // namespace

bool ParseLogMessage(const ByteString& d, LogMessageFields& out, std::string& why)
{
    LogMessageFields r;
    Tlv outer;
    if (!ReadTlv(d, 0, d.size(), outer) || outer.tag != kSequence || outer.end != d.size())
        return Fail(why, "not one DER SEQUENCE");
    std::vector<Tlv> e;
    for (size_t pos = outer.content; pos < outer.end;) {
        Tlv t;
        if (!ReadTlv(d, pos, outer.end, t)) return Fail(why, "damaged DER element");
        e.push_back(t);
        pos = t.end;
    }
    // version, type, certified data..., serial, algorithm, [audit data], counter, time, signature
    if (e.size() < 7) return Fail(why, "too few elements");
    uint64_t version = 0;
    if (e[0].tag != kInteger || !UnsignedOf(d, e[0], version) || version != 2) return Fail(why, "version is not 2");
    if (e[1].tag != kOid) return Fail(why, "no certified data type");
    const ByteString type = ContentOf(d, e[1]);
    if (type == kTransactionLogOid) r.transaction = true;
    else if (type != kSystemLogOid) return Fail(why, "unknown certified data type");
    size_t i = 2;
    for (; i < e.size() && (e[i].tag & 0xC0) == 0x80; ++i) {
        const int number = e[i].tag & 0x1F;
        const ByteString content = ContentOf(d, e[i]);
        if (number == 0) r.operationType.assign(content.begin(), content.end());
        if (!r.transaction) continue;
        if (number == 1) r.clientId = content;
        else if (number == 2) r.processData = content;
        else if (number == 3) r.processType = content;
        else if (number == 5) {
            if (!UnsignedOf(d, e[i], r.transactionNumber)) return Fail(why, "damaged transaction number");
            r.hasTransactionNumber = true;
        }
    }
    if (r.operationType.empty()) return Fail(why, "no operation type");
    if (r.transaction && !r.hasTransactionNumber) return Fail(why, "no transaction number");
    if (e.size() - i < 5) return Fail(why, "too few elements after the certified data");
    if (e[i].tag != kOctetString) return Fail(why, "no serial number");
    r.serialNumber = ContentOf(d, e[i++]);
    if (e[i].tag != kSequence) return Fail(why, "no signature algorithm");
    Tlv algorithm;
    r.ecdsaPlainSha384 = ReadTlv(d, e[i].content, e[i].end, algorithm) && algorithm.tag == kOid &&
                         ContentOf(d, algorithm) == kEcdsaPlainSha384Oid;
    ++i;
    if (i < e.size() && e[i].tag == kOctetString && e.size() - i == 4) ++i;  // seAuditData
    if (e.size() - i != 3) return Fail(why, "wrong number of trailing elements");
    if (e[i].tag != kInteger || !UnsignedOf(d, e[i], r.signatureCounter)) return Fail(why, "damaged signature counter");
    ++i;
    if (e[i].tag != kInteger || !UnsignedOf(d, e[i], r.logTime)) return Fail(why, "log time is not Unix time");
    ++i;
    if (e[i].tag != kOctetString) return Fail(why, "no signature value");
    r.signature = ContentOf(d, e[i]);
    r.signedData.assign(d.begin() + static_cast<std::ptrdiff_t>(outer.content),
                        d.begin() + static_cast<std::ptrdiff_t>(e[i].begin));
    out = std::move(r);
    return true;
}

namespace {

bool Literal(const std::string& s, size_t& pos, const char* text)
{
    const std::string t(text);
    if (s.compare(pos, t.size(), t) != 0) return false;
    pos += t.size();
    return true;
}

bool Decimal(const std::string& s, size_t& pos, uint64_t& v)
{
    const size_t begin = pos;
    v = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        const uint64_t digit = static_cast<uint64_t>(s[pos] - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
        ++pos;
    }
    // No leading zeros: each number has one spelling.
    return pos > begin && !(s[begin] == '0' && pos - begin > 1);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool SafeClientChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

}  // namespace

bool ParseLogFileName(const std::string& name, LogFileName& out)
{
    const std::string suffix = ".log";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string s = name.substr(0, name.size() - suffix.size());
    LogFileName r;
    size_t pos = 0;
    if (!Literal(s, pos, "Unixt_") || !Decimal(s, pos, r.logTime) || !Literal(s, pos, "_Sig-") ||
        !Decimal(s, pos, r.signatureCounter))
        return false;
    if (Literal(s, pos, "_Log-Sys_")) {
        r.operation = s.substr(pos);
        if (r.operation.empty()) return false;
        for (char c : r.operation)
            if (!SafeClientChar(c)) return false;
        out = std::move(r);
        return true;
    }
    if (!Literal(s, pos, "_Log-Tra_No-") || !Decimal(s, pos, r.transactionNumber)) return false;
    r.transaction = true;
    if (Literal(s, pos, "_Start")) r.start = true;
    else if (!Literal(s, pos, "_Finish")) return false;
    if (!Literal(s, pos, "_Client-") || pos == s.size()) return false;
    for (; pos < s.size(); ++pos) {
        if (s[pos] == '%') {
            const int hi = pos + 2 < s.size() ? HexValue(s[pos + 1]) : -1;
            const int lo = pos + 2 < s.size() ? HexValue(s[pos + 2]) : -1;
            if (hi < 0 || lo < 0) return false;
            r.clientId.push_back(static_cast<uint8_t>(hi * 16 + lo));
            pos += 2;
        } else if (SafeClientChar(s[pos])) {
            r.clientId.push_back(static_cast<uint8_t>(s[pos]));
        } else {
            return false;
        }
    }
    out = std::move(r);
    return true;
}

}  // namespace vokclient
