// Minimal DER encoding for the structures the TSE emits: log messages,
// serial-number lists, client mappings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softtse::der {

using Bytes = std::vector<uint8_t>;

// One complete TLV with the given tag byte and content.
Bytes tlv(uint8_t tag, const Bytes &content);
Bytes tlv(uint8_t tag, const uint8_t *data, size_t size);

Bytes integer(uint64_t value);                 // INTEGER, non-negative
Bytes integerContent(uint64_t value);          // its content octets only
Bytes octetString(const Bytes &value);
Bytes boolean(bool value);
Bytes oid(const std::string &dotted);          // "0.4.0.127.0.7.3.7.1.1"
Bytes sequence(const std::vector<Bytes> &elements);

void append(Bytes &to, const Bytes &from);

constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kContext0 = 0x80; // [n] IMPLICIT, primitive: kContext0 + n

} // namespace softtse::der
