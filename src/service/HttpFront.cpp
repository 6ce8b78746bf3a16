#include "service/HttpFront.h"

#include "core/Core.h"
#include "http/HttpRequests.h"
#include "jobs/HealthStatus.h"
#include "jobs/Jobs.h"
#include "core/TseConnection.h"
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QJsonDocument>
#include <QMap>

namespace {

const THttpHeaders kRetryLater = {{"Retry-After", "5"}};

QByteArray Problem(int status, const char* type, const QString& title, const QString& detail)
{
    return ProblemJson(MakeProblem(status, QString::fromLatin1(type), title, detail));
}

const THttpHeaders kProblemType = {{"Content-Type", "application/problem+json"}};

THttpHeaders RetryProblem()
{
    THttpHeaders h = kProblemType;
    h += kRetryLater;
    return h;
}

// The lines of an answer file as key and value; the first line's head too.
struct TAnswerLines {
    QString head;  // "CMD=BON OK", "CMD=EXPORT ERR 1004h"
    QMap<QString, QString> values;
    bool complete = false;
};

TAnswerLines ReadAnswer(const QByteArray& bytes)
{
    TAnswerLines a;
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    a.complete = !lines.isEmpty() && lines.last() == "*EOF*";
    if (lines.isEmpty()) return a;
    a.head = plat::AnsiToQ(lines.first().toStdString());
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const int eq = lines[i].indexOf('=');
        if (eq > 0) a.values.insert(QString::fromLatin1(lines[i].left(eq)), plat::AnsiToQ(lines[i].mid(eq + 1).toStdString()));
    }
    return a;
}

// The answer file answers this request, not an earlier one under the same
// id that the door has long forgotten.
bool SameRequest(const THttpJob& job, const TAnswerLines& a)
{
    if (a.values.value("KASID") != job.kasid) return false;
    if (job.kind == THttpKind::Export) return a.head.startsWith(QStringLiteral("CMD=EXPORT"));
    if (a.values.value("SIGTEXT") != job.sigtext) return false;
    if (job.kind == THttpKind::Receipt) return a.head.startsWith(QStringLiteral("CMD=BON")) && a.values.value("BONID") == job.bonid;
    return a.head.startsWith(QStringLiteral("CMD=TEXT"));
}

// A signing job that failed because the TSE could not be reached, before
// any transaction began.
bool ReachedNoTse(const TAnswerLines& a)
{
    const QString head = a.head;
    const int err = head.indexOf(QStringLiteral(" ERR "));
    if (err < 0 || a.values.value("TRANR", QStringLiteral("0")) != QStringLiteral("0")) return false;
    if (head.startsWith(QStringLiteral("CMD=EXPORT"))) return false;
    bool ok = false;
    const int code = head.mid(err + 5, 4).toInt(&ok, 16);
    return ok && TTseConnection::IsUnreachable(code);
}

// "OK" or the error text after the command ("ERR 1004h").
QString ResultText(const QString& head)
{
    const int blank = head.indexOf(u' ');
    return blank < 0 ? QString() : head.mid(blank + 1);
}

}  // namespace

THttpFront::THttpFront(TCore& core, std::function<void()> passSoon, QObject* parent)
    : QObject(parent), core_(core), passSoon_(std::move(passSoon))
{
}

THttpFront::~THttpFront()
{
    Stop();
}

void THttpFront::Start()
{
    if (core_.HttpPort == 0 || door_) return;
    if (!plat::DirectoryExists(core_.SpoolVerz)) {
        if (const int err = plat::CreateDir(core_.SpoolVerz)) {
            core_.Log("HTTP: " + core_.SpoolVerz + " nicht anlegbar, Err=" + QString::number(err));
            return;
        }
    }
    RemoveForgottenAnswers();
    // The TSE's fixed facts for the status answer, read while nothing else
    // uses the TSE.
    tseFacts_ = {};
    tseFacts_.insert("serial", QString::fromStdString(TseSN));
    tseFacts_.insert("public_key", QString::fromStdString(HexToBase64(tse_exportPublicKey(TseSN))));
    tseFacts_.insert("algorithm", plat::AnsiToQ(tse_getSignatureAlgorithm()));
    tseFacts_.insert("time_format", plat::AnsiToQ(tse_getTimeSyncVariant()));

    THttpConfig cfg;
    cfg.port = core_.HttpPort;
    cfg.bind = core_.HttpBind;
    cfg.tokenFile = plat::NativePath(core_.HttpTokenFile.isEmpty() ? core_.AktVerz + "\\Vok_TSE.token"
                                                                     : core_.HttpTokenFile);
    cfg.storeFile = plat::NativePath(core_.AktVerz + "\\Vok_TSE.http");
    cfg.waitS = core_.HttpWaitS;
    cfg.maxBody = core_.HttpMaxBody;
    TCore* core = &core_;
    cfg.log = [core](const QString& line) { core->Log(line); };
    // The door's thread only hands the request on, to the core's thread.
    door_ = std::make_unique<THttpServer>(cfg, [this](THttpJob job, TReply reply) {
        QMetaObject::invokeMethod(
            this, [this, job = std::move(job), reply]() mutable { OnJob(std::move(job), reply); },
            Qt::QueuedConnection);
    });
    QString why;
    switch (door_->Start(why)) {
    case THttpStart::Running:
        core_.Log(QStringLiteral("HTTP-Zugang offen auf ") + cfg.bind + ":" + QString::number(door_->Port()));
        break;
    case THttpStart::Off: door_.reset(); break;
    case THttpStart::Closed:
        core_.Log(why);
        door_.reset();
        break;
    }
}

