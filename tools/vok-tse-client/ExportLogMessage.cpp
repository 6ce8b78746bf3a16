#include "vok-tse-client/ExportLogMessage.h"

#include <algorithm>
#include <ctime>

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
const ByteString kAuditLogOid = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x03};
// ecdsa-plain-signatures; the last arc names the hash.
const ByteString kEcdsaPlainPrefix = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x01, 0x01, 0x04, 0x01};

constexpr uint8_t kInteger = 0x02, kOctetString = 0x04, kOid = 0x06, kUtcTime = 0x17, kGeneralizedTime = 0x18,
                  kSequence = 0x30;

PlainHash HashOfAlgorithm(const ByteString& oid)
{
    if (oid.size() != kEcdsaPlainPrefix.size() + 1 || !std::equal(kEcdsaPlainPrefix.begin(), kEcdsaPlainPrefix.end(), oid.begin()))
        return PlainHash::Unknown;
    switch (oid.back()) {
    case 2: return PlainHash::Sha224;
    case 3: return PlainHash::Sha256;
    case 4: return PlainHash::Sha384;
    case 5: return PlainHash::Sha512;
    case 8: return PlainHash::Sha3_224;
    case 9: return PlainHash::Sha3_256;
    case 10: return PlainHash::Sha3_384;
    case 11: return PlainHash::Sha3_512;
    default: return PlainHash::Unknown;
    }
}

// Dotted text of an OID's content, for findings.
std::string DottedOid(const ByteString& oid)
{
    if (oid.empty()) return "(empty)";
    std::string s = std::to_string(oid[0] / 40) + "." + std::to_string(oid[0] % 40);
    uint64_t arc = 0;
    for (size_t i = 1; i < oid.size(); ++i) {
        arc = (arc << 7) | (oid[i] & 0x7F);
        if (!(oid[i] & 0x80)) {
            s += "." + std::to_string(arc);
            arc = 0;
        }
    }
    return s;
}

bool Fail(std::string& why, const char* text)
{
    why = text;
    return false;
}

bool Digits(const std::string& s, size_t pos, size_t n, int& v)
{
    if (pos + n > s.size()) return false;
    v = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    return true;
}

}  // namespace

bool IsTransaction(LogKind kind) { return kind == LogKind::Start || kind == LogKind::Update || kind == LogKind::Finish; }

bool ParseAsnTime(const std::string& s, bool generalized, int64_t& seconds)
{
    std::tm tm{};
    size_t pos = 0;
    int year = 0;
    if (generalized) {
        if (!Digits(s, 0, 4, year)) return false;
        pos = 4;
    } else {
        if (!Digits(s, 0, 2, year)) return false;
        year += year < 50 ? 2000 : 1900;
        pos = 2;
    }
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!Digits(s, pos, 2, month) || !Digits(s, pos + 2, 2, day) || !Digits(s, pos + 4, 2, hour) ||
        !Digits(s, pos + 6, 2, minute))
        return false;
    pos += 8;
    if (Digits(s, pos, 2, second)) pos += 2;
    else if (generalized) return false;
    if (generalized && pos < s.size() && s[pos] == '.') {
        const size_t begin = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        if (pos == begin) return false;
    }
    if (pos < s.size() && s[pos] == 'Z') ++pos;
    if (pos != s.size() || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    seconds = static_cast<int64_t>(timegm(&tm));
    return true;
}

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
    if (type == kTransactionLogOid) r.kind = LogKind::Start;  // which operation follows below
    else if (type == kAuditLogOid) r.kind = LogKind::Audit;
    else if (type != kSystemLogOid) return Fail(why, "unknown certified data type");
    const bool transaction = r.kind == LogKind::Start;
    bool hasTransactionNumber = false;
    size_t i = 2;
    for (; i < e.size() && (e[i].tag & 0xC0) == 0x80; ++i) {
        const int number = e[i].tag & 0x1F;
        const ByteString content = ContentOf(d, e[i]);
        if (r.kind == LogKind::Audit) return Fail(why, "an audit log holds certified data");
        if (number == 0) r.operationType.assign(content.begin(), content.end());
        if (!transaction) continue;
        if (number == 1) r.clientId = content;
        else if (number == 2) r.processData = content;
        else if (number == 3) r.processType = content;
        else if (number == 5) {
            if (!UnsignedOf(d, e[i], r.transactionNumber)) return Fail(why, "damaged transaction number");
            hasTransactionNumber = true;
        }
    }
    if (transaction) {
        if (r.operationType == "StartTransaction") r.kind = LogKind::Start;
        else if (r.operationType == "UpdateTransaction") r.kind = LogKind::Update;
        else if (r.operationType == "FinishTransaction") r.kind = LogKind::Finish;
        else return Fail(why, "transaction log with an unknown operation type");
        if (!hasTransactionNumber) return Fail(why, "no transaction number");
    } else if (r.kind == LogKind::System && r.operationType.empty()) {
        return Fail(why, "no operation type");
    }
    if (e.size() - i < 5) return Fail(why, "too few elements after the certified data");
    if (e[i].tag != kOctetString) return Fail(why, "no serial number");
    r.serialNumber = ContentOf(d, e[i++]);
    if (e[i].tag != kSequence) return Fail(why, "no signature algorithm");
    Tlv algorithm;
    if (!ReadTlv(d, e[i].content, e[i].end, algorithm) || algorithm.tag != kOid)
        return Fail(why, "damaged signature algorithm");
    r.hash = HashOfAlgorithm(ContentOf(d, algorithm));
    r.algorithmOid = DottedOid(ContentOf(d, algorithm));
    ++i;
    const bool auditData = i < e.size() && e[i].tag == kOctetString && e.size() - i == 4;
    if (auditData) ++i;
    if (r.kind == LogKind::Audit && !auditData) return Fail(why, "audit log without seAuditData");
    if (e.size() - i != 3) return Fail(why, "wrong number of trailing elements");
    if (e[i].tag != kInteger || !UnsignedOf(d, e[i], r.signatureCounter)) return Fail(why, "damaged signature counter");
    ++i;
    if (e[i].tag == kInteger) {
        uint64_t t = 0;
        if (!UnsignedOf(d, e[i], t) || t > static_cast<uint64_t>(INT64_MAX)) return Fail(why, "damaged logTime");
        r.timeForm = TimeForm::Unix;
        r.logTime = static_cast<int64_t>(t);
    } else if (e[i].tag == kUtcTime || e[i].tag == kGeneralizedTime) {
        const ByteString text = ContentOf(d, e[i]);
        r.timeForm = e[i].tag == kUtcTime ? TimeForm::Utc : TimeForm::Generalized;
        if (!ParseAsnTime(std::string(text.begin(), text.end()), r.timeForm == TimeForm::Generalized, r.logTime))
            return Fail(why, "damaged logTime");
    } else {
        return Fail(why, "logTime is neither unixTime, utcTime nor generalizedTime");
    }
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
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(const std::string& s, ByteString& out)
{
    out.clear();
    for (size_t pos = 0; pos < s.size(); ++pos) {
        if (s[pos] != '%') {
            out.push_back(static_cast<uint8_t>(s[pos]));
            continue;
        }
        const int hi = pos + 2 < s.size() ? HexValue(s[pos + 1]) : -1;
        const int lo = pos + 2 < s.size() ? HexValue(s[pos + 2]) : -1;
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
        pos += 2;
    }
    return true;
}

