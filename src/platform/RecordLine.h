// The records of the service's append-only files (the job journal, the HTTP
// door's kept answers): one line each, "<type> key=value ... #<CRC-32>",
// the values percent-encoded so that no blank, "=" or "#" breaks a record
// up, the CRC over everything before " #". A torn or damaged line is known
// as such and skipped by its reader.
#pragma once

#include <charconv>
#include <concepts>
#include <map>
#include <string>
#include <string_view>

namespace plat {

class RecordWriter {
public:
    explicit RecordWriter(char type) : text_(1, type) {}
    RecordWriter& Put(const char* key, const std::string& value);
    template <std::integral T>
    RecordWriter& Put(const char* key, T value)
    {
        return Put(key, std::to_string(value));
    }
    // The whole line, its end included.
    std::string Line() const;

private:
    std::string text_;
};

using RecordFields = std::map<std::string, std::string>;

// The record's type and fields; false when the line is damaged.
bool ParseRecord(std::string_view line, char& type, RecordFields& fields);

// A field as a number: false when it is missing or not wholly a number.
template <std::integral T>
bool RecordNumber(const RecordFields& fields, const char* key, T& out)
{
    const auto it = fields.find(key);
    if (it == fields.end()) return false;
    const char* end = it->second.data() + it->second.size();
    const auto r = std::from_chars(it->second.data(), end, out);
    return r.ec == std::errc() && r.ptr == end;
}

// A field's text, empty when it is missing.
std::string RecordText(const RecordFields& fields, const char* key);

}  // namespace plat