// Answer files whose client never came back: once the door has forgotten
// the id (48 hours), a repeat is a new request, so they only fill the spool.
void THttpFront::RemoveForgottenAnswers()
{
    constexpr double kKeptDays = 2.0;
    QList<QByteArray> names;
    if (plat::FindEntries(core_.SpoolVerz, QStringLiteral("*.SIG"), names) != 0) return;
    const plat::TDateTime now = plat::Now();
    for (const QByteArray& name : names) {
        const plat::FsPath path(core_.SpoolVerz, name);
        plat::TDateTime written = 0;
        if (plat::FileModTime(path, written) != 0 || now - written <= kKeptDays) continue;
        if (plat::DeleteFile(path) == 0)
            core_.Log("HTTP: " + plat::DisplayName(name) + " nach 48 Stunden ohne Abholung entfernt");
    }
}

void THttpFront::Stop()
{
    if (door_) door_->Stop();
    door_.reset();
    waiting_.clear();
}

QByteArray THttpFront::SpoolBase(const THttpJob& job)
{
    return QByteArray(1, KindLetter(job.kind)) + '_' + job.id.toLatin1();
}

QByteArray THttpFront::JobText(const THttpJob& job)
{
    std::string t;
    auto line = [&t](const char* key, const QString& value) { t += key + plat::QToAnsi(value) + "\r\n"; };
    switch (job.kind) {
    case THttpKind::Receipt:
        t = "CMD=BON\r\n";
        line("KASID=", job.kasid);
        line("BONID=", job.bonid);
        line("SIGTEXT=", job.sigtext);
        break;
    case THttpKind::Operation:
        t = "CMD=TEXT\r\n";
        line("KASID=", job.kasid);
        line("SIGTEXT=", job.sigtext);
        break;
    case THttpKind::Export:
        t = "CMD=EXPORT\r\n";
        line("KASID=", job.kasid);
        if (!job.von.isEmpty()) line("VONTA=", job.von);
        if (!job.bis.isEmpty()) line("BISTA=", job.bis);
        break;
    default: return {};
    }
    t += "*EOF*\r\n";
    return QByteArray::fromStdString(t);
}

bool THttpFront::AnswerJson(const THttpJob& job, const QByteArray& answerFile, QByteArray& json)
{
    const TAnswerLines a = ReadAnswer(answerFile);
    if (!a.complete) return false;
    const QString result = ResultText(a.head);
    if (job.kind == THttpKind::Export) {
        QJsonObject o;
        o.insert("id", job.id);
        o.insert("state", result == QStringLiteral("OK") ? "FINISHED" : "FAILED");
        o.insert("kasid", a.values.value("KASID"));
        o.insert("from", a.values.value("VONTA").toLongLong());
        o.insert("to", a.values.value("BISTA").toLongLong());
        o.insert("file", a.values.value("DATEI"));
        o.insert("result", result);
        json = QJsonDocument(o).toJson(QJsonDocument::Compact);
        return true;
    }
    THttpResult r;
    r.id = job.id;
    r.finished = result == QStringLiteral("OK");
    r.kasid = a.values.value("KASID");
    r.bonid = a.values.value("BONID");
    r.sigtext = a.values.value("SIGTEXT");
    r.start = a.values.value("START");
    r.end = a.values.value("ENDE");
    r.transactionNumber = a.values.value("TRANR").toULongLong();
    r.signatureCounter = a.values.value("SIGNR").toULongLong();
    r.signature = a.values.value("SIG");
    r.result = result;
    json = ResultJson(r);
    return true;
}

void THttpFront::OnJob(THttpJob job, TReply reply)
{
    switch (job.kind) {
    case THttpKind::Status: AnswerStatus(reply); return;
    case THttpKind::Health: AnswerHealth(reply); return;
    case THttpKind::Receipt:
    case THttpKind::Operation:
    case THttpKind::Export: Take(std::move(job), reply); return;
    case THttpKind::OpenApi: return;  // the door serves it itself
    }
}

