#include "vok-tse-client/ExportArchive.h"

#include <archive.h>
#include <archive_entry.h>

namespace vokclient {

void ExportArchiveReader::Free::operator()(archive* a) const { archive_read_free(a); }

bool ExportArchiveReader::Open(const std::string& path)
{
    archive_.reset(archive_read_new());
    if (!archive_) {
        error_ = "out of memory";
        return false;
    }
    // No filters: a compressed archive is not what the TSE exports.
    archive_read_support_format_tar(archive_.get());
    if (archive_read_open_filename(archive_.get(), path.c_str(), 64 * 1024) != ARCHIVE_OK) {
        error_ = archive_error_string(archive_.get()) ? archive_error_string(archive_.get()) : "cannot open";
        archive_.reset();
        return false;
    }
    return true;
}

ExportArchiveReader::Step ExportArchiveReader::Next(std::string& name, bool& regular, uint64_t& size)
{
    if (!archive_) return Step::Failed;
    archive_entry* entry = nullptr;
    const int rc = archive_read_next_header(archive_.get(), &entry);
    if (rc == ARCHIVE_EOF) return Step::End;
    if (rc != ARCHIVE_OK) {
        error_ = archive_error_string(archive_.get()) ? archive_error_string(archive_.get()) : "damaged header";
        return Step::Failed;
    }
    name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
    regular = archive_entry_filetype(entry) == AE_IFREG;
    const la_int64_t s = archive_entry_size(entry);
    size = s > 0 ? static_cast<uint64_t>(s) : 0;
    return Step::Member;
}

bool ExportArchiveReader::ReadData(std::vector<uint8_t>& data, uint64_t size)
{
    data.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < data.size()) {
        const la_ssize_t n = archive_read_data(archive_.get(), data.data() + done, data.size() - done);
        if (n <= 0) {
            error_ = "member is cut short";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ExportArchiveReader::Skip()
{
    if (archive_read_data_skip(archive_.get()) == ARCHIVE_OK) return true;
    error_ = archive_error_string(archive_.get()) ? archive_error_string(archive_.get()) : "member is cut short";
    return false;
}

ArchiveContents ReadExportArchive(const std::string& path)
{
    ArchiveContents r;
    ExportArchiveReader reader;
    if (!reader.Open(path)) {
        r.error = reader.Error();
        return r;
    }
    for (;;) {
        ArchiveMember m;
        uint64_t size = 0;
        const ExportArchiveReader::Step step = reader.Next(m.name, m.regular, size);
        if (step == ExportArchiveReader::Step::End) break;
        if (step == ExportArchiveReader::Step::Failed || !reader.ReadData(m.data, size)) {
            r.error = reader.Error();
            return r;
        }
        r.members.push_back(std::move(m));
    }
    r.readable = true;
    return r;
}

}  // namespace vokclient
