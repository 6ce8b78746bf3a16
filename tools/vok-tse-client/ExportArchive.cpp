#include "vok-tse-client/ExportArchive.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace vokclient {

namespace {

struct ReadFree {
    void operator()(archive* a) const { archive_read_free(a); }
};

}  // namespace

ArchiveContents ReadExportArchive(const std::string& path)
{
    ArchiveContents r;
    std::unique_ptr<archive, ReadFree> a(archive_read_new());
    if (!a) {
        r.error = "out of memory";
        return r;
    }
    // No filters: a compressed archive is not what the TSE exports.
    archive_read_support_format_tar(a.get());
    if (archive_read_open_filename(a.get(), path.c_str(), 10240) != ARCHIVE_OK) {
        r.error = archive_error_string(a.get()) ? archive_error_string(a.get()) : "cannot open";
        return r;
    }
    archive_entry* entry = nullptr;
    for (;;) {
        const int rc = archive_read_next_header(a.get(), &entry);
        if (rc == ARCHIVE_EOF) break;
        if (rc != ARCHIVE_OK) {
            r.error = archive_error_string(a.get()) ? archive_error_string(a.get()) : "damaged header";
            return r;
        }
        ArchiveMember m;
        m.name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
        m.regular = archive_entry_filetype(entry) == AE_IFREG;
        const la_int64_t size = archive_entry_size(entry);
        if (size > 0) {
            m.data.resize(static_cast<size_t>(size));
            const la_ssize_t n = archive_read_data(a.get(), m.data.data(), m.data.size());
            if (n != static_cast<la_ssize_t>(m.data.size())) {
                r.error = "member " + m.name + " is cut short";
                return r;
            }
        }
        r.members.push_back(std::move(m));
    }
    r.readable = true;
    return r;
}

}  // namespace vokclient