// An answer already in the spool (its job was signed before a restart, or
// before the client's repeat) is the answer; the file goes once the door
// keeps the answer.
bool THttpFront::AnswerFromSpool(const QByteArray& base, const THttpJob& job, TReply& reply)
{
    const plat::FsPath sig(core_.SpoolVerz, base + ".SIG");
    plat::File f;
    if (f.OpenRead(sig) != 0) return false;
    std::string bytes;
    const int err = f.Read(bytes, kJobFileLimit);
    f.Close();
    if (err != 0) return false;
    const QByteArray answer = QByteArray::fromStdString(bytes);
    if (!ReadAnswer(answer).complete) return false;
    if (!SameRequest(job, ReadAnswer(answer))) {
        core_.Log("HTTP: " + QString::fromLatin1(base) + ".SIG gehört zu einer früheren Anfrage und wird entfernt");
        (void)plat::DeleteFile(sig);
        return false;
    }
    if (ReachedNoTse(ReadAnswer(answer))) {
        // Nothing was begun: the id stays free for the client's next try.
        if (reply.Answer(503, RetryProblem(),
                         Problem(503, "tse-unavailable", QStringLiteral("Die TSE ist nicht erreichbar"),
                                 QStringLiteral("Nothing was signed; the same request may be sent again later."))))
            (void)plat::DeleteFile(sig);
        return true;
    }
    QByteArray json;
    (void)AnswerJson(job, answer, json);
    if (reply.Answer(200, {}, json)) (void)plat::DeleteFile(sig);
    return true;
}

void THttpFront::Take(THttpJob job, TReply reply)
{
    const QByteArray base = SpoolBase(job);
    if (AnswerFromSpool(base, job, reply)) return;
    const plat::FsPath jobFile(core_.SpoolVerz, base + ".TSE");
    const QByteArray text = JobText(job);
    if (plat::FileExists(jobFile)) {
        // Spooled before (a repeat after a restart): the pass answers it,
        // if it is this request; another one under the id waits its turn.
        plat::File f;
        std::string spooled;
        if (f.OpenRead(jobFile) == 0) (void)f.Read(spooled, kJobFileLimit);
        f.Close();
        if (QByteArray::fromStdString(spooled) != text) {
            reply.Answer(409, kProblemType,
                         Problem(409, "id-taken", QStringLiteral("Die Kennung ist vergeben"),
                                 QStringLiteral("An earlier request under this id is still being signed.")));
            return;
        }
        waiting_[base] = {std::move(job), reply};
        core_.SpoolChanged = true;
        passSoon_();
        return;
    }
    if (!CanSign()) {
        reply.Answer(503, RetryProblem(),
                     Problem(503, "tse-unavailable", QStringLiteral("Die TSE ist nicht erreichbar"),
                             QStringLiteral("Nothing was signed; the same request may be sent again later.")));
        return;
    }
    if (const int err = plat::ReplaceFileBytes(jobFile, text.toStdString(), plat::Visibility::OwnerOnly)) {
        core_.Log("HTTP: " + QString::fromLatin1(base) + ".TSE nicht schreibbar, Err=" + QString::number(err));
        reply.Answer(503, RetryProblem(),
                     Problem(503, "spool-unavailable", QStringLiteral("Der Auftrag kann nicht angenommen werden"),
                             QStringLiteral("Nothing was signed; the same request may be sent again later.")));
        return;
    }
    waiting_[base] = {std::move(job), reply};
    core_.SpoolChanged = true;
    passSoon_();
}

void THttpFront::CollectAnswers()
{
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (AnswerFromSpool(it->first, it->second.job, it->second.reply))
            it = waiting_.erase(it);
        else
            ++it;
    }
}

bool THttpFront::CanSign() const
{
    return core_.PollSwitchedOn && !core_.EndRequested() && !core_.Tse.Lost() &&
           !TseSN.empty();
}

void THttpFront::AnswerHealth(TReply reply)
{
    QJsonObject o;
    const bool ok = CanSign();
    o.insert("status", ok ? "ok" : "down");
    reply.Answer(ok ? 200 : 503, {}, QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void THttpFront::AnswerStatus(TReply reply)
{
    QJsonObject o;
    if (core_.JobState)
        o = QJsonDocument::fromJson(QByteArray::fromStdString(HealthJson(core_.JobState->Health, plat::Now()))).object();
    for (auto it = tseFacts_.begin(); it != tseFacts_.end(); ++it) o.insert(it.key(), it.value());
    reply.Answer(200, {}, QJsonDocument(o).toJson(QJsonDocument::Compact));
}
