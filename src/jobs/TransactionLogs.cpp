#include "jobs/TransactionLogs.h"

#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QDateTime>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <charconv>
#include <memory>
#include <string_view>
#include <vector>

namespace {

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

// The parts of a transaction log's name:
// "Unixt_<time>_Sig-<counter>_Log-Tra_No-<number>_<Start|Update|Finish>_Client-...".
struct LogName {
    uint32_t taNr = 0;
    std::string kind;
};

bool ParseName(std::string name, LogName& out)
{
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::string marker = "_Log-Tra_No-";
    const size_t at = name.find(marker);
    // The name begins with the log time's form: Unix time, UTC or generalised time.
    const bool timePrefix =
        name.rfind("Unixt_", 0) == 0 || name.rfind("Utc_", 0) == 0 || name.rfind("Gent_", 0) == 0;
    if (!timePrefix || at == std::string::npos) return false;
    const char* first = name.data() + at + marker.size();
    const char* last = name.data() + name.size();
    const auto r = std::from_chars(first, last, out.taNr);
    if (r.ec != std::errc() || r.ptr == last || *r.ptr != '_') return false;
    const char* kindEnd = std::find(r.ptr + 1, last, '_');
    out.kind.assign(r.ptr + 1, kindEnd);
    return true;
}

// A definite-length DER element: its tag and its content.
struct Tlv {
    uint8_t tag = 0;
    std::string_view value;
};

bool NextTlv(std::string_view& in, Tlv& out)
{
    if (in.size() < 2) return false;
    out.tag = static_cast<uint8_t>(in[0]);
    if ((out.tag & 0x1F) == 0x1F) return false;  // multi-byte tags do not occur here
    size_t pos = 1;
    const uint8_t first = static_cast<uint8_t>(in[pos++]);
    size_t length = first;
    if (first & 0x80) {
        const size_t n = first & 0x7F;
        if (n == 0 || n > 4 || in.size() < pos + n) return false;
        length = 0;
        for (size_t k = 0; k < n; ++k) length = length << 8 | static_cast<uint8_t>(in[pos++]);
    }
    if (in.size() - pos < length) return false;
    out.value = in.substr(pos, length);
    in.remove_prefix(pos + length);
    return true;
}

bool UnsignedOf(std::string_view bytes, uint64_t& value)
{
    // A negative number is no counter or time.
    if (bytes.empty() || (static_cast<uint8_t>(bytes[0]) & 0x80)) return false;
    while (bytes.size() > 1 && bytes[0] == '\0') bytes.remove_prefix(1);
    if (bytes.size() > 8) return false;
    value = 0;
    for (char c : bytes) value = value << 8 | static_cast<uint8_t>(c);
    return true;
}

int Digits(std::string_view s, size_t at, size_t n)
{
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

// UTCTime "YYMMDDhhmm[ss]Z" or GeneralizedTime "YYYYMMDDhhmmss[.f]Z", both
// in UTC as DER demands.
bool TimeOf(uint8_t tag, std::string_view t, uint64_t& unixTime)
{
    size_t pos = 0;
    int year;
    if (tag == 0x17) {
        year = Digits(t, 0, 2);
        if (year < 0) return false;
        year += year < 50 ? 2000 : 1900;
        pos = 2;
    } else {
        year = Digits(t, 0, 4);
        pos = 4;
    }
    const int month = Digits(t, pos, 2), day = Digits(t, pos + 2, 2), hour = Digits(t, pos + 4, 2),
              minute = Digits(t, pos + 6, 2);
    pos += 8;
    int second = 0;
    if (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
        second = Digits(t, pos, 2);
        pos += 2;
    }
    if (tag == 0x18 && pos < t.size() && (t[pos] == '.' || t[pos] == ',')) {
        ++pos;
        while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') ++pos;
    }
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || pos + 1 != t.size() || t[pos] != 'Z')
        return false;
    const QDateTime when(QDate(year, month, day), QTime(hour, minute, std::min(second, 59)), Qt::UTC);
    if (!when.isValid()) return false;
    unixTime = static_cast<uint64_t>(when.toSecsSinceEpoch());
    return true;
}

// The log time's form as the QR text names it.
std::string TimeFormatOf(uint8_t tag, std::string_view t)
{
    if (tag == 0x02) return "unixTime";
    const bool fraction = t.find('.') != std::string_view::npos || t.find(',') != std::string_view::npos;
    if (tag == 0x17) return t.size() == 13 ? "utcTimeWithSeconds" : "utcTime";
    return fraction ? "generalizedTimeWithMilliseconds" : "generalizedTime";
}

}  // namespace

