#include "der.h"

#include <sstream>

namespace softtse::der {

namespace {

void appendLength(Bytes &out, size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t tmp[sizeof(size_t)];
    int n = 0;
    while (length > 0) {
        tmp[n++] = static_cast<uint8_t>(length & 0xFF);
        length >>= 8;
    }
    out.push_back(static_cast<uint8_t>(0x80 | n));
    while (n > 0)
        out.push_back(tmp[--n]);
}

void appendBase128(Bytes &out, uint64_t value)
{
    uint8_t tmp[10];
    int n = 0;
    do {
        tmp[n++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value > 0);
    while (n > 0) {
        const uint8_t b = tmp[--n];
        out.push_back(n > 0 ? static_cast<uint8_t>(b | 0x80) : b);
    }
}

} // namespace

Bytes tlv(uint8_t tag, const uint8_t *data, size_t size)
{
    Bytes out;
    out.reserve(size + 6);
    out.push_back(tag);
    appendLength(out, size);
    out.insert(out.end(), data, data + size);
    return out;
}

Bytes tlv(uint8_t tag, const Bytes &content) { return tlv(tag, content.data(), content.size()); }

Bytes integerContent(uint64_t value)
{
    Bytes content;
    for (int shift = 56; shift >= 0; shift -= 8) {
        const uint8_t b = static_cast<uint8_t>(value >> shift);
        if (content.empty() && b == 0 && shift > 0)
            continue;
        if (content.empty() && (b & 0x80))
            content.push_back(0); // keep the value non-negative
        content.push_back(b);
    }
    return content;
}

Bytes integer(uint64_t value) { return tlv(0x02, integerContent(value)); }

Bytes octetString(const Bytes &value) { return tlv(0x04, value); }

Bytes boolean(bool value) { return tlv(0x01, Bytes{static_cast<uint8_t>(value ? 0xFF : 0x00)}); }

Bytes oid(const std::string &dotted)
{
    std::vector<uint64_t> arcs;
    std::istringstream in(dotted);
    std::string part;
    while (std::getline(in, part, '.'))
        arcs.push_back(std::stoull(part));
    Bytes content;
    if (arcs.size() >= 2) {
        appendBase128(content, arcs[0] * 40 + arcs[1]);
        for (size_t i = 2; i < arcs.size(); ++i)
            appendBase128(content, arcs[i]);
    }
    return tlv(0x06, content);
}

Bytes sequence(const std::vector<Bytes> &elements)
{
    Bytes content;
    for (const Bytes &e : elements)
        append(content, e);
    return tlv(kSequence, content);
}

void append(Bytes &to, const Bytes &from) { to.insert(to.end(), from.begin(), from.end()); }

} // namespace softtse::der
