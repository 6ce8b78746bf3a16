// The permission bits of a file, for files whose secrecy depends on them.
#pragma once

#include "platform/Files.h"

#include <sys/types.h>

namespace plat {

// The permission bits (07777) of what stands under the name, links
// followed. 0 or the errno value.
int FileModeBits(const FsPath& path, mode_t& mode);

}  // namespace plat
