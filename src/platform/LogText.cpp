#include "platform/LogText.h"

namespace plat {

namespace {

bool IsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsSeparator(char16_t c)
{
    return c == 0x2028 || c == 0x2029;
}

template <typename Text>
void AppendCode(Text& out, unsigned code, int digits)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '<';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 0xF];
    out += '>';
}

}  // namespace

QString VisibleControls(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && !IsControl(text.at(i).unicode()) && !IsSeparator(text.at(i).unicode())) ++i;
    if (i == text.size()) return text;  // the usual case: nothing to mark
    QString out = text.left(i);
    out.reserve(text.size() + 8);
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (IsControl(c))
            AppendCode(out, c, 2);
        else if (IsSeparator(c))
            AppendCode(out, c, 4);
        else
            out += QChar(c);
    }
    return out;
}

std::string VisibleControlBytes(const std::string& bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7F)
            AppendCode(out, b, 2);
        else
            out += ch;
    }
    return out;
}

}  // namespace plat