// The name's tail without a trailing _Fc-<n>, or empty when it has none.
std::string WithoutFileCounter(const std::string& s)
{
    const size_t at = s.rfind("_Fc-");
    if (at == std::string::npos || at == 0) return {};
    size_t pos = at + 4;
    uint64_t ignored = 0;
    if (!Decimal(s, pos, ignored) || pos != s.size()) return {};
    return s.substr(0, at);
}

}  // namespace

bool TailNames(const std::string& tail, const ByteString& value)
{
    ByteString decoded;
    if (Unescape(tail, decoded) && decoded == value) return true;
    const std::string shorter = WithoutFileCounter(tail);
    return !shorter.empty() && Unescape(shorter, decoded) && decoded == value;
}

bool ParseLogFileName(const std::string& name, LogFileName& out)
{
    const std::string suffix = ".log";
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        name.find('/') != std::string::npos)
        return false;
    const std::string s = name.substr(0, name.size() - suffix.size());
    LogFileName r;
    size_t pos = 0;
    if (Literal(s, pos, "Unixt_")) r.timeForm = TimeForm::Unix;
    else if (Literal(s, pos, "Utc_")) r.timeForm = TimeForm::Utc;
    else if (Literal(s, pos, "Gent_")) r.timeForm = TimeForm::Generalized;
    else return false;
    const size_t timeEnd = s.find("_Sig-", pos);
    if (timeEnd == std::string::npos) return false;
    const std::string time = s.substr(pos, timeEnd - pos);
    if (r.timeForm == TimeForm::Unix) {
        uint64_t t = 0;
        size_t p = 0;
        if (!Decimal(time, p, t) || p != time.size() || t > static_cast<uint64_t>(INT64_MAX)) return false;
        r.logTime = static_cast<int64_t>(t);
    } else if (!ParseAsnTime(time, r.timeForm == TimeForm::Generalized, r.logTime)) {
        return false;
    }
    pos = timeEnd + 5;
    if (!Decimal(s, pos, r.signatureCounter)) return false;
    if (Literal(s, pos, "_Log-Sys_")) {
        r.kind = LogKind::System;
        r.tail = s.substr(pos);
        if (r.tail.empty()) return false;
    } else if (Literal(s, pos, "_Log-Aud")) {
        r.kind = LogKind::Audit;
        r.tail = s.substr(pos);
        if (!r.tail.empty() && WithoutFileCounter("x" + r.tail) != "x") return false;
    } else if (Literal(s, pos, "_Log-Tra_No-") && Decimal(s, pos, r.transactionNumber)) {
        if (Literal(s, pos, "_Start")) r.kind = LogKind::Start;
        else if (Literal(s, pos, "_Update")) r.kind = LogKind::Update;
        else if (Literal(s, pos, "_Finish")) r.kind = LogKind::Finish;
        else return false;
        if (!Literal(s, pos, "_Client-") || pos == s.size()) return false;
        r.tail = s.substr(pos);
        ByteString ignored;
        if (!Unescape(r.tail, ignored)) return false;
    } else {
        return false;
    }
    out = std::move(r);
    return true;
}

}  // namespace vokclient
