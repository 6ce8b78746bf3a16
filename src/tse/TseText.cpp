// The text helpers that turn the TSE's binary answers, held as hex text,
// into what the log, the window and the signature files show.
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <algorithm>
#include <cstdint>

namespace {

const char kBase64Set[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

std::string InsTZ(const std::string& s, char TZ)
{
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '|') {
            if (!out.empty() && out.back() == TZ)
                out.pop_back();
            out += " | ";
            ++i;
        } else {
            const size_t take = std::min<size_t>(2, s.size() - i);
            out.append(s, i, take);
            i += take;
            if (i < s.size())
                out.push_back(TZ);
        }
    }
    return out;
}

std::string Get_ASN1_Data(const std::string& OktStr)
{
    if (OktStr.compare(0, 2, "30") != 0)
        return std::string();

    std::string out;
    const size_t end = OktStr.size();
    size_t i = 0;
    while (end - i >= 2) {
        const std::string tag = OktStr.substr(i, 2);
        i += 2;
        // A text that ends inside a length header has nothing more to give.
        if (end - i < 2)
            break;
        const uint8_t first = HexToByte(OktStr.substr(i, 2));
        uint64_t length = 0;
        if (first < 0x80) {
            length = first;
            i += 2;
        } else {
            const size_t n = first & 0x7F;
            if (end - i < 2 + 2 * n)
                break;
            for (size_t k = 0; k < n; ++k) {
                const uint64_t byte = HexToByte(OktStr.substr(i + 2 + 2 * k, 2));
                // Lengths beyond any text saturate; the value then simply
                // runs to the end of the text.
                length = length > (UINT64_MAX >> 8) ? UINT64_MAX : (length << 8) | byte;
            }
            i += 2 + 2 * n;
        }
        // A SEQUENCE is entered, not taken: nested sequences flatten.
        if (tag == "30")
            continue;
        // 2 * length characters, fewer only when the text ends first.
        const size_t left = end - i;
        const size_t take = length > left / 2 ? left : static_cast<size_t>(2 * length);
        if (take > 0) {
            if (!out.empty())
                out.push_back('|');
            out.append(OktStr, i, take);
        }
        i += take;
    }
    return out;
}

std::string HexToText(const std::string& HexStr)
{
    std::string out;
    size_t i = 0;
    while (i < HexStr.size()) {
        if (HexStr[i] == '|') {
            out += " | ";
            ++i;
            continue;
        }
        // A last single digit is no byte.
        if (HexStr.size() - i < 2)
            break;
        const uint8_t b = HexToByte(HexStr.substr(i, 2));
        out.push_back(b >= 0x20 && b <= 0x7E ? AnsiChr(b) : '.');
        i += 2;
    }
    return out;
}

std::string HexToBase64(const std::string& S)
{
    // A last single digit is no byte and is left out.
    const std::string bytes = HexToBytes(S);
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t have = std::min<size_t>(3, bytes.size() - i);
        const uint8_t b1 = static_cast<uint8_t>(bytes[i]);
        const uint8_t b2 = have > 1 ? static_cast<uint8_t>(bytes[i + 1]) : 0;
        const uint8_t b3 = have > 2 ? static_cast<uint8_t>(bytes[i + 2]) : 0;
        out.push_back(kBase64Set[b1 / 4]);
        out.push_back(kBase64Set[(b1 % 4) * 16 + b2 / 16]);
        out.push_back(have > 1 ? kBase64Set[(b2 % 16) * 4 + b3 / 64] : '=');
        out.push_back(have > 2 ? kBase64Set[b3 % 64] : '=');
    }
    return out;
}
