// The status file Vok_TSE.status.json in the job directory: how the service
// and its TSE are, for monitoring and for cash registers on other machines,
// which see only that share. Written beside and renamed into place, on a
// change of its content (at most once a second) and otherwise once a minute,
// so that its age tells whether the service still runs (the health command
// takes a file older than three minutes for a stopped service). An idle
// service rewrites nothing more often than that.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

inline constexpr const char* kHealthFileName = "Vok_TSE.status.json";

struct THealthInputs {
    bool tseOnline = false;
    QString tseError;                       // "1004h", or empty
    QString serial;                         // hex, as STATUS gives it
    std::optional<plat::TDateTime> certificateExpires;
    int64_t certificateDaysLeft = 0;        // only with certificateExpires
    uint32_t transactionCounter = 0;
    uint32_t signatureCounter = 0;
    uint32_t openTransactions = 0;
    uint32_t clients = 0;                   // client slots used
    uint32_t clientSlots = 0;               // client slots the TSE has; 0 unknown
    int logMemoryFreePercent = 0;
    int jobsWaiting = 0;                    // job files of the last scan
    std::optional<plat::TDateTime> lastJob; // last answered job
    int64_t diskFreeBytes = 0;              // of the job directory
    int64_t pid = 0;
    QString host;
    QString version;

    bool operator==(const THealthInputs&) const = default;
};

// The file's content: one JSON object, times in ISO 8601 with the local
// offset, `updated` the moment of writing.
std::string HealthJson(const THealthInputs& in, plat::TDateTime updated);

// ISO 8601 forms of a local date-time value.
QString IsoDateTime(plat::TDateTime t);
QString IsoDate(plat::TDateTime t);

// The certificate's end as the TSE wrappers give it ("DD.MM.YY hh:nn:ss");
// nothing for an empty or unreadable text.
std::optional<plat::TDateTime> ParseTseDate(const std::string& text);

// Decides when the file is written and writes it.
class THealthWriter {
public:
    using Clock = std::function<plat::TDateTime()>;
    // Also how often the job pass reads the TSE's figures and the disk's
    // free bytes for the file while idle: the free bytes change all the time
    // on a busy disk, and each change would be a write.
    static constexpr double kRefresh = 60.0 / 86400.0;  // days
    // A change waits until the last write is this old: during a burst every
    // job changes the counters, and each write is a flush of its own. The
    // pass comes four times a second, so a change is out within about 1.25 s.
    static constexpr double kMinGap = 1.0 / 86400.0;  // days

    explicit THealthWriter(Clock now = plat::Now);

    // Writes the file when its content changed and the last write is
    // kMinGap old, or when the last write is kRefresh old; a failed write is
    // tried again at the next call. 0, or the error number of the failed
    // write.
    int Update(const plat::FsPath& file, const THealthInputs& in);

    int writes() const { return writes_; }

private:
    Clock now_;
    std::optional<THealthInputs> written_;
    plat::TDateTime lastWrite_ = 0.0;
    bool lastFailed_ = false;
    int writes_ = 0;
};
