// Files with the platform's error numbers (errno). Every open file is closed
// by its destructor at the latest.
//
// Sharing follows the system's rules: a reader takes a shared lock without
// blocking, a writer an exclusive one; an open that cannot get its lock fails
// with ErrSharingViolation and leaves nothing open.
#pragma once

#include "platform/DateTime.h"

#include <QString>
#include <QStringList>
#include <cerrno>
#include <string>

namespace plat {

constexpr int ErrSharingViolation = EBUSY;

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Each returns 0 or an errno value. Paths are in the system's form and
    // go through NativePath.
    int OpenRead(const QString& path);   // shared lock; ENOENT when missing
    int Create(const QString& path);     // create or truncate, exclusive lock;
                                         // a symbolic link under the name is
                                         // replaced, never followed
    int OpenAppend(const QString& path); // exclusive lock; ENOENT when missing

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
    int Close();                             // result of the close

private:
    int CloseIfOpen();   // before an open: a file still open is closed first
    void Adopt(int fd);  // the newly opened descriptor, with an empty read buffer

    int fd_ = -1;
    std::string buf_;
    size_t pos_ = 0;
    bool eof_ = false;
};

bool FileExists(const QString& path);       // follows links; not a directory
bool DirectoryExists(const QString& path);
int CreateDir(const QString& path);          // one level
int DeleteFile(const QString& path);
int RenameFile(const QString& from, const QString& to);

// Modification time in local time with milliseconds.
int FileModTime(const QString& path, TDateTime& time);

// Entry names (not paths) in dir matching pattern ("*" and "?"), letter case
// ignored, every kind of entry, in the order the directory lists them. A read
// error part-way returns its errno with the names gathered until then.
int FindFiles(const QString& dir, const QString& pattern, QStringList& names);

// Whole-file helpers for byte data.
int ReadFileBytes(const QString& path, std::string& bytes);
int WriteFileBytes(const QString& path, const std::string& bytes);

// Text of an errno value, for messages.
QString ErrorText(int err);

// Test seam: while set, DeleteFile returns this error without deleting.
void SetDeleteFailureForTest(int err);

}  // namespace plat