bool ParseLogMessage(const std::string& der, TLogMessage& out)
{
    out = {};
    std::string_view in(der);
    Tlv message;
    if (!NextTlv(in, message) || message.tag != 0x30) return false;
    std::string_view body = message.value;
    Tlv t;
    // version, certifiedDataType
    if (!NextTlv(body, t) || t.tag != 0x02 || !NextTlv(body, t) || t.tag != 0x06) return false;
    // The certified data: context-tagged fields in the order of their
    // numbers, then the serial number (the first OCTET STRING).
    bool haveNumber = false;
    for (;;) {
        if (!NextTlv(body, t)) return false;
        if (t.tag == 0x04) break;
        if ((t.tag & 0xC0) != 0x80) return false;
        const std::string value(t.value);
        switch (t.tag & 0x1F) {
        case 0: out.operationType = value; break;
        case 1: out.clientId = value; break;
        case 2: out.processData = value; break;
        case 3: out.processType = value; break;
        case 5: {
            uint64_t n = 0;
            if (!UnsignedOf(t.value, n) || n > UINT32_MAX) return false;
            out.taNr = static_cast<uint32_t>(n);
            haveNumber = true;
            break;
        }
        default: break;  // additional external or internal data
        }
    }
    if (!haveNumber) return false;
    // signatureAlgorithm, then seAuditData if any, the counter, the time and
    // the signature.
    if (!NextTlv(body, t) || t.tag != 0x30) return false;
    if (!NextTlv(body, t)) return false;
    if (t.tag != 0x02 && !NextTlv(body, t)) return false;
    uint64_t counter = 0;
    if (t.tag != 0x02 || !UnsignedOf(t.value, counter) || counter > UINT32_MAX) return false;
    out.sigCounter = static_cast<uint32_t>(counter);
    if (!NextTlv(body, t)) return false;
    out.logTimeFormat = TimeFormatOf(t.tag, t.value);
    if (t.tag == 0x02) {
        if (!UnsignedOf(t.value, out.logTime)) return false;
    } else if (t.tag == 0x17 || t.tag == 0x18) {
        if (!TimeOf(t.tag, t.value, out.logTime)) return false;
    } else {
        return false;
    }
    if (!NextTlv(body, t) || t.tag != 0x04 || t.value.empty()) return false;
    out.signature = BytesToHex(std::string(t.value));
    return true;
}

int ReadTransactionLogs(const plat::FsPath& path, uint32_t taNr, TTransactionLogs& out)
{
    out = {};
    std::string bytes;
    if (int err = plat::ReadFileBytes(path, bytes)) return err;
    if (static_cast<int64_t>(bytes.size()) > kTransactionExportLimit) return EINVAL;

    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    if (!a) return ENOMEM;
    archive_read_support_format_tar(a.get());
    if (archive_read_open_memory(a.get(), bytes.data(), bytes.size()) != ARCHIVE_OK) return EINVAL;

    archive_entry* entry = nullptr;
    int r;
    while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK) {
        LogName name;
        const char* entryName = archive_entry_pathname(entry);
        if (!entryName || !ParseName(entryName, name) || name.taNr != taNr) continue;
        if (name.kind != "Start" && name.kind != "Finish") continue;
        const la_int64_t size = archive_entry_size(entry);
        if (size <= 0 || size > 64 * 1024) return EINVAL;
        std::string der(static_cast<size_t>(size), '\0');
        if (archive_read_data(a.get(), der.data(), der.size()) != size) return EINVAL;

        TLogMessage m;
        if (!ParseLogMessage(der, m) || m.taNr != taNr) return EINVAL;
        out.logTimeFormat = m.logTimeFormat;
        if (name.kind == "Start") {
            out.haveStart = true;
            out.startTime = LogTimeText(m.logTime);
            out.startClient = m.clientId;
        } else {
            out.haveFinish = true;
            out.endTime = LogTimeText(m.logTime);
            out.sigCounter = m.sigCounter;
            out.signature = m.signature;
            out.finishClient = m.clientId;
            out.finishProcessType = m.processType;
            out.finishProcessData = m.processData;
        }
    }
    return r == ARCHIVE_EOF ? 0 : EINVAL;
}
