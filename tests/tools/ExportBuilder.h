// Export archives of other layouts than our software TSE writes, built with
// OpenSSL: a chain of any length on any curve, certificate names in either
// case, logTime in each of its three forms, each ecdsa-plain hash, audit logs
// and update transaction logs. For verify's tests and its benchmark.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct archive;

namespace export_builder {

using Bytes = std::vector<uint8_t>;

enum class Time { Unix, Utc, Generalized };
enum class Hash { Sha224, Sha256, Sha384, Sha512, Sha3_256, Sha3_512 };
enum class Log { Start, Update, Finish, System, Audit };

struct Layout {
    std::string curve = "brainpoolP384r1";  // OpenSSL's name
    int chainLength = 3;                    // root .. TSE
    bool lowerCaseNames = false;
    Time time = Time::Unix;
    Hash hash = Hash::Sha384;
};

struct Member {
    std::string name;
    Bytes data;
};

// One TSE: its keys and certificates, and the messages it signs.
class Tse {
public:
    explicit Tse(const Layout& layout);
    ~Tse();
    Tse(const Tse&) = delete;
    Tse& operator=(const Tse&) = delete;

    // Signs the next message (its counter one past the last) at logTime.
    Member Sign(Log kind, uint64_t transactionNumber, int64_t logTime, const std::string& processData = "Beleg^1.00:Bar",
                const std::string& client = "Kasse 1");
    // Signs with a chosen counter, leaving the TSE's own counter unchanged.
    Member SignAt(uint64_t counter, Log kind, uint64_t transactionNumber, int64_t logTime,
                  const std::string& processData = "Beleg^1.00:Bar", const std::string& client = "Kasse 1");
    std::vector<Member> Certificates() const;  // root first, TSE last, named after their key hash
    std::string SerialHex() const;             // upper case

private:
    struct Keys;
    std::unique_ptr<Keys> keys_;
    Layout layout_;
    uint64_t counter_ = 0;
};

// A pax TAR of members with info.csv first, as a TSE exports.
bool WriteArchive(const std::string& path, const std::vector<Member>& members);

// The same, member by member, for archives larger than memory.
class ArchiveWriter {
public:
    explicit ArchiveWriter(const std::string& path);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;
    bool Add(const Member& member);
    bool Close();  // false when a member or the end could not be written

private:
    struct archive* archive_ = nullptr;
    bool ok_ = false;
};

// A typical run: a start, an update and a finish of transactions 1..n, a
// system log and an audit log, the certificates and info.csv.
std::vector<Member> TypicalExport(Tse& tse, int transactions, int64_t firstTime);

}  // namespace export_builder
