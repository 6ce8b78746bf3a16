// The system's ANSI code page (Windows-1252) <-> 16-bit text.
// 8-bit text is a std::string holding the bytes as they are.
#pragma once

#include <QString>
#include <string>

namespace plat {

// Every byte maps to one character; the five bytes that Windows-1252 leaves
// unassigned map to the C1 control characters of the same value.
QString AnsiToQ(const std::string& bytes);

// Characters outside the code page become '?'.
std::string QToAnsi(const QString& text);

}  // namespace plat
