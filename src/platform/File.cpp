#include "platform/Files.h"

#include "platform/Paths.h"
#include "platform/StatInfo.h"

#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

constexpr size_t kChunk = 64 * 1024;

int RetryingOpen(const QByteArray& name, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(name.constData(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Windows sharing emulated with advisory locks: the lock is taken without
// waiting, and a file that cannot be locked is not kept open.
int LockOrClose(int fd, int operation)
{
    int rc;
    do {
        rc = ::flock(fd, operation | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    const int err = (errno == EWOULDBLOCK) ? ErrSharingViolation : errno;
    ::close(fd);
    return err;
}

}  // namespace

File::~File()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int File::CloseIfOpen()
{
    return fd_ >= 0 ? Close() : 0;
}

void File::Adopt(int fd)
{
    fd_ = fd;
    buf_.clear();
    pos_ = 0;
    eof_ = false;
}

int File::OpenRead(const FsPath& path)
{
    if (int err = CloseIfOpen())
        return err;
    const int fd = RetryingOpen(path.Native(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // A directory opens for reading here but not on the system's home
    // platform; a directory that matches a job pattern must fail at once.
    struct stat st;
    const int statErr = ::fstat(fd, &st) == 0 ? (S_ISDIR(st.st_mode) ? EISDIR : 0) : errno;
    if (statErr) {
        ::close(fd);
        return statErr;
    }
    if (int err = LockOrClose(fd, LOCK_SH))
        return err;
    Adopt(fd);
    return 0;
}

int File::OpenRegular(const FsPath& path)
{
    if (int err = CloseIfOpen())
        return err;
    // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
    const int fd = RetryingOpen(path.Native(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Judged on what was opened, not on a name that may change meanwhile.
    struct stat st;
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (!S_ISREG(st.st_mode))
        err = ErrNotRegularFile;
    else if (const int fl = ::fcntl(fd, F_GETFL); fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0)
        err = errno;
    if (err) {
        ::close(fd);
        return err;
    }
    if (int lockErr = LockOrClose(fd, LOCK_SH))
        return lockErr;
    Adopt(fd);
    return 0;
}

namespace {

// Opens name for writing without following a link and without waiting for a
// FIFO's reader; anything but a regular file found there is reported as
// ErrNotRegularFile and not kept open.
int OpenForWriting(const QByteArray& name, int flags, mode_t mode, int& fd)
{
    fd = RetryingOpen(name, flags | O_NONBLOCK, mode);
    if (fd < 0)
        return errno == ENXIO ? ErrNotRegularFile : errno;  // ENXIO: a FIFO without a reader
    struct stat st;
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = ErrNotRegularFile;
    else if (const int fl = ::fcntl(fd, F_GETFL); fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0)
        err = errno;
    if (err) {
        ::close(fd);
        fd = -1;
    }
    return err;
}

}  // namespace

mode_t CreationMode(Visibility visibility)
{
    // A umask only ever takes bits away: 0600 stays 0600 under 022, 027 and
    // 007 alike, and no group or other bit can be added by one.
    switch (visibility) {
    case Visibility::OwnerOnly: return 0600;
    case Visibility::OthersRead: return 0644;
    case Visibility::FollowUmask: break;
    }
    return 0666;
}

int File::Create(const FsPath& path, Visibility visibility)
{
    if (int err = CloseIfOpen())
        return err;
    const QByteArray& name = path.Native();
    // No O_TRUNC here: a reader that holds the file must never see it
    // emptied, so the truncation waits until the exclusive lock is ours.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    int fd = -1;
    const mode_t mode = CreationMode(visibility);
    int err = OpenForWriting(name, flags, mode, fd);
    if (err == ELOOP || err == ErrNotRegularFile) {
        // A symbolic link, FIFO, socket or device under the name is replaced
        // by a fresh file; a link's target stays untouched. A directory stays.
        struct stat st;
        if (::lstat(name.constData(), &st) != 0 || S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))
            return err;
        if (::unlink(name.constData()) != 0)
            return errno;
        err = OpenForWriting(name, flags | O_EXCL, mode, fd);
    }
    if (err)
        return err;
    if (int lockErr = LockOrClose(fd, LOCK_EX))
        return lockErr;
    // A file that is empty (nearly always a new one) is not truncated: on
    // ext4 a truncation to zero makes the close start writing the file back
    // at once, which every fresh answer would pay for, while its flush comes
    // with its batch.
    struct stat st;
    const bool empty = ::fstat(fd, &st) == 0 && st.st_size == 0;
    if (!empty && ::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    Adopt(fd);
    return 0;
}

int File::OpenAppend(const FsPath& path)
{
    if (int err = CloseIfOpen())
        return err;
    const int fd = RetryingOpen(path.Native(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (int err = LockOrClose(fd, LOCK_EX))
        return err;
    Adopt(fd);
    return 0;
}

int File::Stat(FileId& id, TDateTime& modTime) const
{
    if (fd_ < 0)
        return EBADF;
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return errno;
    if (int err = StatxId(fd_, "", AT_EMPTY_PATH, id))
        return err;
    modTime = LocalModTime(st);
    return 0;
}

// Appends the next chunk to the buffer; 0 also at the end (eof set).
static int FillFrom(int fd, std::string& buf, size_t& pos, bool& eof)
{
    if (pos > 0) {
        buf.erase(0, pos);
        pos = 0;
    }
    const size_t had = buf.size();
    buf.resize(had + kChunk);
    ssize_t n;
    do {
        n = ::read(fd, buf.data() + had, kChunk);
    } while (n < 0 && errno == EINTR);
    const int err = n < 0 ? errno : 0;
    buf.resize(had + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0)
        eof = true;
    return err;
}

int File::ReadLine(std::string& line, bool& atEnd)
{
    line.clear();
    atEnd = false;
    if (fd_ < 0)
        return EBADF;
    size_t searchFrom = pos_;
    for (;;) {
        const size_t nl = buf_.find('\n', searchFrom);
        if (nl != std::string::npos) {
            size_t end = nl;
            if (end > pos_ && buf_[end - 1] == '\r')
                --end;
            line.assign(buf_, pos_, end - pos_);
            pos_ = nl + 1;
            return 0;
        }
        if (eof_) {
            if (pos_ >= buf_.size()) {
                atEnd = true;
                return 0;
            }
            // The last line may lack its ending.
            line.assign(buf_, pos_, std::string::npos);
            pos_ = buf_.size();
            return 0;
        }
        const size_t scanned = buf_.size() - pos_;
        if (int err = FillFrom(fd_, buf_, pos_, eof_))
            return err;
        searchFrom = pos_ + scanned;
    }
}

int File::Read(std::string& bytes, size_t n)
{
    bytes.clear();
    if (fd_ < 0)
        return EBADF;
    while (buf_.size() - pos_ < n && !eof_) {
        if (int err = FillFrom(fd_, buf_, pos_, eof_))
            return err;
    }
    const size_t take = std::min(n, buf_.size() - pos_);
    bytes.assign(buf_, pos_, take);
    pos_ += take;
    return 0;
}

int File::ReadAll(std::string& bytes)
{
    bytes.clear();
    if (fd_ < 0)
        return EBADF;
    while (!eof_) {
        if (int err = FillFrom(fd_, buf_, pos_, eof_))
            return err;
    }
    bytes.assign(buf_, pos_, std::string::npos);
    pos_ = buf_.size();
    return 0;
}

int File::WriteLine(const std::string& bytes)
{
    return Write(bytes + "\r\n");
}

int File::Write(const std::string& bytes)
{
    if (fd_ < 0)
        return EBADF;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int File::Sync()
{
    if (fd_ < 0)
        return EBADF;
    return ::fsync(fd_) == 0 ? 0 : errno;
}

int64_t File::RoomAhead() const
{
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0)
        return -1;
    return std::max<int64_t>(0, static_cast<int64_t>(st.st_blocks) * 512 - st.st_size);
}

int File::Reserve(int64_t bytes)
{
    if (fd_ < 0)
        return EBADF;
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return errno;
    int rc;
    do {
        rc = ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, st.st_size, bytes);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return 0;
    return errno == ENOSYS ? EOPNOTSUPP : errno;
}

int File::Close()
{
    if (fd_ < 0)
        return EBADF;
    const int fd = fd_;
    fd_ = -1;
    buf_.clear();
    pos_ = 0;
    eof_ = false;
    // The descriptor is gone whatever close reports; EINTR is not retried.
    return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace plat
