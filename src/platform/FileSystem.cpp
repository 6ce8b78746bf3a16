#include "platform/Files.h"

#include "platform/Ansi.h"
#include "platform/Paths.h"
#include "platform/StatInfo.h"

#include <QDateTime>
#include <QFile>
#include <QStringDecoder>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

std::atomic<int> g_deleteFailure{0};

}  // namespace

FsPath::FsPath(const QString& systemPath) : native_(QFile::encodeName(NativePath(systemPath))) {}

FsPath::FsPath(const QString& dir, const QByteArray& entryName)
    : native_(QFile::encodeName(NativePath(dir)) + '/' + entryName)
{
}

QString DisplayName(const QByteArray& entryName)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(entryName);
    if (!utf8.hasError())
        return text;
    return AnsiToQ(entryName.toStdString());
}

FileId IdOf(const struct stat& st)
{
    FileId id;
    id.dev = static_cast<uint64_t>(st.st_dev);
    id.ino = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

TDateTime LocalModTime(const struct stat& st)
{
    const qint64 ms = static_cast<qint64>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

bool FileExists(const FsPath& path)
{
    struct stat st;
    return ::stat(path.Native().constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const FsPath& path)
{
    struct stat st;
    return ::stat(path.Native().constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

int CreateDir(const QString& path)
{
    return ::mkdir(FsPath(path).Native().constData(), 0777) == 0 ? 0 : errno;
}

int InjectedDeleteFailure()
{
    return g_deleteFailure.load();
}

int DeleteFile(const FsPath& path)
{
    if (const int injected = g_deleteFailure.load())
        return injected;
    const QByteArray& name = path.Native();
    // A file that another program still holds is not deleted, as on the
    // system's home platform: a job file must not vanish under the client
    // that is still writing it.
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (rc < 0 && errno == EINTR);
        if (rc != 0) {
            const int err = (errno == EWOULDBLOCK) ? ErrSharingViolation : errno;
            ::close(fd);
            return err;
        }
    }
    // Unlinked while the lock is held, so nobody can take the file in between.
    const int err = ::unlink(name.constData()) == 0 ? 0 : errno;
    if (fd >= 0)
        ::close(fd);
    return err;
}

int RenameFile(const FsPath& from, const FsPath& to)
{
    // Like the system's home platform, a rename never replaces an existing file.
    const QByteArray& src = from.Native();
    const QByteArray& dst = to.Native();
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // File systems without the no-replace flag: link and unlink give the same
    // refusal for an existing target.
    if (::link(src.constData(), dst.constData()) != 0)
        return errno;
    return ::unlink(src.constData()) == 0 ? 0 : errno;
}

int FileModTime(const FsPath& path, TDateTime& time)
{
    struct stat st;
    if (::stat(path.Native().constData(), &st) != 0)
        return errno;
    time = LocalModTime(st);
    return 0;
}


int ReadFileBytes(const FsPath& path, std::string& bytes)
{
    bytes.clear();
    File f;
    if (int err = f.OpenRead(path))
        return err;
    if (int err = f.ReadAll(bytes))
        return err;
    return f.Close();
}

int WriteFileBytes(const FsPath& path, const std::string& bytes)
{
    File f;
    if (int err = f.Create(path))
        return err;
    if (int err = f.Write(bytes))
        return err;
    return f.Close();
}

QString ErrorText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

void SetDeleteFailureForTest(int err)
{
    g_deleteFailure.store(err);
}

}  // namespace plat
