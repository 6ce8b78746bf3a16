#include "http/HttpRequests.h"

#include "platform/Ansi.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <vector>

namespace {

struct FieldRule {
    const char* key;
    QString THttpJob::*value;
    int longest;     // characters, as the job file's key allows
    bool required;
    bool nonEmpty;
};

// The job file's lengths: KASID= 30, BONID= 10, SIGTEXT= 100, VONTA= and
// BISTA= 30. A longer value would be cut there; the door refuses it instead.
const std::vector<FieldRule>& RulesOf(THttpKind kind)
{
    static const std::vector<FieldRule> receipt{
        {"kasid", &THttpJob::kasid, 30, true, true},
        {"bonid", &THttpJob::bonid, 10, false, false},
        {"sigtext", &THttpJob::sigtext, 100, true, false},
    };
    static const std::vector<FieldRule> operation{
        {"kasid", &THttpJob::kasid, 30, true, true},
        {"sigtext", &THttpJob::sigtext, 100, true, false},
    };
    static const std::vector<FieldRule> exportJob{
        {"kasid", &THttpJob::kasid, 30, true, true},
        {"von", &THttpJob::von, 30, false, false},
        {"bis", &THttpJob::bis, 30, false, false},
    };
    static const std::vector<FieldRule> none;
    switch (kind) {
    case THttpKind::Receipt: return receipt;
    case THttpKind::Operation: return operation;
    case THttpKind::Export: return exportJob;
    default: return none;
    }
}

// Why the job file could not carry the value, or an empty string.
QString Uncarriable(const QString& value, int longest)
{
    for (const QChar c : value) {
        if (c == u'\r' || c == u'\n' || c == u'\0') return QStringLiteral("holds a line break or NUL");
    }
    if (plat::AnsiToQ(plat::QToAnsi(value)) != value)
        return QStringLiteral("holds a character Windows-1252 cannot hold");
    // Windows-1252 is one byte a character: the length in the job file.
    if (value.size() > longest)
        return QStringLiteral("is %1 characters long, at most %2 fit").arg(value.size()).arg(longest);
    return QString();
}

QByteArray Trimmed(const QByteArray& text)
{
    return text.trimmed();
}

bool AllDigits(QByteArrayView text)
{
    if (text.isEmpty()) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

THttpProblem MakeProblem(int status, const QString& type, const QString& title, const QString& detail)
{
    return THttpProblem{status, type, title, detail};
}

QByteArray ProblemJson(const THttpProblem& problem)
{
    QJsonObject o;
    o.insert("type", "urn:vok-tse:problem:" + problem.type);
    o.insert("title", problem.title);
    o.insert("status", problem.status);
    o.insert("detail", problem.detail);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool IsValidId(const QByteArray& id)
{
    if (id.isEmpty() || id.size() > 64) return false;
    for (const char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '-';
        if (!ok) return false;
    }
    return true;
}

THttpProblem RouteRequest(const QByteArray& method, const QByteArray& path, THttpRoute& route)
{
    route = THttpRoute{};
    const auto methodNotAllowed = [&](const char* allowed) {
        return MakeProblem(405, "method-not-allowed", "Method Not Allowed",
                           QString::fromLatin1(method) + " is not taken here; allowed: " + allowed);
    };
    if (path == "/v1/status" || path == "/v1/health" || path == "/v1/openapi.json") {
        route.kind = path == "/v1/status" ? THttpKind::Status
                     : path == "/v1/health" ? THttpKind::Health
                                            : THttpKind::OpenApi;
        route.needsToken = route.kind == THttpKind::Status;
        if (method != "GET") return methodNotAllowed("GET");
        return {};
    }
    const QList<QByteArray> parts = path.split('/');  // "", "v1", kind, id
    if (parts.size() == 4 && parts[0].isEmpty() && parts[1] == "v1") {
        const QByteArray& kind = parts[2];
        if (kind == "receipts") route.kind = THttpKind::Receipt;
        else if (kind == "operations") route.kind = THttpKind::Operation;
        else if (kind == "exports") route.kind = THttpKind::Export;
        else return MakeProblem(404, "not-found", "Not Found", "No such resource.");
        if (method != "GET" && method != "PUT") return methodNotAllowed("GET, PUT");
        if (!IsValidId(parts[3]))
            return MakeProblem(400, "invalid-id", "Invalid Id",
                               "An id is 1 to 64 of A-Z, a-z, 0-9, '_' and '-'.");
        route.id = QString::fromLatin1(parts[3]);
        route.hasBody = method == "PUT";
        return {};
    }
    return MakeProblem(404, "not-found", "Not Found", "No such resource.");
}

bool IsLoopbackHost(const QByteArray& hostHeader)
{
    QByteArray host = hostHeader.toLower();
    QByteArray name;
    if (host.startsWith('[')) {
        const qsizetype close = host.indexOf(']');
        if (close < 0) return false;
        name = host.left(close + 1);
        host = host.mid(close + 1);
    } else {
        const qsizetype colon = host.indexOf(':');
        name = colon < 0 ? host : host.left(colon);
        host = colon < 0 ? QByteArray() : host.mid(colon);
    }
    if (!host.isEmpty() && !(host.startsWith(':') && AllDigits(host.mid(1)))) return false;
    return name == "localhost" || name == "127.0.0.1" || name == "[::1]";
}

bool IsJsonContentType(const QByteArray& contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    if (Trimmed(parts[0]).toLower() != "application/json") return false;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = Trimmed(parts[i]).toLower();
        if (param != "charset=utf-8" && param != "charset=\"utf-8\"") return false;
    }
    return true;
}

int WaitSeconds(const QByteArray& prefer, int defaultS, int maxS)
{
    for (const QByteArray& item : prefer.split(',')) {
        const QByteArray pref = Trimmed(item.split(';').first()).toLower();
        if (!pref.startsWith("wait=")) continue;
        const QByteArray value = Trimmed(pref.mid(5));
        if (!AllDigits(value) || value.size() > 6) continue;
        return std::min(value.toInt(), maxS);
    }
    return std::min(defaultS, maxS);
}

QString DuplicateTopLevelKey(const QByteArray& json)
{
    QSet<QString> seen;
    int depth = 0;
    bool expectKey = false;
    for (qsizetype i = 0; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            const qsizetype begin = i;
            for (++i; i < json.size() && json[i] != '"'; ++i)
                if (json[i] == '\\') ++i;
            if (depth == 1 && expectKey) {
                // The key as it reads after its escapes ("k\u0061sid" is "kasid").
                const QJsonDocument one = QJsonDocument::fromJson("[" + json.mid(begin, i - begin + 1) + "]");
                const QString key = one.array().at(0).toString();
                if (seen.contains(key)) return key;
                seen.insert(key);
                expectKey = false;
            }
        } else if (c == '{' || c == '[') {
            ++depth;
            expectKey = depth == 1 && c == '{';
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ',' && depth == 1) {
            expectKey = true;
        }
    }
    return QString();
}

THttpProblem ParseJobBody(const QByteArray& body, THttpJob& job)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError)
        return MakeProblem(400, "malformed-json", "Malformed JSON",
                           err.errorString() + " at byte " + QString::number(err.offset) + ".");
    if (!doc.isObject())
        return MakeProblem(400, "malformed-json", "Malformed JSON", "The body must be one JSON object.");
    // QJsonDocument keeps the last of two equal keys without a word; two
    // values for one field must not be signed as either.
    const QString twice = DuplicateTopLevelKey(body);
    if (!twice.isEmpty())
        return MakeProblem(400, "duplicate-key", "Duplicate Key", "The key \"" + twice + "\" stands twice.");

    const QJsonObject obj = doc.object();
    const std::vector<FieldRule>& rules = RulesOf(job.kind);
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        const bool known = std::any_of(rules.begin(), rules.end(),
                                       [&](const FieldRule& r) { return it.key() == QLatin1String(r.key); });
        if (!known)
            return MakeProblem(400, "unknown-key", "Unknown Key",
                               "The key \"" + it.key() + "\" is not taken here.");
    }
    for (const FieldRule& r : rules) {
        const QJsonValue v = obj.value(QLatin1String(r.key));
        if (v.isUndefined()) {
            if (r.required)
                return MakeProblem(400, "missing-key", "Missing Key",
                                   QStringLiteral("The key \"%1\" is required.").arg(r.key));
            job.*r.value = QString();
            continue;
        }
        if (!v.isString())
            return MakeProblem(400, "wrong-type", "Wrong Type", QStringLiteral("\"%1\" must be a string.").arg(r.key));
        const QString value = v.toString();
        const QString why = Uncarriable(value, r.longest);
        if (!why.isEmpty())
            return MakeProblem(422, "value-not-carried", "Value Not Carried",
                               QStringLiteral("\"%1\" %2.").arg(r.key, why));
        if (r.nonEmpty && value.isEmpty())
            return MakeProblem(422, "value-not-carried", "Value Not Carried",
                               QStringLiteral("\"%1\" must not be empty.").arg(r.key));
        job.*r.value = value;
    }
    job.sha256 = CanonicalSha256(job);
    return {};
}

