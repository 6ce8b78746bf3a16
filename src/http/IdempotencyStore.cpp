#include "http/IdempotencyStore.h"

#include "platform/DateTime.h"
#include "platform/RecordLine.h"

#include <QByteArray>
#include <map>

namespace {

std::string BeginRecord(const std::string& id, const TIdempotencyEntry& e)
{
    return plat::RecordWriter('B').Put("id", id).Put("kind", std::string(1, e.kind)).Put("sha", e.sha256).Put("t", e.time).Line();
}

std::string AnswerRecord(const std::string& id, const TIdempotencyEntry& e)
{
    return plat::RecordWriter('A').Put("id", id).Put("status", int64_t{e.status}).Put("t", e.time).Put("body", e.answer).Line();
}

}  // namespace

TIdempotencyStore::TIdempotencyStore(Limits limits, std::function<int64_t()> now)
    : limits_(limits), now_(now ? std::move(now) : std::function<int64_t()>(plat::UtcUnixNow))
{
}

void TIdempotencyStore::Take(const std::string& line)
{
    char type = 0;
    plat::RecordFields f;
    if (!plat::ParseRecord(line, type, f) || f.count("id") == 0) return;
    const std::string& id = f["id"];
    if (type == 'B') {
        TIdempotencyEntry e;
        e.kind = f["kind"].empty() ? '?' : f["kind"][0];
        e.sha256 = f["sha"];
        plat::RecordNumber(f, "t", e.time);
        entries_[id] = std::move(e);
    } else if (type == 'A') {
        const auto it = entries_.find(id);
        if (it == entries_.end()) return;
        int64_t status = 0;
        plat::RecordNumber(f, "status", status);
        it->second.answered = true;
        it->second.status = static_cast<int>(status);
        plat::RecordNumber(f, "t", it->second.time);
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
    return Append(plat::RecordWriter('X').Put("id", id).Line());
}
