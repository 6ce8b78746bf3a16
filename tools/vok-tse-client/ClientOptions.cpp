#include "vok-tse-client/ClientOptions.h"

#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <cmath>
#include <map>

namespace vokclient {

namespace {

enum class Opt { Dir, Name, Timeout, Encoding, Kasid, Bonid, Sigtext, Von, Bis };

const std::map<QByteArray, Opt>& ValueOptions()
{
    static const std::map<QByteArray, Opt> table = {
        {"--dir", Opt::Dir},         {"--name", Opt::Name},   {"--timeout", Opt::Timeout},
        {"--encoding", Opt::Encoding}, {"--kasid", Opt::Kasid}, {"--bonid", Opt::Bonid},
        {"--sigtext", Opt::Sigtext}, {"--von", Opt::Von},     {"--bis", Opt::Bis},
    };
    return table;
}

QString Text(const QByteArray& b) { return QString::fromLocal8Bit(b); }

// Transaction numbers the service reads as signed 32-bit decimals.
bool IsTransactionNumber(const QByteArray& v)
{
    if (v.isEmpty() || v.size() > 10) return false;
    for (char c : v)
        if (c < '0' || c > '9') return false;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    return ok && n <= 2147483647LL;
}

bool IsValidJobName(const QString& n)
{
    if (n.isEmpty() || n == QLatin1String(".") || n == QLatin1String("..")) return false;
    if (n.startsWith(QLatin1Char('.'))) return false;  // reserved for the client's temporary files
    for (QChar c : n)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20) return false;
    return true;
}

QString Apply(Options& o, Opt opt, const QByteArray& v)
{
    switch (opt) {
    case Opt::Dir:
        if (v.isEmpty()) return QStringLiteral("--dir needs a directory");
        o.dir = QFile::decodeName(v);
        break;
    case Opt::Name:
        o.name = QFile::decodeName(v);
        if (!IsValidJobName(o.name)) return QStringLiteral("--name '%1' is no valid job name").arg(o.name);
        break;
    case Opt::Timeout: {
        bool ok = false;
        const double s = v.toDouble(&ok);
        if (!ok || !std::isfinite(s) || s <= 0 || s > 86400)
            return QStringLiteral("--timeout needs a number of seconds above 0, got '%1'").arg(Text(v));
        o.timeoutSeconds = s;
        break;
    }
    case Opt::Encoding: {
        const QByteArray e = v.toLower();
        if (e == "cp1252" || e == "windows-1252")
            o.encoding = TextEncoding::Cp1252;
        else if (e == "utf-8" || e == "utf8" || e == "bytes")
            o.encoding = TextEncoding::Bytes;
        else
            return QStringLiteral("--encoding must be cp1252 or utf-8, got '%1'").arg(Text(v));
        break;
    }
    case Opt::Kasid: o.kasid = v; break;
    case Opt::Bonid: o.bonid = v; break;
    case Opt::Sigtext: o.sigtext = v; break;
    case Opt::Von: o.von = v; break;
    case Opt::Bis: o.bis = v; break;
    }
    return {};
}

// What each command takes besides the general options.
QString CheckCommand(const Options& o)
{
    const bool isBon = o.command == Command::Bon;
    const bool signs = isBon || o.command == Command::Text;
    const bool exports = o.command == Command::Export;
    if (o.kasid.isEmpty()) return QStringLiteral("--kasid is required");
    if (o.bonid && !isBon) return QStringLiteral("--bonid belongs to bon");
    if (o.qr && !isBon) return QStringLiteral("--qr belongs to bon");
    if (o.sigtext && !signs) return QStringLiteral("--sigtext belongs to bon and text");
    if (signs && !o.sigtext) return QStringLiteral("--sigtext is required");
    if ((o.von || o.bis) && !exports) return QStringLiteral("--von and --bis belong to export");
    if (o.von && !IsTransactionNumber(*o.von))
        return QStringLiteral("--von needs a transaction number, got '%1'").arg(Text(*o.von));
    if (o.bis && !IsTransactionNumber(*o.bis))
        return QStringLiteral("--bis needs a transaction number, got '%1'").arg(Text(*o.bis));
    return {};
}

}  // namespace

ParseResult ParseArguments(const std::vector<QByteArray>& args)
{
    ParseResult r;
    Options& o = r.options;
    for (size_t i = 0; i < args.size(); ++i) {
        const QByteArray& a = args[i];
        if (a == "-h" || a == "--help") {
            o.help = true;
            return r;
        }
        if (a == "--keep") { o.keep = true; continue; }
        if (a == "--json") { o.json = true; continue; }
        if (a == "--qr") { o.qr = true; continue; }
        if (a.startsWith("--")) {
            const int eq = a.indexOf('=');
            const QByteArray key = eq < 0 ? a : a.left(eq);
            const auto it = ValueOptions().find(key);
            if (it == ValueOptions().end()) {
                r.error = QStringLiteral("unknown option %1").arg(Text(key));
                return r;
            }
            QByteArray value;
            if (eq >= 0) {
                value = a.mid(eq + 1);
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                r.error = QStringLiteral("%1 needs a value").arg(Text(key));
                return r;
            }
            r.error = Apply(o, it->second, value);
            if (!r.ok()) return r;
            continue;
        }
        if (o.command != Command::None) {
            r.error = QStringLiteral("unexpected argument '%1'").arg(Text(a));
            return r;
        }
        if (a == "bon") o.command = Command::Bon;
        else if (a == "text") o.command = Command::Text;
        else if (a == "export") o.command = Command::Export;
        else if (a == "status") o.command = Command::Status;
        else {
            r.error = QStringLiteral("unknown command '%1'").arg(Text(a));
            return r;
        }
    }
    if (o.command == Command::None) {
        r.error = QStringLiteral("no command given (bon, text, export or status)");
        return r;
    }
    r.error = CheckCommand(o);
    return r;
}

QString DefaultJobName()
{
    QString host = QSysInfo::machineHostName();
    for (QChar& c : host)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_')) c = QLatin1Char('_');
    if (host.isEmpty()) host = QStringLiteral("client");
    return host + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid());
}

QString UsageText()
{
    return QStringLiteral(
        "usage: vok-tse-client [--dir JOBDIR] [--name JOBNAME] [--timeout SECONDS] [--keep] [--json]\n"
        "                      [--encoding utf-8|cp1252]\n"
        "         bon --kasid ID [--bonid N] --sigtext TEXT [--qr]\n"
        "       | text --kasid ID --sigtext TEXT\n"
        "       | export --kasid ID [--von N] [--bis N]\n"
        "       | status --kasid ID\n"
        "       vok-tse-client [--dir JOBDIR] health [--json | --prometheus]\n"
        "       vok-tse-client verify [--json] [--from N] [--threads N] FILE.TAR...\n"
        "\n"
        "Writes one job into JOBDIR (default ./TSE), waits for its answer, prints it and\n"
        "removes it (unless --keep). --json prints the answer as one JSON object.\n"
        "bon --qr also prints the receipt's DSFinV-K QR-code text (a status job runs first).\n"
        "Exit codes: 0 OK, 1 ERR answer or TSE offline, 2 no answer in time (default 30 s),\n"
        "64 wrong call, 74 the job could not be written or the answer not read.\n"
        "health reads the service's status file in JOBDIR: 0 healthy, 1 degraded, 2 not running.\n"
        "verify checks a series of TSE export archives (certificates, signatures, names,\n"
        "gapless signature counters from 1, or from N with --from): 0 nothing wrong,\n"
        "1 findings, 74 an archive unreadable.\n");
}

}  // namespace vokclient
