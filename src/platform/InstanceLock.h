// One service per program directory: an exclusive lock on a file there,
// held for the program's lifetime and given back by the system when the
// process ends in any way, so a crash never leaves a stale lock behind.
#pragma once

#include <QString>

namespace plat {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock on the file at path (created when missing) without
    // waiting. 0, ErrSharingViolation when another process holds it, or the
    // errno of the open. The lock file holds the holder's process id.
    int Acquire(const QString& path);

private:
    int fd_ = -1;
};

}  // namespace plat
