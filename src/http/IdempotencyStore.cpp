#include "http/IdempotencyStore.h"

#include "platform/DateTime.h"

#include <QByteArray>
#include <charconv>
#include <map>
#include <zlib.h>

namespace {

std::string Encode(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toPercentEncoding().toStdString();
}

std::string Decode(std::string_view text)
{
    return QByteArray::fromPercentEncoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())))
        .toStdString();
}

std::string Crc8Hex(std::string_view bytes)
{
    const auto crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    return QByteArray::number(crc, 16).rightJustified(8, '0').toStdString();
}

class Record {
public:
    explicit Record(char type) : text_(1, type) {}
    Record& Put(const char* key, const std::string& value)
    {
        text_ += ' ';
        text_ += key;
        text_ += '=';
        text_ += Encode(value);
        return *this;
    }
    Record& Put(const char* key, int64_t value) { return Put(key, std::to_string(value)); }
    std::string Line() const { return text_ + " #" + Crc8Hex(text_) + "\n"; }

private:
    std::string text_;
};

// The record's type and fields; false for a damaged line.
bool Parse(std::string_view line, char& type, std::map<std::string, std::string>& fields)
{
    const size_t mark = line.rfind(" #");
    if (mark == std::string_view::npos || mark < 1 || line.size() - mark != 10) return false;
    const std::string_view body = line.substr(0, mark);
    if (Crc8Hex(body) != line.substr(mark + 2)) return false;
    if (body.size() > 1 && body[1] != ' ') return false;
    type = body[0];
    size_t pos = 1;
    while (pos < body.size()) {
        ++pos;
        size_t end = body.find(' ', pos);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view field = body.substr(pos, end - pos);
        const size_t eq = field.find('=');
        if (eq == std::string_view::npos) return false;
        fields[std::string(field.substr(0, eq))] = Decode(field.substr(eq + 1));
        pos = end;
    }
    return true;
}

bool Number(const std::map<std::string, std::string>& f, const char* key, int64_t& out)
{
    const auto it = f.find(key);
    if (it == f.end()) return false;
    const char* end = it->second.data() + it->second.size();
    const auto r = std::from_chars(it->second.data(), end, out);
    return r.ec == std::errc() && r.ptr == end;
}

std::string BeginRecord(const std::string& id, const TIdempotencyEntry& e)
{
    return Record('B').Put("id", id).Put("kind", std::string(1, e.kind)).Put("sha", e.sha256).Put("t", e.time).Line();
}

std::string AnswerRecord(const std::string& id, const TIdempotencyEntry& e)
{
    return Record('A').Put("id", id).Put("status", int64_t{e.status}).Put("t", e.time).Put("body", e.answer).Line();
}

}  // namespace

TIdempotencyStore::TIdempotencyStore(Limits limits, std::function<int64_t()> now)
    : limits_(limits), now_(now ? std::move(now) : std::function<int64_t()>(plat::UtcUnixNow))
{
}

void TIdempotencyStore::Take(const std::string& line)
{
    char type = 0;
    std::map<std::string, std::string> f;
    if (!Parse(line, type, f) || f.count("id") == 0) return;
    const std::string& id = f["id"];
    if (type == 'B') {
        TIdempotencyEntry e;
        e.kind = f["kind"].empty() ? '?' : f["kind"][0];
        e.sha256 = f["sha"];
        Number(f, "t", e.time);
        entries_[id] = std::move(e);
    } else if (type == 'A') {
        const auto it = entries_.find(id);
        if (it == entries_.end()) return;
        int64_t status = 0;
        Number(f, "status", status);
        it->second.answered = true;
        it->second.status = static_cast<int>(status);
        Number(f, "t", it->second.time);
        it->second.answer = f["body"];
    } else if (type == 'X') {
        entries_.erase(id);
    }
}

int TIdempotencyStore::Open(const plat::FsPath& path)
{
    Close();
    path_ = path;
    entries_.clear();
    std::string bytes;
    const int err = plat::ReadFileBytes(path, bytes);
    if (err != 0 && err != ENOENT) return err;
    size_t from = 0;
    while (from < bytes.size()) {
        const size_t nl = bytes.find('\n', from);
        if (nl == std::string::npos) break;  // torn by the end of the process
        Take(bytes.substr(from, nl - from));
        from = nl + 1;
    }
    DropExpired();
    // Over the bound (a smaller bound than before): the oldest go.
    while (entries_.size() > limits_.maxEntries) {
        auto oldest = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.time < oldest->second.time) oldest = it;
        entries_.erase(oldest);
    }
    return Rewrite();
}

void TIdempotencyStore::Close()
{
    file_.Close();
    writable_ = false;
}

int TIdempotencyStore::Rewrite()
{
    std::string all;
    for (const auto& [id, e] : entries_) {
        all += BeginRecord(id, e);
        if (e.answered) all += AnswerRecord(id, e);
    }
    file_.Close();
    writable_ = false;
    int err = plat::ReplaceFileBytes(path_, all, plat::Visibility::OwnerOnly);
    if (err == 0) err = file_.OpenAppend(path_);
    if (err != 0) return err;
    size_ = static_cast<int64_t>(all.size());
    writable_ = true;
    return 0;
}

int TIdempotencyStore::Append(const std::string& record)
{
    if (!writable_) return EBADF;
    const int err = file_.Write(record);
    if (err != 0) return err;
    size_ += static_cast<int64_t>(record.size());
    if (size_ > limits_.compactAbove) {
        int64_t live = 0;
        for (const auto& [id, e] : entries_) live += static_cast<int64_t>(e.answer.size()) + 200;
        // A failed rewrite leaves the old file, still complete.
        if (size_ > 2 * live) Rewrite();
    }
    return 0;
}

void TIdempotencyStore::DropExpired()
{
    const int64_t now = now_();
    std::erase_if(entries_, [&](const auto& item) { return now - item.second.time > limits_.keepSeconds; });
}

const TIdempotencyEntry* TIdempotencyStore::Find(const std::string& id)
{
    const auto it = entries_.find(id);
    if (it == entries_.end()) return nullptr;
    if (now_() - it->second.time > limits_.keepSeconds) {
        entries_.erase(it);
        return nullptr;
    }
    return &it->second;
}

int TIdempotencyStore::Begin(const std::string& id, char kind, const std::string& sha256)
{
    if (Find(id) != nullptr) return EEXIST;
    if (entries_.size() >= limits_.maxEntries) DropExpired();
    if (entries_.size() >= limits_.maxEntries) return ENOSPC;
    TIdempotencyEntry e;
    e.kind = kind;
    e.sha256 = sha256;
    e.time = now_();
    // Kept only once on the disk: an id the file does not know could be
    // begun again after a restart with other content.
    const int err = Append(BeginRecord(id, e));
    if (err == 0) entries_[id] = std::move(e);
    return err;
}

int TIdempotencyStore::Answer(const std::string& id, int status, const std::string& body)
{
    const auto it = entries_.find(id);
    if (it == entries_.end()) return ENOENT;
    if (body.size() > limits_.maxAnswerBytes) return EFBIG;
    TIdempotencyEntry& e = it->second;
    e.answered = true;
    e.status = status;
    e.answer = body;
    e.time = now_();
    return Append(AnswerRecord(id, e));
}

int TIdempotencyStore::Forget(const std::string& id)
{
    if (entries_.erase(id) == 0) return 0;
    return Append(Record('X').Put("id", id).Line());
}
