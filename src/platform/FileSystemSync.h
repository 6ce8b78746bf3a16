// One flush for many files: the file system that holds a directory is
// brought onto the disk whole (syncfs), which costs about as much as the
// flush of a single file. Opened before the files are written, so that a
// write-back error of any of them is reported by the next Sync.
#pragma once

#include <QString>

namespace plat {

class FileSystemSync {
public:
    FileSystemSync() = default;
    ~FileSystemSync();
    FileSystemSync(const FileSystemSync&) = delete;
    FileSystemSync& operator=(const FileSystemSync&) = delete;

    // The file system of `dir` (a system path). 0 or an errno value.
    int Open(const QString& dir);
    bool IsOpen() const { return fd_ >= 0; }
    // Everything written to that file system is on the disk: 0, or the errno
    // value of a flush or of a write-back that failed since Open or the last
    // Sync. EBADF when not open.
    int Sync();

private:
    int fd_ = -1;
};

}  // namespace plat
