#include "printable_string.h"

#include <cstring>

namespace softtse {

namespace {

bool isPrintableCharacter(char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    // strchr would also find the terminating zero; a zero byte is no character here.
    return c != '\0' && std::strchr(" '()+,-./:=?", c) != nullptr;
}

} // namespace

bool isPrintableString(const char *text, uint32_t length)
{
    if (length > 0 && text == nullptr)
        return false;
    for (uint32_t i = 0; i < length; ++i) {
        if (!isPrintableCharacter(text[i]))
            return false;
    }
    return true;
}

bool isValidClientId(const char *clientId, uint32_t length)
{
    return length >= 1 && length <= kMaxClientIdLength && isPrintableString(clientId, length);
}

} // namespace softtse
