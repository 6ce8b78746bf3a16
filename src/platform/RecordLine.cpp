#include "platform/RecordLine.h"

#include <QByteArray>
#include <zlib.h>

namespace plat {

namespace {

std::string Encode(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toPercentEncoding().toStdString();
}

std::string Decode(std::string_view text)
{
    return QByteArray::fromPercentEncoding(QByteArray(text.data(), static_cast<qsizetype>(text.size())))
        .toStdString();
}

std::string Crc8Hex(std::string_view bytes)
{
    const auto crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    return QByteArray::number(crc, 16).rightJustified(8, '0').toStdString();
}

}  // namespace

RecordWriter& RecordWriter::Put(const char* key, const std::string& value)
{
    text_ += ' ';
    text_ += key;
    text_ += '=';
    text_ += Encode(value);
    return *this;
}

std::string RecordWriter::Line() const
{
    return text_ + " #" + Crc8Hex(text_) + "\n";
}

bool ParseRecord(std::string_view line, char& type, RecordFields& fields)
{
    const size_t mark = line.rfind(" #");
    if (mark == std::string_view::npos || mark < 1 || line.size() - mark != 10) return false;
    const std::string_view body = line.substr(0, mark);
    if (Crc8Hex(body) != line.substr(mark + 2)) return false;
    if (body.size() > 1 && body[1] != ' ') return false;
    type = body[0];
    size_t pos = 1;
    while (pos < body.size()) {
        ++pos;  // the blank
        size_t end = body.find(' ', pos);
        if (end == std::string_view::npos) end = body.size();
        const std::string_view field = body.substr(pos, end - pos);
        const size_t eq = field.find('=');
        if (eq == std::string_view::npos) return false;
        fields[std::string(field.substr(0, eq))] = Decode(field.substr(eq + 1));
        pos = end;
    }
    return true;
}

std::string RecordText(const RecordFields& fields, const char* key)
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

}  // namespace plat
