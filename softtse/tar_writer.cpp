#include "tar_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace softtse {

namespace {

struct EntryFree {
    void operator()(archive_entry *e) const { archive_entry_free(e); }
};

} // namespace

// Restricted pax: plain ustar headers, plus a pax header only for a member
// whose name does not fit the 100 bytes of ustar (long client ids).
TarWriter::TarWriter() : archive_(archive_write_new())
{
    if (archive_ && archive_write_set_format_pax_restricted(archive_) != ARCHIVE_OK) {
        archive_write_free(archive_);
        archive_ = nullptr;
    }
}

TarWriter::~TarWriter()
{
    if (archive_)
        archive_write_free(archive_); // also closes an archive left open
    // After a fatal error (a full disk) libarchive no longer closes what it
    // opened, so the file is opened and closed here.
    if (fd_ >= 0)
        ::close(fd_);
}

bool TarWriter::openFile(const std::string &path)
{
    if (!archive_ || fd_ >= 0)
        return false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    open_ = fd_ >= 0 && archive_write_open_fd(archive_, fd_) == ARCHIVE_OK;
    return open_;
}

ssize_t TarWriter::writeToMemory(struct archive *, void *self, const void *buffer, size_t length)
{
    auto *writer = static_cast<TarWriter *>(self);
    const auto *p = static_cast<const uint8_t *>(buffer);
    writer->memory_.insert(writer->memory_.end(), p, p + length);
    return static_cast<ssize_t>(length);
}

bool TarWriter::openMemory()
{
    memory_.clear();
    open_ = archive_ &&
            archive_write_open(archive_, this, nullptr,
                               &TarWriter::writeToMemory,
                               nullptr) == ARCHIVE_OK;
    return open_;
}

bool TarWriter::add(const std::string &name, const uint8_t *data, size_t size, time_t modified)
{
    if (!open_)
        return false;
    std::unique_ptr<archive_entry, EntryFree> entry(archive_entry_new());
    if (!entry)
        return false;
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_mtime(entry.get(), modified, 0);
    if (archive_write_header(archive_, entry.get()) != ARCHIVE_OK)
        return false;
    return size == 0 || archive_write_data(archive_, data, size) == static_cast<la_ssize_t>(size);
}

bool TarWriter::finish()
{
    if (!open_)
        return false;
    open_ = false;
    bool ok = archive_write_close(archive_) == ARCHIVE_OK;
    if (fd_ >= 0) {
        ok = ::fsync(fd_) == 0 && ok;
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
    }
    return ok;
}

} // namespace softtse
