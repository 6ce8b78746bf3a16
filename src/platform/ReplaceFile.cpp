// Whole-file replacement that a reader on another machine never sees half
// written, and the free space of a file system.
#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace plat {

namespace {

// The descriptor is closed however the writing ends.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int Close()
    {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

int WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

int ReplaceFileBytes(const FsPath& path, const std::string& bytes, Visibility visibility)
{
    const QByteArray target = path.Native();
    const QByteArray temp = target + ".tmp";
    // A link planted under the temporary name is replaced, not written through.
    (void)::unlink(temp.constData());
    Fd fd(::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, CreationMode(visibility)));
    if (fd.get() < 0) return errno;
    int err = WriteAll(fd.get(), bytes);
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (err == 0) err = fd.Close();
    if (err == 0 && ::rename(temp.constData(), target.constData()) != 0) err = errno;
    if (err != 0) (void)::unlink(temp.constData());
    return err;
}

int DiskFreeBytes(const FsPath& dir, int64_t& bytes)
{
    struct statvfs st;
    if (::statvfs(dir.Native().constData(), &st) != 0) return errno;
    bytes = static_cast<int64_t>(st.f_bavail) * static_cast<int64_t>(st.f_frsize);
    return 0;
}

}  // namespace plat
