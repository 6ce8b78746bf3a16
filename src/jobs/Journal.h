// The job journal: what the service did with each BON or TEXT job at the
// TSE, so that a job whose transaction the TSE has begun or finished is
// never signed again, however often the service dies.
//
// One append-only file of text records, one per line:
//   S id=7 job=Kasse1.TSE sha256=... dev=.. ino=.. size=.. mtime=.. btime=.. kasid=Kasse1 cmd=B tanr=42
//     start=... sn=... #1a2b3c4d
//   F id=7 res=0 tanr=42 start=... ende=... signr=88 sig=<hex> #...
//   D id=7 #...
// Values are bytes, percent-encoded (all but letters, digits and "-._~" as
// %XX); the record ends in " #" and the CRC-32 of
// everything before it. A record without its line end or with a wrong CRC
// (a write torn by the end of the process, a damaged disk block) is ignored.
#pragma once

#include "platform/Files.h"

#include <QByteArray>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct TJournalEntry {
    uint64_t id = 0;
    QByteArray jobFile;     // listed name of the job file, as its bytes
    std::string sha256;     // of the job file's content, hex
    // The job file itself: a new file under the same name, even with the
    // same bytes, is a new job. Unknown (all 0) in records of older builds.
    plat::FileId jobId;
    std::string kasId;
    char cmd = 'B';         // 'B' for BON, 'T' for TEXT
    uint32_t taNr = 0;
    std::string startTime;  // the start's log time as the answer writes it
    std::string serial;     // the TSE's serial number, hex

    bool finished = false;  // the TSE has answered the finish
    int32_t finishRes = 0;
    std::string endTime;
    uint32_t sigCounter = 0;
    std::string signature;  // hex
};

class TJournal {
public:
    // Compacts once the file has grown beyond this many bytes.
    explicit TJournal(int64_t compactAbove = 1024 * 1024) : compactAbove_(compactAbove) {}
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;

    // Reads the journal (a missing file is an empty one), keeps the entries
    // that are not done, compacts the file when it has grown, and opens it
    // for appending. 0 or the error number; on an error the entries read so
    // far are kept and later records are not written.
    int Open(const plat::FsPath& path);
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // Entries begun and not yet done, by id.
    const std::map<uint64_t, TJournalEntry>& OpenEntries() const { return open_; }
    // The open entry of this job file (name, content and identity), if any.
    const TJournalEntry* Find(const QByteArray& jobFile, const std::string& sha256, const plat::FileId& id) const;
    // The open entry whose job file is this one (identity alone), if any.
    const TJournalEntry* FindFile(const plat::FileId& id) const;
    // The open entry of the TSE transaction, if any.
    const TJournalEntry* FindTransaction(const std::string& serial, uint32_t taNr) const;

    // 0 when the journal can take a job's records now, else the error
    // number: no transaction is begun that the journal could not record.
    // Where the file system can, room for the records is reserved ahead,
    // so a disk that fills up meanwhile cannot refuse them.
    int ReadyForJob();

    // Each appends one record and returns 0 or the error number; the entry
    // is kept in memory either way, so this run of the service still
    // knows it.
    int Started(TJournalEntry& entry);  // assigns entry.id
    int Finished(uint64_t id, int32_t res, const std::string& endTime, uint32_t sigCounter,
                 const std::string& signature);
    int Done(uint64_t id);

    // Records skipped while reading: torn or with a wrong CRC.
    int SkippedRecords() const { return skipped_; }

    // One record's line (with its line end) and back; for tools and tests.
    static std::string StartRecord(const TJournalEntry& e);
    static std::string FinishRecord(const TJournalEntry& e);
    static std::string DoneRecord(uint64_t id);

private:
    int Append(const std::string& record);
    void Take(const std::string& line);
    int Compact();
    int Reopen();

    plat::FsPath path_{QString()};
    plat::File file_;
    std::map<uint64_t, TJournalEntry> open_;
    uint64_t nextId_ = 1;
    int64_t size_ = 0;
    int64_t compactAbove_;
    int skipped_ = 0;
    bool tornTail_ = false;  // the last write may have left part of a record
    int lastError_ = 0;      // of the last append
    int64_t compactAt_ = 0;  // a failed compaction is tried again only past this size
};

// True when the entry's job file is `id` (or the entry does not know its file).
bool SameJobFile(const TJournalEntry& e, const plat::FileId& id);

// SHA-256 of bytes as lower-case hex.
std::string Sha256Hex(const std::string& bytes);
