// Telling files apart, and deleting a file only while it is the one meant.
#include "platform/Files.h"

#include "platform/StatInfo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace plat {

namespace {

const QByteArray kSetAsidePrefix = QByteArrayLiteral(".vok-del.");

int64_t Ns(const struct statx_timestamp& t)
{
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Takes an exclusive lock without waiting, as DeleteFile does: a file that
// another program still holds is not deleted under it.
int LockedByOther(const QByteArray& path)
{
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return 0;  // nothing to hold, or a link: unlink decides
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    const int err = rc == 0 ? 0 : (errno == EWOULDBLOCK ? ErrSharingViolation : errno);
    ::close(fd);
    return err;
}

}  // namespace

int StatxId(int dirfd, const char* path, int flags, FileId& id)
{
    struct statx sx;
    if (::statx(dirfd, path, flags | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return errno;
    id = FileId();
    id.dev = static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    id.ino = sx.stx_ino;
    id.size = static_cast<int64_t>(sx.stx_size);
    id.mtimeNs = Ns(sx.stx_mtime);
    id.btimeNs = (sx.stx_mask & STATX_BTIME) ? Ns(sx.stx_btime) : 0;
    return 0;
}

int FileIdentity(const FsPath& path, FileId& id)
{
    return StatxId(AT_FDCWD, path.Native().constData(), AT_SYMLINK_NOFOLLOW, id);
}

QByteArray SetAsideName(const QByteArray& name)
{
    return kSetAsidePrefix + name;
}

bool IsSetAsideName(const QByteArray& entryName)
{
    return entryName.startsWith(kSetAsidePrefix) && entryName.size() > kSetAsidePrefix.size();
}

QByteArray NameOfSetAside(const QByteArray& setAsideName)
{
    return setAsideName.mid(kSetAsidePrefix.size());
}

int DeleteFileIfSame(const QString& dir, const QByteArray& name, const FileId& expected)
{
    if (const int injected = InjectedDeleteFailure())
        return injected;
    const FsPath path(dir, name);
    const FsPath aside(dir, SetAsideName(name));
    FileId id;
    if (int err = FileIdentity(path, id))
        return err;
    if (!(id == expected))
        return ErrOtherFile;
    if (int err = LockedByOther(path.Native()))
        return err;
    // The look above could be overtaken by a client that renames its next
    // job over the name; a rename cannot. Whatever stands under the name
    // now is moved aside in one step and judged there.
    if (::renameat2(AT_FDCWD, path.Native().constData(), AT_FDCWD, aside.Native().constData(), RENAME_NOREPLACE) !=
        0) {
        const int err = errno;
        if (err != EINVAL && err != ENOSYS && err != EEXIST)
            return err;
        // No way to move it aside safely here: the look must do.
        return ::unlink(path.Native().constData()) == 0 ? 0 : errno;
    }
    if (FileIdentity(aside, id) == 0 && id == expected)
        return ::unlink(aside.Native().constData()) == 0 ? 0 : errno;
    // Another file came in between: it goes back, never over a newer one.
    (void)::renameat2(AT_FDCWD, aside.Native().constData(), AT_FDCWD, path.Native().constData(), RENAME_NOREPLACE);
    return ErrOtherFile;
}

}  // namespace plat
