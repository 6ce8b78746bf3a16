#include "vok-tse-client/JobText.h"

#include <QStringConverter>

namespace vokclient {

namespace {

QString Checked(const char* option, const QByteArray& v, int maxBytes)
{
    if (v.contains('\r') || v.contains('\n') || v.contains('\0'))
        return QStringLiteral("%1 must not contain a line break").arg(QLatin1String(option));
    if (v.size() > maxBytes)
        return QStringLiteral("%1 is %2 bytes long; the service takes at most %3")
            .arg(QLatin1String(option)).arg(v.size()).arg(maxBytes);
    return {};
}

// A TSE writes the client id into its log as an ASN.1 PrintableString and
// refuses any other character, so the id is refused here, before a job
// exists, rather than as an ERR answer from the TSE.
QString CheckedClientId(const QByteArray& id)
{
    static const QByteArray punctuation = " '()+,-./:=?";
    for (const char c : id) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && !punctuation.contains(c))
            return QStringLiteral("--kasid may hold only A-Z a-z 0-9, the blank and ' ( ) + , - . / : = ? "
                                  "(the TSE refuses any other character)");
    }
    return {};
}

void Line(QByteArray& out, const char* key, const QByteArray& value)
{
    out += key;
    out += value;
    out += "\r\n";
}

}  // namespace

Encoded EncodeValue(const QByteArray& raw, TextEncoding encoding)
{
    if (encoding == TextEncoding::Bytes) return {raw, {}};
    QStringDecoder fromUtf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);  // a cut-off sequence is an error too
    const QString text = fromUtf8.decode(raw);
    if (fromUtf8.hasError()) return {{}, QStringLiteral("the value is no UTF-8 text")};
    QStringEncoder toAnsi("windows-1252");
    if (!toAnsi.isValid()) return {{}, QStringLiteral("this system has no Windows-1252 converter")};
    QByteArray bytes = toAnsi.encode(text);
    if (toAnsi.hasError()) return {{}, QStringLiteral("the value holds characters outside Windows-1252")};
    return {bytes, {}};
}

JobResult MakeJob(const Options& o, Command command)
{
    JobResult r;
    r.job.command = command;
    auto take = [&](const char* option, const QByteArray& raw, int maxBytes, QByteArray& into) {
        if (!r.error.isEmpty()) return;
        Encoded e = EncodeValue(raw, o.encoding);
        if (!e.error.isEmpty()) {
            r.error = QStringLiteral("%1: %2").arg(QLatin1String(option), e.error);
            return;
        }
        r.error = Checked(option, e.bytes, maxBytes);
        into = e.bytes;
    };
    take("--kasid", o.kasid, MaxKasIdBytes, r.job.kasid);
    if (r.error.isEmpty()) r.error = CheckedClientId(r.job.kasid);
    if (command == Command::Bon && o.bonid) take("--bonid", *o.bonid, MaxBonIdBytes, r.job.bonid.emplace());
    if ((command == Command::Bon || command == Command::Text) && o.sigtext)
        take("--sigtext", *o.sigtext, MaxSigTextBytes, r.job.sigtext.emplace());
    if (command == Command::Export) {
        r.job.von = o.von;  // digits only, checked with the arguments
        r.job.bis = o.bis;
    }
    return r;
}

QByteArray CommandWord(Command command)
{
    switch (command) {
    case Command::Bon: return "BON";
    case Command::Text: return "TEXT";
    case Command::Export: return "EXPORT";
    case Command::Status: return "STATUS";
    case Command::None: break;
    }
    return {};
}

QByteArray JobFileBytes(const Job& job)
{
    QByteArray out;
    Line(out, "CMD=", CommandWord(job.command));
    Line(out, "KASID=", job.kasid);
    if (job.bonid) Line(out, "BONID=", *job.bonid);
    if (job.sigtext) Line(out, "SIGTEXT=", *job.sigtext);
    if (job.von) Line(out, "VONTA=", *job.von);
    if (job.bis) Line(out, "BISTA=", *job.bis);
    out += "*EOF*\r\n";
    return out;
}

}  // namespace vokclient
