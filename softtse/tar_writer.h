// POSIX TAR archives (ustar headers), written to a file or into memory.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

struct archive;

namespace softtse {

using Bytes = std::vector<uint8_t>;

class TarWriter {
public:
    TarWriter();
    ~TarWriter();
    TarWriter(const TarWriter &) = delete;
    TarWriter &operator=(const TarWriter &) = delete;

    // Creates or truncates path. The descriptor is released with the writer,
    // whatever state libarchive is left in.
    bool openFile(const std::string &path);
    bool openMemory(); // the archive collects in memory()
    bool add(const std::string &name, const uint8_t *data, size_t size, time_t modified);
    bool add(const std::string &name, const Bytes &data, time_t modified)
    {
        return add(name, data.data(), data.size(), modified);
    }
    bool finish(); // writes the end blocks and closes
    const Bytes &memory() const { return memory_; }

private:
    static ssize_t writeToMemory(struct archive *, void *self, const void *buffer, size_t length);

    struct archive *archive_ = nullptr;
    bool open_ = false;
    int fd_ = -1; // ours, not libarchive's: closed even after a fatal write error
    Bytes memory_;
};

} // namespace softtse
