#include "platform/ScanGate.h"

#include "platform/Files.h"
#include "platform/Monotonic.h"
#include "platform/Paths.h"

#include <QFile>
#include <cerrno>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace plat {

namespace {

// File systems where every change passes through this kernel, so that
// inotify reports it. A share mounted from another computer (NFS, SMB) or a
// FUSE file system can change without a report.
bool ChangesAlwaysReported(const QByteArray& path)
{
    struct statfs fs {};
    if (::statfs(path.constData(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:  // also ext2 and ext3
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
        return true;
    default:
        return false;
    }
}

int64_t Ns(const struct timespec& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

ScanGate::ScanGate(QString dir) : dir_(std::move(dir))
{
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

ScanGate::~ScanGate()
{
    if (fd_ >= 0) ::close(fd_);
}

void ScanGate::Watch()
{
    Unwatch();
    const QByteArray path = QFile::encodeName(NativePath(dir_));
    if (fd_ < 0 || !ChangesAlwaysReported(path)) return;
    // A job file appears by a create (also a hard link) or a rename into the
    // directory; the rest cannot add a name.
    wd_ = ::inotify_add_watch(fd_, path.constData(), IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

void ScanGate::Unwatch()
{
    if (wd_ >= 0) (void)::inotify_rm_watch(fd_, wd_);
    wd_ = -1;
    (void)TakeReports();  // what the old watch left says nothing of the new one
}

bool ScanGate::TakeReports(const char* suffix, bool* arrived)
{
    if (fd_ < 0) {
        if (arrived) *arrived = true;
        return true;
    }
    bool any = false;
    alignas(inotify_event) char buf[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return any;
        if (n <= 0) {
            if (arrived) *arrived = true;
            return true;
        }
        any = true;
        for (ssize_t off = 0; off < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
            // The watch is gone (directory removed or moved, file system
            // unmounted): watch anew before the next skip.
            if (e->wd == wd_ && (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))) wd_ = -1;
            if (arrived && (e->mask & IN_Q_OVERFLOW)) *arrived = true;
            if (arrived && suffix && e->len > 0 && (e->mask & (IN_CREATE | IN_MOVED_TO))) {
                const QByteArray name(e->name);  // NUL-padded: up to the first NUL
                // A job file the pass itself sets aside for its deletion is no arrival.
                if (name.toUpper().endsWith(QByteArray(suffix).toUpper()) && !IsSetAsideName(name)) *arrived = true;
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

bool ScanGate::NameArrived(const char* suffix)
{
    bool arrived = false;
    if (TakeReports(suffix, &arrived)) armed_ = false;
    return arrived || !Watching();
}

bool ScanGate::ScanNeeded()
{
    // First the reports, then the look at the directory, then (the caller)
    // the read: a change after this point is reported for the next call.
    const bool reported = TakeReports();
    struct stat st {};
    const bool known = ::stat(QFile::encodeName(NativePath(dir_)).constData(), &st) == 0;
    DirState now;
    if (known) now = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), Ns(st.st_mtim), Ns(st.st_ctim)};
    const int64_t nowMs = MonotonicMs();
    const bool sameDirectory = known && now.dev == seen_.dev && now.ino == seen_.ino;
    const bool skip = armed_ && Watching() && !reported && sameDirectory && now == seen_ &&
                      nowMs - lastFullMs_ < kFullScanMs && nowMs >= lastFullMs_;
    if (skip) return false;
    if (!sameDirectory || !Watching()) Watch();
    seen_ = now;
    lastFullMs_ = nowMs;
    armed_ = false;
    asked_ = true;
    return true;
}

void ScanGate::ScanDone(bool foundNothing)
{
    if (!asked_) return;  // after a skip nothing was read: the gate stays as it was
    armed_ = foundNothing;
    asked_ = false;
}

}  // namespace plat
