#include "platform/InstanceLock.h"

#include "platform/Files.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace plat {

InstanceLock::~InstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
}

int InstanceLock::Acquire(const QString& path)
{
    if (fd_ >= 0) return 0;
    int fd;
    do {
        fd = ::open(FsPath(path).Native().constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                    CreationMode(Visibility::OwnerOnly));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc < 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno == EWOULDBLOCK ? ErrSharingViolation : errno;
        ::close(fd);
        return err;
    }
    // The process id is only information for a person or a monitor; the
    // lock alone decides.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    return 0;
}

}  // namespace plat
