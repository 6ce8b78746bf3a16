// Small text helpers for the library's line-based files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softtse {

std::string trim(const std::string &s);
std::vector<std::string> splitLines(const std::string &text);
std::vector<std::string> splitWords(const std::string &s);
// Decimal or 0x-prefixed hexadecimal, optionally negative; false on junk.
bool parseNumber(const std::string &s, int64_t &value);
bool parseUnsigned(const std::string &s, uint64_t &value);

} // namespace softtse
