// Reads the top-level elements of DER structures in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace softtse_test {

struct DerElement {
    uint8_t tag = 0;
    size_t offset = 0;       // where the element starts
    size_t headerLength = 0; // tag and length bytes
    size_t length = 0;       // content bytes
    size_t end() const { return offset + headerLength + length; }
};

// The element at offset, or false when the bytes are not well formed.
inline bool readDer(const std::vector<uint8_t> &der, size_t offset, DerElement &e)
{
    if (offset + 2 > der.size())
        return false;
    e.tag = der[offset];
    e.offset = offset;
    size_t pos = offset + 1;
    const uint8_t first = der[pos++];
    if (first < 0x80) {
        e.length = first;
    } else {
        const int n = first & 0x7F;
        if (n == 0 || n > 4 || pos + static_cast<size_t>(n) > der.size())
            return false;
        e.length = 0;
        for (int i = 0; i < n; ++i)
            e.length = e.length << 8 | der[pos++];
    }
    e.headerLength = pos - offset;
    return e.end() <= der.size();
}

// The elements inside the constructed element at offset.
inline std::vector<DerElement> derChildren(const std::vector<uint8_t> &der, size_t offset = 0)
{
    std::vector<DerElement> children;
    DerElement outer;
    if (!readDer(der, offset, outer))
        return children;
    size_t pos = outer.offset + outer.headerLength;
    while (pos < outer.end()) {
        DerElement e;
        if (!readDer(der, pos, e))
            return {};
        children.push_back(e);
        pos = e.end();
    }
    return children;
}

inline std::vector<uint8_t> derContent(const std::vector<uint8_t> &der, const DerElement &e)
{
    return std::vector<uint8_t>(der.begin() + static_cast<long>(e.offset + e.headerLength),
                                der.begin() + static_cast<long>(e.end()));
}

} // namespace softtse_test
