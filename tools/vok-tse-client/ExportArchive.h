// The members of one export archive, read as a TAR with libarchive (the
// formats GNU tar writes and reads: ustar, pax, GNU), nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokclient {

struct ArchiveMember {
    std::string name;
    std::vector<uint8_t> data;
    bool regular = true;  // a plain file, not a link or a folder
};

struct ArchiveContents {
    bool readable = false;
    std::string error;  // why not, when not readable
    std::vector<ArchiveMember> members;
};

ArchiveContents ReadExportArchive(const std::string& path);

}  // namespace vokclient
