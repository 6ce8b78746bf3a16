#include "jobs/TransactionLogs.h"

#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <charconv>
#include <memory>
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
    if (name.rfind("Unixt_", 0) != 0 || at == std::string::npos) return false;
    const char* first = name.data() + at + marker.size();
    const char* last = name.data() + name.size();
    const auto r = std::from_chars(first, last, out.taNr);
    if (r.ec != std::errc() || r.ptr == last || *r.ptr != '_') return false;
    const char* kindEnd = std::find(r.ptr + 1, last, '_');
    out.kind.assign(r.ptr + 1, kindEnd);
    return true;
}

bool HexNumber(const std::string& hex, uint64_t& value)
{
    // An unsigned DER integer: at most eight bytes, one more for a leading zero.
    std::string digits = hex;
    while (digits.size() > 16 && digits.compare(0, 2, "00") == 0) digits.erase(0, 2);
    if (digits.empty() || digits.size() > 16) return false;
    value = 0;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) value = value << 8 | HexToByte(digits.substr(i, 2));
    return true;
}

}  // namespace

bool ParseLogMessage(const std::string& der, uint32_t& sigCounter, uint64_t& logTime, std::string& signature)
{
    // The message ends in signature counter, log time and signature value,
    // whatever optional fields stand before them.
    std::string values = Get_ASN1_Data(BytesToHex(der));
    std::vector<std::string> parts;
    for (size_t from = 0;;) {
        const size_t bar = values.find('|', from);
        parts.push_back(values.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos) break;
        from = bar + 1;
    }
    if (parts.size() < 3) return false;
    uint64_t counter = 0;
    if (!HexNumber(parts[parts.size() - 3], counter) || counter > UINT32_MAX) return false;
    if (!HexNumber(parts[parts.size() - 2], logTime)) return false;
    sigCounter = static_cast<uint32_t>(counter);
    signature = parts.back();
    return !signature.empty();
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

        uint32_t counter = 0;
        uint64_t logTime = 0;
        std::string signature;
        if (!ParseLogMessage(der, counter, logTime, signature)) return EINVAL;
        if (name.kind == "Start") {
            out.haveStart = true;
            out.startTime = LogTimeText(logTime);
        } else {
            out.haveFinish = true;
            out.endTime = LogTimeText(logTime);
            out.sigCounter = counter;
            out.signature = signature;
        }
    }
    return r == ARCHIVE_EOF ? 0 : EINVAL;
}
