// What the file functions read off a stat record; internal to the platform.
#pragma once

#include "platform/Files.h"

#include <sys/stat.h>

namespace plat {

FileId IdOf(const struct stat& st);
// The identity through statx, birth time included: 0 or the errno value.
// The failure SetDeleteFailureForTest asks for, or 0.
int InjectedDeleteFailure();
int StatxId(int dirfd, const char* path, int flags, FileId& id);
TDateTime LocalModTime(const struct stat& st);

}  // namespace plat
