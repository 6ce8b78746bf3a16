// Files with the platform's error numbers (errno). Every open file is closed
// by its destructor at the latest.
//
// Sharing follows the system's rules: a reader takes a shared lock without
// blocking, a writer an exclusive one; an open that cannot get its lock fails
// with ErrSharingViolation and leaves nothing open.
#pragma once

#include "platform/DateTime.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cerrno>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace plat {

constexpr int ErrSharingViolation = EBUSY;
// A job file that is a FIFO, socket or device: it is never opened for its
// content, since reading one could block the service for good.
constexpr int ErrNotRegularFile = EINVAL;

// Where a file function works: a path in the system's form (through
// NativePath), or an entry of a directory under the very bytes the directory
// lists it by. Other programs write the job directory, and their names need
// not be valid in the locale's encoding; such a name must still be opened,
// answered and deleted as itself.
class FsPath {
public:
    FsPath(const QString& systemPath);  // NOLINT: every system path is one
    FsPath(const char* systemPath) : FsPath(QString::fromUtf8(systemPath)) {}  // NOLINT
    FsPath(const QString& dir, const QByteArray& entryName);
    const QByteArray& Native() const { return native_; }

private:
    QByteArray native_;
};

// Who may read a file the service creates. The service's own files in its
// program directory (configuration, journal, log, lock) are its alone: a
// register that shares the group must not change what is answered or where
// the TSE is looked for. Answers and exports in the shared directories follow
// the umask the administrator chose for the share.
enum class Visibility {
    FollowUmask,  // 0666 less the umask
    OthersRead,   // 0644 less the umask: others read what only we write
    OwnerOnly,    // 0600 whatever the umask
};

// What tells one file from another that later appears under the same name.
// An inode number is handed out again as soon as its file is gone, so the
// times go with it: the content's last change and, where the file system
// keeps one, the birth time (0 where it does not). None of them changes
// when the file is renamed.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t btimeNs = 0;
    bool operator==(const FileId&) const = default;
};

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Each returns 0 or an errno value. Paths are in the system's form and
    // go through NativePath.
    int OpenRead(const FsPath& path);   // shared lock; ENOENT when missing
    // For files that others put in place (jobs): a symbolic link is not
    // followed (ELOOP), and anything but a regular file is refused
    // (EISDIR, ErrNotRegularFile) without ever blocking on it. Shared lock.
    int OpenRegular(const FsPath& path);
    // Create or truncate, exclusive lock; a symbolic link, FIFO, socket or
    // device under the name is replaced, never followed or written to. The
    // visibility is given to a file that is new; an existing file keeps its
    // mode.
    int Create(const FsPath& path, Visibility visibility = Visibility::FollowUmask);
    int OpenAppend(const FsPath& path); // exclusive lock; ENOENT when missing

    // Identity and local modification time of the open file.
    int Stat(FileId& id, TDateTime& modTime) const;

    bool IsOpen() const { return fd_ >= 0; }

    // One line without its ending (LF or CR LF). Returns 0, or an errno value;
    // atEnd is true when no line was left to read.
    int ReadLine(std::string& line, bool& atEnd);
    // Up to n bytes; fewer only at the end of the file.
    int Read(std::string& bytes, size_t n);
    int ReadAll(std::string& bytes);

    int WriteLine(const std::string& bytes); // bytes + CR LF
    int Write(const std::string& bytes);
    int Sync();                              // data on the disk (fsync)
    // Makes sure that `bytes` more can be appended without the file system
    // running out of room: the blocks are taken now, the size stays. 0,
    // ENOSPC, or EOPNOTSUPP where the file system cannot reserve.
    int Reserve(int64_t bytes);
    // Bytes already taken beyond the file's end (by Reserve), or -1.
    int64_t RoomAhead() const;
    int Close();                             // result of the close

private:
    int CloseIfOpen();   // before an open: a file still open is closed first
    void Adopt(int fd);  // the newly opened descriptor, with an empty read buffer

    int fd_ = -1;
    std::string buf_;
    size_t pos_ = 0;
    bool eof_ = false;
};

bool FileExists(const FsPath& path);       // follows links; not a directory
bool DirectoryExists(const FsPath& path);
int CreateDir(const QString& path);          // one level
int DeleteFile(const FsPath& path);
// Deletes the entry `name` of `dir` only while it is still the file
// `expected`: what stands under the name is first moved aside in one step
// (SetAsideName), looked at there, and deleted or put back. A file that
// another program wrote under the name meanwhile is never deleted:
// ErrOtherFile, and it stands under its name again (or, should yet another
// have taken the name in between, under the name set aside). ENOENT when
// nothing stands under the name.
constexpr int ErrOtherFile = ESTALE;
int DeleteFileIfSame(const QString& dir, const QByteArray& name, const FileId& expected);
// The name under which DeleteFileIfSame keeps a file for a moment; no
// pattern of the job protocol matches it.
QByteArray SetAsideName(const QByteArray& name);
bool IsSetAsideName(const QByteArray& entryName);
QByteArray NameOfSetAside(const QByteArray& setAsideName);
int RenameFile(const FsPath& from, const FsPath& to);

// Modification time in local time with milliseconds.
int FileModTime(const FsPath& path, TDateTime& time);
// Identity of what stands under the name, links not followed.
int FileIdentity(const FsPath& path, FileId& id);

// Entry names (not paths) in dir matching pattern ("*" and "?"), letter case
// ignored, every kind of entry, in the order the directory lists them. A read
// error part-way returns its errno with the names gathered until then.
int FindFiles(const QString& dir, const QString& pattern, QStringList& names);
// The same, each name as the bytes the directory lists it under.
int FindEntries(const QString& dir, const QString& pattern, QList<QByteArray>& names);

// An entry name as text for the log and the window: UTF-8 where it is valid
// UTF-8, else Windows-1252 (legacy clients write their names in it).
QString DisplayName(const QByteArray& entryName);

// Whole-file helpers for byte data.
int ReadFileBytes(const FsPath& path, std::string& bytes);
int WriteFileBytes(const FsPath& path, const std::string& bytes);
// Replaces the file's content as one step for every reader: the bytes go to
// a file beside it (name + ".tmp"), onto the disk, and are renamed over it.
// The new file has the visibility given, whatever the old one had.
int ReplaceFileBytes(const FsPath& path, const std::string& bytes,
                     Visibility visibility = Visibility::OthersRead);

// The permission bits a new file of that visibility is created with.
mode_t CreationMode(Visibility visibility);

// Bytes free for an ordinary user on the file system holding dir.
int DiskFreeBytes(const FsPath& dir, int64_t& bytes);

// Text of an errno value, for messages.
QString ErrorText(int err);

// Test seam: while set, DeleteFile returns this error without deleting.
void SetDeleteFailureForTest(int err);

}  // namespace plat
