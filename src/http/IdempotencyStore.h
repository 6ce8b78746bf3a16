// What the door answered to each client id, so that a repeated request gets
// the same answer, byte for byte, and never a second transaction.
//
// One append-only file (Vok_TSE.http, 0600), one text record per line, each
// ending in " #" and the CRC-32 of what stands before it:
//   B id=R7 kind=R sha=<hex> t=1765350000 #1a2b3c4d     begun, no answer yet
//   A id=R7 status=200 t=1765350002 body=<%XX> #...     answered
//   X id=R7 #...                                        forgotten
// Values are percent-encoded. A torn or damaged record is skipped. At every
// Open the file is written anew beside itself and renamed (only the live
// entries), and again whenever it has grown past twice its live size.
// Records are written with a plain write, not flushed one by one: a killed
// service loses none (the kernel holds them), as with the job journal.
//
// Memory is bounded: at most maxEntries entries, each with an answer of at
// most maxAnswerBytes (about 1 KiB each in all with the defaults, so some
// 50 MiB at the very most; a receipt's answer is about 500 bytes). Entries
// are kept keepSeconds (48 h) after their answer, or after their begin
// while they wait for one, and then dropped. A full store takes no new id
// (ENOSPC) rather than drop one younger than that.
//
// Not thread-safe: the server calls it under its own lock.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

struct TIdempotencyEntry {
    char kind = '?';          // 'R' receipt, 'O' operation, 'E' export
    std::string sha256;       // of the canonical request
    bool answered = false;
    int status = 0;           // of the stored answer
    std::string answer;       // the answer's body as it was sent
    int64_t time = 0;         // UTC Unix seconds: the answer, or the begin while pending
};

struct TIdempotencyLimits {
    int64_t keepSeconds = 48 * 3600;
    size_t maxEntries = 50000;
    size_t maxAnswerBytes = 2048;
    int64_t compactAbove = 1024 * 1024;  // bytes of file before a rewrite is considered
};

class TIdempotencyStore {
public:
    using Limits = TIdempotencyLimits;
    // `now` gives UTC Unix seconds; tests pass their own clock.
    explicit TIdempotencyStore(Limits limits = Limits(), std::function<int64_t()> now = {});
    TIdempotencyStore(const TIdempotencyStore&) = delete;
    TIdempotencyStore& operator=(const TIdempotencyStore&) = delete;

    // Reads the file (a missing one is empty), drops what has expired and
    // writes the rest anew. 0 or the errno value; on an error the store
    // holds what it could read and writes nothing.
    int Open(const plat::FsPath& path);
    void Close();

    // The entry of the id, or nullptr; expired entries are dropped first.
    const TIdempotencyEntry* Find(const std::string& id);

    // A new id whose job is handed on. ENOSPC when the store is full, EEXIST
    // when the id is known, else 0 or the write's errno (then not kept).
    int Begin(const std::string& id, char kind, const std::string& sha256);
    // The job's answer. EFBIG for an answer over maxAnswerBytes (not kept),
    // ENOENT for an id not begun; else kept in memory, and 0 or the write's
    // errno.
    int Answer(const std::string& id, int status, const std::string& body);
    // The id becomes free again (the job reached no TSE). 0 or the errno.
    int Forget(const std::string& id);

    void DropExpired();
    size_t Size() const { return entries_.size(); }

private:
    int Append(const std::string& record);
    int Rewrite();
    void Take(const std::string& line);

    Limits limits_;
    std::function<int64_t()> now_;
    plat::FsPath path_{QString()};
    plat::File file_;
    bool writable_ = false;
    int64_t size_ = 0;
    std::unordered_map<std::string, TIdempotencyEntry> entries_;
};