std::string CanonicalSha256(const THttpJob& job)
{
    // Values hold no line break, so one per line is unambiguous. An absent
    // optional value and an empty one are the same: the job file cannot
    // tell them apart either.
    QByteArray canonical(1, KindLetter(job.kind));
    canonical += '\n';
    for (const FieldRule& r : RulesOf(job.kind)) {
        canonical += r.key;
        canonical += '=';
        canonical += (job.*r.value).toUtf8();
        canonical += '\n';
    }
    return QCryptographicHash::hash(canonical, QCryptographicHash::Sha256).toHex().toStdString();
}

QByteArray ResultJson(const THttpResult& r)
{
    QJsonObject o;
    o.insert("id", r.id);
    o.insert("state", r.finished ? "FINISHED" : "FAILED");
    o.insert("kasid", r.kasid);
    o.insert("bonid", r.bonid);
    o.insert("sigtext", r.sigtext);
    o.insert("start", r.start);
    o.insert("end", r.end);
    o.insert("transaction_number", static_cast<qint64>(r.transactionNumber));
    o.insert("signature_counter", static_cast<qint64>(r.signatureCounter));
    o.insert("signature", r.signature);
    o.insert("result", r.result);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray PendingJson(const QString& id)
{
    QJsonObject o;
    o.insert("id", id);
    o.insert("state", "PENDING");
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray LocationOf(THttpKind kind, const QString& id)
{
    return ("/v1/" + KindPath(kind) + "/" + id).toUtf8();
}
