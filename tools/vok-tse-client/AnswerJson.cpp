#include "vok-tse-client/AnswerJson.h"

#include <QStringConverter>

namespace vokclient {

namespace {

QString FromCp1252(const QByteArray& bytes)
{
    QStringDecoder dec("windows-1252");
    if (dec.isValid()) return dec.decode(bytes);
    return QString::fromLatin1(bytes);  // no converter: the nearest mapping
}

}  // namespace

QString DecodeText(const QByteArray& bytes, TextEncoding encoding)
{
    if (encoding == TextEncoding::Cp1252) return FromCp1252(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? FromCp1252(bytes) : text;
}

QByteArray JsonString(const QString& text)
{
    QByteArray out = "\"";
    QString run;  // characters taken as they are, converted together so that surrogate pairs stay whole
    auto flush = [&] {
        out += run.toUtf8();
        run.clear();
    };
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const char* esc = nullptr;
        switch (u) {
        case u'"': esc = "\\\""; break;
        case u'\\': esc = "\\\\"; break;
        case u'\b': esc = "\\b"; break;
        case u'\f': esc = "\\f"; break;
        case u'\n': esc = "\\n"; break;
        case u'\r': esc = "\\r"; break;
        case u'\t': esc = "\\t"; break;
        default: break;
        }
        if (esc) {
            flush();
            out += esc;
        } else if (u < 0x20 || u == 0x7F || u == 0x2028 || u == 0x2029) {
            // Control characters, and the two separators that break
            // JavaScript readers taking JSON as code.
            flush();
            out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
        } else {
            run += c;
        }
    }
    flush();
    out += '"';
    return out;
}

QByteArray AnswerToJson(const Answer& answer, TextEncoding encoding,
                        const std::vector<std::pair<QByteArray, QByteArray>>& extra)
{
    QByteArray out = "{";
    bool first = true;
    auto member = [&](const QByteArray& key, const QByteArray& jsonValue) {
        if (!first) out += ',';
        first = false;
        out += JsonString(DecodeText(key, encoding));
        out += ':';
        out += jsonValue;
    };
    for (const auto& [k, v] : answer.fields) member(k, JsonString(DecodeText(v, encoding)));
    if (answer.hasNotices) {
        QByteArray arr = "[";
        for (int i = 0; i < answer.notices.size(); ++i) {
            if (i) arr += ',';
            arr += JsonString(DecodeText(answer.notices[i], encoding));
        }
        arr += ']';
        member("MITTEILUNGEN", arr);
    }
    for (const auto& [k, v] : extra) member(k, JsonString(DecodeText(v, encoding)));
    out += "}\n";
    return out;
}

QByteArray AnswerToLines(const Answer& answer, TextEncoding encoding)
{
    QByteArray out;
    for (const QByteArray& line : answer.lines) {
        out += encoding == TextEncoding::Cp1252 ? FromCp1252(line).toUtf8() : line;
        out += '\n';
    }
    return out;
}

}  // namespace vokclient
