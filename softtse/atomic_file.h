// File helpers for the device's state folder: whole-file reads and
// crash-safe replacement (temporary file, flush, rename).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softtse {

using Bytes = std::vector<uint8_t>;

// Reads a whole file. False when it cannot be opened or read.
bool readFile(const std::string &path, Bytes &out);
bool readTextFile(const std::string &path, std::string &out);

// Writes path.tmp, flushes it to the disk and renames it over path. The
// directory entry is made durable by syncDirectory, which callers invoke
// once after all renames of one operation.
bool replaceFile(const std::string &path, const uint8_t *data, size_t size);
bool replaceFile(const std::string &path, const std::string &text);

bool syncDirectory(const std::string &dir);

bool fileExists(const std::string &path);
bool directoryExists(const std::string &path);

} // namespace softtse
