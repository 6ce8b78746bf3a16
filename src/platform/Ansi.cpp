#include "platform/Ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <optional>

namespace plat {

namespace {
constexpr const char* kCodePage = "windows-1252";

bool IsAscii(const std::string& bytes)
{
    for (const char b : bytes)
        if (static_cast<unsigned char>(b) >= 0x80) return false;
    return true;
}
}  // namespace

// A fresh converter per call: converters carry state and these helpers are
// called from the window thread and the export worker alike. Opening one
// costs more than a whole line of log or answer, so text that is plain
// ASCII (the same in the code page) never opens one.
QString AnsiToQ(const std::string& bytes)
{
    if (bytes.empty())
        return QString();
    if (IsAscii(bytes))
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder decode(kCodePage, QStringDecoder::Flag::Stateless);
    return decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string QToAnsi(const QString& text)
{
    if (text.isEmpty())
        return std::string();
    // The converter's own replacement byte differs between back ends, so the
    // text is converted one character (or surrogate pair) at a time and
    // whatever the code page cannot hold becomes '?'.
    std::optional<QStringEncoder> encode;  // opened at the first character beyond ASCII
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x80) {
            out.push_back(static_cast<char>(c.unicode()));
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;  // no code-page character lies outside the basic plane
            out.push_back('?');
            continue;
        }
        if (c.isSurrogate()) {
            out.push_back('?');
            continue;
        }
        if (!encode)
            encode.emplace(kCodePage, QStringEncoder::Flag::Stateless | QStringEncoder::Flag::ConvertInvalidToNull);
        encode->resetState();
        const QByteArray b = (*encode)(QStringView(&c, 1));
        // A character above 0x7F never legitimately becomes a control byte
        // below 0x20; such a byte is the converter's substitute.
        if (b.size() == 1 && !encode->hasError() && static_cast<unsigned char>(b.at(0)) >= 0x20)
            out.push_back(b.at(0));
        else
            out.push_back('?');
    }
    return out;
}

}  // namespace plat
