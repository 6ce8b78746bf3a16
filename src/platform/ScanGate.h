// Spares the job pass reading a large directory that has not changed. A
// shop's job directory can hold thousands of answers that no register
// collects; reading all their names four times a second costs more than the
// rest of an idle service together.
//
// After a scan that found nothing to do, the next one is needed only once an
// entry has been created or renamed into the directory since that scan
// began: the kernel reports each (inotify), and the events are taken before
// the directory is read, so an entry that comes during the read is either in
// the read or reported for the next one. The directory's identity is looked
// at too (one stat): a directory replaced under the same name is read and
// watched anew. On file systems whose changes can come from elsewhere
// without a report (network shares, FUSE), and whenever the watch is lost or
// its queue overflowed, every scan runs. A full scan still runs at least
// every kFullScanMs.
#pragma once

#include <QString>
#include <cstdint>

namespace plat {

class ScanGate {
public:
    // A safety net only: each full read of a directory of 10,000 answers
    // costs a few milliseconds, a third of an idle service's time at 10 s.
    static constexpr int64_t kFullScanMs = 30000;

    explicit ScanGate(QString dir);
    ~ScanGate();
    ScanGate(const ScanGate&) = delete;
    ScanGate& operator=(const ScanGate&) = delete;

    // True when the directory must be read now; call right before reading.
    bool ScanNeeded();
    // After the read that ScanNeeded asked for: whether it found nothing to
    // do (no job, none waiting). Only such a scan lets the next be skipped.
    // After a skip the call changes nothing.
    void ScanDone(bool foundNothing);

    // Whether a name ending in `suffix` (any letter case) has been created
    // or renamed into the directory since the last look, or the reports
    // cannot be trusted. Takes the reports: the next ScanNeeded reads the
    // directory whenever anything was reported.
    bool NameArrived(const char* suffix);

    // Whether changes are reported at all; false means every scan runs.
    bool Watching() const { return wd_ >= 0; }

private:
    struct DirState {
        uint64_t dev = 0, ino = 0;
        int64_t mtimeNs = 0, ctimeNs = 0;
        bool operator==(const DirState&) const = default;
    };

    void Watch();
    void Unwatch();
    // Takes every pending report; true when anything was reported or the
    // reports cannot be trusted.
    bool TakeReports(const char* suffix = nullptr, bool* arrived = nullptr);

    QString dir_;
    int fd_ = -1;
    int wd_ = -1;
    bool armed_ = false;      // the last scan found nothing, and nothing came since it began
    bool asked_ = false;      // ScanNeeded said yes, ScanDone not yet called
    DirState seen_;           // the directory as it was before the last read
    int64_t lastFullMs_ = 0;
};

}  // namespace plat
