#include "platform/FileMode.h"

#include <cerrno>
#include <sys/stat.h>

namespace plat {

int FileModeBits(const FsPath& path, mode_t& mode)
{
    struct stat st {};
    if (::stat(path.Native().constData(), &st) != 0) return errno;
    mode = st.st_mode & 07777;
    return 0;
}

}  // namespace plat
