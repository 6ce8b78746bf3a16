// The members of an export archive, read as a TAR with libarchive (the
// formats GNU tar writes and reads: ustar, pax, GNU), nothing else. The
// reader goes member by member, so that an archive of any size is read in
// bounded memory; ReadExportArchive takes a small archive whole.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct archive;

namespace vokclient {

struct ArchiveMember {
    std::string name;
    std::vector<uint8_t> data;
    bool regular = true;  // a plain file, not a link or a folder
};

class ExportArchiveReader {
public:
    enum class Step { Member, End, Failed };

    // False with Error() when the file cannot be opened as a TAR.
    bool Open(const std::string& path);
    // The next member's header: its name, kind and size, data not yet read.
    Step Next(std::string& name, bool& regular, uint64_t& size);
    // The data of the member Next() returned; false when it is cut short.
    bool ReadData(std::vector<uint8_t>& data, uint64_t size);
    // Passes over the data (a seek on a plain file).
    bool Skip();
    const std::string& Error() const { return error_; }

private:
    struct Free {
        void operator()(archive* a) const;
    };
    std::unique_ptr<archive, Free> archive_;
    std::string error_;
};

struct ArchiveContents {
    bool readable = false;
    std::string error;  // why not, when not readable
    std::vector<ArchiveMember> members;
};

ArchiveContents ReadExportArchive(const std::string& path);

}  // namespace vokclient
