#include "atomic_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace softtse {

namespace {

// Owns a file descriptor so that every path closes it.
class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { closeNow(); }
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool closeNow()
    {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const uint8_t *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool readFile(const std::string &path, Bytes &out)
{
    FileHandle f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!f.valid())
        return false;
    out.clear();
    uint8_t buf[65536];
    for (;;) {
        const ssize_t n = ::read(f.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return true;
}

bool readTextFile(const std::string &path, std::string &out)
{
    Bytes bytes;
    if (!readFile(path, bytes))
        return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
}

bool replaceFile(const std::string &path, const uint8_t *data, size_t size)
{
    const std::string tmp = path + ".tmp";
    FileHandle f(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!f.valid())
        return false;
    if (!writeAll(f.get(), data, size) || ::fdatasync(f.get()) != 0 || !f.closeNow()) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool replaceFile(const std::string &path, const std::string &text)
{
    return replaceFile(path, reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

bool syncDirectory(const std::string &dir)
{
    FileHandle d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return d.valid() && ::fsync(d.get()) == 0;
}

bool fileExists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool directoryExists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace softtse
