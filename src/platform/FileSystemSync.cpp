#include "platform/FileSystemSync.h"

#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace plat {

FileSystemSync::~FileSystemSync()
{
    if (fd_ >= 0) ::close(fd_);
}

int FileSystemSync::Open(const QString& dir)
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(FsPath(dir).Native().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0 ? 0 : errno;
}

int FileSystemSync::Sync()
{
    if (fd_ < 0) return EBADF;
    return ::syncfs(fd_) == 0 ? 0 : errno;
}

}  // namespace plat
