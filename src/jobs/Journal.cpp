#include "jobs/Journal.h"

#include "platform/RecordLine.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <vector>

namespace {

constexpr size_t kReadChunk = 64 * 1024;
// No record comes near this; a longer line is damage and is skipped.
constexpr size_t kLongestRecord = 4096;

}  // namespace

std::string Sha256Hex(const std::string& bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string TJournal::StartRecord(const TJournalEntry& e)
{
    return plat::RecordWriter('S')
        .Put("id", e.id)
        .Put("job", e.jobFile.toStdString())
        .Put("sha256", e.sha256)
        .Put("dev", e.jobId.dev)
        .Put("ino", e.jobId.ino)
        .Put("size", std::to_string(e.jobId.size))
        .Put("mtime", std::to_string(e.jobId.mtimeNs))
        .Put("btime", std::to_string(e.jobId.btimeNs))
        .Put("kasid", e.kasId)
        .Put("cmd", std::string(1, e.cmd))
        .Put("tanr", e.taNr)
        .Put("start", e.startTime)
        .Put("sn", e.serial)
        .Line();
}

std::string TJournal::FinishRecord(const TJournalEntry& e)
{
    return plat::RecordWriter('F')
        .Put("id", e.id)
        .Put("res", std::to_string(e.finishRes))
        .Put("tanr", e.taNr)
        .Put("start", e.startTime)
        .Put("ende", e.endTime)
        .Put("signr", e.sigCounter)
        .Put("sig", e.signature)
        .Line();
}

std::string TJournal::DoneRecord(uint64_t id)
{
    return plat::RecordWriter('D').Put("id", id).Line();
}

void TJournal::Take(const std::string& line)
{
    char type = 0;
    plat::RecordFields f;
    uint64_t id = 0;
    if (!plat::ParseRecord(line, type, f) || !plat::RecordNumber(f, "id", id)) {
        ++skipped_;
        return;
    }
    nextId_ = std::max(nextId_, id + 1);
    if (type == 'S') {
        TJournalEntry e;
        e.id = id;
        e.jobFile = QByteArray::fromStdString(plat::RecordText(f, "job"));
        e.sha256 = plat::RecordText(f, "sha256");
        plat::RecordNumber(f, "dev", e.jobId.dev);
        plat::RecordNumber(f, "ino", e.jobId.ino);
        plat::RecordNumber(f, "size", e.jobId.size);
        plat::RecordNumber(f, "mtime", e.jobId.mtimeNs);
        plat::RecordNumber(f, "btime", e.jobId.btimeNs);
        e.kasId = plat::RecordText(f, "kasid");
        e.cmd = plat::RecordText(f, "cmd") == "T" ? 'T' : 'B';
        plat::RecordNumber(f, "tanr", e.taNr);
        e.startTime = plat::RecordText(f, "start");
        e.serial = plat::RecordText(f, "sn");
        open_[id] = std::move(e);
    } else if (type == 'F') {
        const auto it = open_.find(id);
        if (it == open_.end()) return;
        TJournalEntry& e = it->second;
        e.finished = true;
        plat::RecordNumber(f, "res", e.finishRes);
        e.endTime = plat::RecordText(f, "ende");
        plat::RecordNumber(f, "signr", e.sigCounter);
        e.signature = plat::RecordText(f, "sig");
    } else if (type == 'D') {
        open_.erase(id);
    } else {
        ++skipped_;
    }
}

int TJournal::Open(const plat::FsPath& path)
{
    Close();
    path_ = path;
    open_.clear();
    skipped_ = 0;
    size_ = 0;

    plat::File in;
    int err = in.OpenRead(path);
    if (err == 0) {
        // Read in pieces: only the open entries stay in memory.
        std::string pending, chunk;
        bool overlong = false;
        for (;;) {
            if ((err = in.Read(chunk, kReadChunk)) != 0) break;
            if (chunk.empty()) break;
            size_ += static_cast<int64_t>(chunk.size());
            size_t from = 0;
            for (size_t nl; (nl = chunk.find('\n', from)) != std::string::npos; from = nl + 1) {
                pending.append(chunk, from, nl - from);
                if (overlong)
                    ++skipped_;
                else
                    Take(pending);
                pending.clear();
                overlong = false;
            }
            pending.append(chunk, from, std::string::npos);
            if (pending.size() > kLongestRecord) {
                overlong = true;
                pending.clear();
            }
        }
        // A last record without its line end was torn when it was written.
        if (!pending.empty() || overlong) ++skipped_;
        (void)in.Close();
        if (err != 0) return err;
    } else if (err != ENOENT) {
        return err;
    }

    // A torn tail is cut off with the compaction, so that the next record
    // starts on a line of its own; should the compaction fail, the next
    // record begins with a line end instead.
    tornTail_ = skipped_ > 0;
    if (err == ENOENT) {
        if ((err = file_.Create(path_, plat::Visibility::OwnerOnly)) != 0) return err;
    } else if ((err = file_.OpenAppend(path_)) != 0) {
        return err;
    }
    if (size_ > compactAbove_ || skipped_ > 0) (void)Compact();
    return 0;
}

int TJournal::Compact()
{
    std::string bytes;
    for (const auto& [id, e] : open_) {
        bytes += StartRecord(e);
        if (e.finished) bytes += FinishRecord(e);
    }
    // Until the new file has taken the old one's place, the old one is
    // still whole and open: a failed compaction loses no record and stops
    // no later one.
    if (int err = plat::ReplaceFileBytes(path_, bytes, plat::Visibility::OwnerOnly)) {
        compactAt_ = size_ + compactAbove_;
        return err;
    }
    size_ = static_cast<int64_t>(bytes.size());
    compactAt_ = 0;
    tornTail_ = false;
    return Reopen();
}

int TJournal::Reopen()
{
    file_.Close();
    lastError_ = file_.OpenAppend(path_);
    if (lastError_ == ENOENT) lastError_ = file_.Create(path_, plat::Visibility::OwnerOnly);
    return lastError_;
}

int TJournal::ReadyForJob()
{
    if (!file_.IsOpen() && path_.Native().isEmpty()) return EBADF;
    if (!file_.IsOpen() && Reopen() != 0) return lastError_;
    // Start, finish and done record of one job, many times over; a full
    // disk still lets a job through while the room taken earlier holds its
    // records.
    constexpr int64_t kReserve = 64 * 1024;
    constexpr int64_t kOneJob = 3 * kLongestRecord;
    // Room for half the reservation still ahead: no call to the file system
    // for this job beyond the look.
    const int64_t ahead = file_.RoomAhead();
    if (ahead < kReserve / 2) {
        const int err = file_.Reserve(kReserve);
        if (err != 0 && err != EOPNOTSUPP && err != EINVAL && file_.RoomAhead() < kOneJob) return err;
    }
    if (lastError_ == 0) return 0;
    // Without a reservation only a write can tell that the disk takes
    // records again; the line end also ends a record the failure tore.
    lastError_ = file_.Write("\n");
    if (lastError_ == 0) {
        tornTail_ = false;
        ++size_;
    }
    return lastError_;
}

void TJournal::Close()
{
    if (file_.IsOpen()) (void)file_.Close();
}

bool SameJobFile(const TJournalEntry& e, const plat::FileId& id)
{
    return e.jobId == plat::FileId() || e.jobId == id;
}

const TJournalEntry* TJournal::Find(const QByteArray& jobFile, const std::string& sha256,
                                    const plat::FileId& id) const
{
    for (const auto& [n, e] : open_)
        if (e.jobFile == jobFile && e.sha256 == sha256 && SameJobFile(e, id)) return &e;
    return nullptr;
}

const TJournalEntry* TJournal::FindFile(const plat::FileId& id) const
{
    for (const auto& [n, e] : open_)
        if (e.jobId == id && !(id == plat::FileId())) return &e;
    return nullptr;
}

const TJournalEntry* TJournal::FindTransaction(const std::string& serial, uint32_t taNr) const
{
    for (const auto& [n, e] : open_)
        if (e.taNr == taNr && (e.serial.empty() || e.serial == serial)) return &e;
    return nullptr;
}

int TJournal::Append(const std::string& record)
{
    if (!file_.IsOpen()) return EBADF;
    // One write for the record: the kernel keeps it when the process dies.
    // After a failed write a part of that record may stand in the file; the
    // next record begins on a line of its own, so only the torn one is lost.
    const std::string bytes = tornTail_ ? "\n" + record : record;
    const int err = file_.Write(bytes);
    tornTail_ = err != 0;
    lastError_ = err;
    if (err == 0) size_ += static_cast<int64_t>(bytes.size());
    return err;
}

int TJournal::Started(TJournalEntry& entry)
{
    entry.id = nextId_++;
    entry.finished = false;
    open_[entry.id] = entry;
    return Append(StartRecord(entry));
}

int TJournal::Finished(uint64_t id, int32_t res, const std::string& endTime, uint32_t sigCounter,
                       const std::string& signature)
{
    const auto it = open_.find(id);
    if (it == open_.end()) return 0;
    TJournalEntry& e = it->second;
    e.finished = true;
    e.finishRes = res;
    e.endTime = endTime;
    e.sigCounter = sigCounter;
    e.signature = signature;
    return Append(FinishRecord(e));
}

int TJournal::Done(uint64_t id)
{
    if (open_.erase(id) == 0) return 0;
    const int err = Append(DoneRecord(id));
    // A compaction that fails is not a record lost: the old file goes on.
    if (err == 0 && size_ > compactAbove_ && size_ > compactAt_) (void)Compact();
    return err;
}
