#include "text_util.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace softtse {

std::string trim(const std::string &s)
{
    const char *ws = " \t\r\n";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    const size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> splitWords(const std::string &s)
{
    std::vector<std::string> words;
    std::istringstream in(s);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

namespace {

// Decimal, or hexadecimal after "0x"; a leading zero does not mean octal.
int baseOf(const std::string &s)
{
    const size_t digits = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    return s.size() > digits + 1 && s[digits] == '0' && (s[digits + 1] == 'x' || s[digits + 1] == 'X') ? 16 : 10;
}

} // namespace

bool parseNumber(const std::string &s, int64_t &value)
{
    if (s.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, baseOf(s));
    if (errno != 0 || end == s.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

bool parseUnsigned(const std::string &s, uint64_t &value)
{
    if (s.empty() || s[0] == '-')
        return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, baseOf(s));
    if (errno != 0 || end == s.c_str() || *end != '\0')
        return false;
    value = v;
    return true;
}

} // namespace softtse
