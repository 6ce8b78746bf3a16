// The character set of ASN.1 PrintableString, which the log message uses
// for client ids and process types: a certified TSE refuses anything else,
// so ours does too, before a register goes live on one.
#pragma once

#include <cstdint>

namespace softtse {

constexpr uint32_t kMaxClientIdLength = 30;

// A-Z a-z 0-9 space ' ( ) + , - . / : = ?; the empty text passes.
bool isPrintableString(const char *text, uint32_t length);
// 1 to kMaxClientIdLength PrintableString characters.
bool isValidClientId(const char *clientId, uint32_t length);

} // namespace softtse
