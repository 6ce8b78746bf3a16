// What the file functions read off a stat record; internal to the platform.
#pragma once

#include "platform/Files.h"

#include <sys/stat.h>

namespace plat {

FileId IdOf(const struct stat& st);
TDateTime LocalModTime(const struct stat& st);

}  // namespace plat
