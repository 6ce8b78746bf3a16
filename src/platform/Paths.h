// The system builds its paths with "\" and drive letters, as its texts show.
// This is the one place where such a path becomes a native one.
#pragma once

#include <QString>

namespace plat {

// Root under which drive letters are mounted: $VOK_TSE_DRIVES, else "/mnt".
QString DriveRoot();

// "E:\rest" and "E:rest" -> <DriveRoot>/e/rest; every "\" becomes "/".
// Any other path is used as it is.
QString NativePath(const QString& systemPath);

// The process's current working directory (native form, no trailing "/"
// except for the root itself).
QString CurrentDirectory();

}  // namespace plat
