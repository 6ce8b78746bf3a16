#include "http/HttpServer.h"

#include "http/HttpRequests.h"
#include "http/HttpToken.h"
#include "http/IdempotencyStore.h"

#include <QFile>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <map>
#include <microhttpd.h>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// One suspended connection and the answer it will be resumed with. Shared
// by the connection's request (freed when MHD completes it) and the lists of
// what waits, so neither outlives the other's use of it.
struct Waiter {
    MHD_Connection* conn = nullptr;  // set while suspended, never touched after the resume
    bool ready = false;
    int status = 0;
    THttpHeaders headers;
    QByteArray body;
    Clock::time_point deadline;
    THttpKind kind = THttpKind::Health;
    QString id;
};

struct Request {
    bool begun = false;
    THttpRoute route;
    QByteArray body;
    bool bodyTooLarge = false;
    int waitS = 0;
    std::shared_ptr<Waiter> waiter;  // once suspended
};

bool HasId(THttpKind kind)
{
    return kind == THttpKind::Receipt || kind == THttpKind::Operation || kind == THttpKind::Export;
}

QByteArray Header(MHD_Connection* conn, const char* name)
{
    const char* v = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, name);
    return v == nullptr ? QByteArray() : QByteArray(v);
}

MHD_Result Send(MHD_Connection* conn, int status, const THttpHeaders& headers, const QByteArray& body,
                const char* contentType = "application/json")
{
    MHD_Response* r = MHD_create_response_from_buffer(static_cast<size_t>(body.size()),
                                                      const_cast<char*>(body.constData()), MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) return MHD_NO;
    bool typed = false;
    for (const auto& [name, value] : headers) {
        typed = typed || name.compare("Content-Type", Qt::CaseInsensitive) == 0;
        MHD_add_response_header(r, name.constData(), value.constData());
    }
    if (!typed) MHD_add_response_header(r, "Content-Type", contentType);
    const MHD_Result res = MHD_queue_response(conn, static_cast<unsigned>(status), r);
    MHD_destroy_response(r);
    return res;
}

MHD_Result SendProblem(MHD_Connection* conn, const THttpProblem& p, THttpHeaders headers = {})
{
    return Send(conn, p.status, headers, ProblemJson(p), "application/problem+json");
}

QByteArray OpenApiBytes()
{
    QFile f(QStringLiteral(":/http/openapi.json"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

struct TReply::State {
    std::weak_ptr<THttpCore> core;
    THttpKind kind = THttpKind::Health;
    QString id;
    std::shared_ptr<Waiter> waiter;  // status and health: the one connection
    std::once_flag once;
    bool answered = false;
    ~State();
};

class THttpCore : public std::enable_shared_from_this<THttpCore> {
public:
    THttpCore(THttpConfig config, THttpJobHandler onJob) : cfg_(std::move(config)), onJob_(std::move(onJob)) {}

    THttpStart Start(QString& reason);
    void Stop();
    bool IsRunning() const
    {
        std::lock_guard lock(m_);
        return daemon_ != nullptr;
    }
    uint16_t Port() const
    {
        std::lock_guard lock(m_);
        return port_;
    }
    // False once the door has stopped: the answer goes nowhere.
    bool Deliver(TReply::State& reply, int status, const THttpHeaders& headers, const QByteArray& body);

private:
    static MHD_Result OnRequest(void* cls, MHD_Connection* conn, const char* url, const char* method,
                                const char* version, const char* upload, size_t* uploadSize, void** conCls);
    static void OnCompleted(void* cls, MHD_Connection* conn, void** conCls, MHD_RequestTerminationCode code);

    MHD_Result Begin(MHD_Connection* conn, Request& req, const QByteArray& url, const QByteArray& method);
    MHD_Result Finish(MHD_Connection* conn, Request& req);
    MHD_Result FinishWithId(MHD_Connection* conn, Request& req, const QByteArray& method);
    // Suspends the connection until an answer or its deadline. Under m_.
    std::shared_ptr<Waiter> Suspend(MHD_Connection* conn, Request& req);
    void HandOn(THttpJob job, const std::shared_ptr<Waiter>& waiter);
    void Resume(Waiter& w, int status, const THttpHeaders& headers, const QByteArray& body);  // under m_
    void RunDeadlines();
    void Log(const QString& line) const
    {
        if (cfg_.log) cfg_.log(line);
    }

    const THttpConfig cfg_;
    const THttpJobHandler onJob_;
    mutable std::mutex m_;
    std::condition_variable wake_;
    bool stopping_ = false;
    MHD_Daemon* daemon_ = nullptr;
    uint16_t port_ = 0;
    std::string token_;
    TIdempotencyStore store_;
    // Jobs handed on in this run and not yet answered: the connections that
    // wait for each.
    std::map<QString, std::vector<std::shared_ptr<Waiter>>> inFlight_;
    std::set<std::shared_ptr<Waiter>> suspended_;
    std::thread deadlines_;
};

TReply::State::~State()
{
    // Dropped unanswered: as if the job had reached no TSE.
    if (answered) return;
    if (const auto c = core.lock())
        c->Deliver(*this, 503, {{"Retry-After", "1"}},
                   ProblemJson(MakeProblem(503, "not-answered", "Service Unavailable",
                                           "The service gave no answer; nothing was signed.")));
}

bool TReply::Answer(int status, const THttpHeaders& headers, const QByteArray& body) const
{
    if (!state_) return false;
    bool first = false;
    std::call_once(state_->once, [&] { first = true; });
    if (!first) return false;
    state_->answered = true;
    const auto core = state_->core.lock();
    return core && core->Deliver(*state_, status, headers, body);
}

THttpStart THttpCore::Start(QString& reason)
{
    reason.clear();
    if (IsRunning()) return THttpStart::Running;
    if (cfg_.port == 0 && !cfg_.anyPort) return THttpStart::Off;
    if (LoadOrCreateToken(cfg_.tokenFile, token_, reason) != 0) return THttpStart::Closed;
    if (const int err = store_.Open(cfg_.storeFile); err != 0) {
        reason = "HTTP: Antwortspeicher " + cfg_.storeFile + " nicht beschreibbar, Err=" + QString::number(err) +
                 ", die HTTP-Schnittstelle bleibt geschlossen";
        return THttpStart::Closed;
    }
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    const sockaddr* addr = nullptr;
    unsigned flags = MHD_USE_AUTO | MHD_USE_INTERNAL_POLLING_THREAD | MHD_ALLOW_SUSPEND_RESUME;
    const QByteArray bind = cfg_.bind.toLatin1();
    const uint16_t port = cfg_.anyPort ? 0 : static_cast<uint16_t>(cfg_.port);
    if (inet_pton(AF_INET, bind.constData(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        addr = reinterpret_cast<const sockaddr*>(&v4);
    } else if (inet_pton(AF_INET6, bind.constData(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        addr = reinterpret_cast<const sockaddr*>(&v6);
        flags |= MHD_USE_IPv6;
    } else {
        reason = "HTTP: HTTP_BIND=" + cfg_.bind + " ist keine IP-Adresse, die HTTP-Schnittstelle bleibt geschlossen";
        store_.Close();
        return THttpStart::Closed;
    }
    {
        std::lock_guard lock(m_);
        stopping_ = false;
    }
    MHD_Daemon* d = MHD_start_daemon(
        flags, port, nullptr, nullptr, &THttpCore::OnRequest, this,                                    //
        MHD_OPTION_SOCK_ADDR, addr,                                                                  //
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(cfg_.maxConnections),                    //
        MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(cfg_.idleTimeoutS),                    //
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, cfg_.connectionMemory,                                  //
        MHD_OPTION_NOTIFY_COMPLETED, &THttpCore::OnCompleted, this,                                 //
        MHD_OPTION_END);
    if (d == nullptr) {
        reason = "HTTP: Port " + QString::number(port) + " auf " + cfg_.bind +
                 " nicht zu öffnen, die HTTP-Schnittstelle bleibt geschlossen";
        store_.Close();
        return THttpStart::Closed;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(d, MHD_DAEMON_INFO_BIND_PORT);
    {
        std::lock_guard lock(m_);
        daemon_ = d;
        port_ = info != nullptr ? info->port : port;
    }
    deadlines_ = std::thread([this] { RunDeadlines(); });
    return THttpStart::Running;
}

void THttpCore::Stop()
{
    MHD_Daemon* d = nullptr;
    {
        std::lock_guard lock(m_);
        if (daemon_ == nullptr) return;
        stopping_ = true;
        // MHD may not be stopped while a connection is suspended.
        const QByteArray body = ProblemJson(MakeProblem(503, "stopping", "Service Unavailable",
                                                        "The service is ending; ask again."));
        for (const auto& w : suspended_) Resume(*w, 503, {{"Retry-After", "5"}}, body);
        suspended_.clear();
        inFlight_.clear();
        d = daemon_;
    }
    wake_.notify_all();
    if (deadlines_.joinable()) deadlines_.join();
    MHD_stop_daemon(d);
    std::lock_guard lock(m_);
    daemon_ = nullptr;
    port_ = 0;
    store_.Close();
}

void THttpCore::Resume(Waiter& w, int status, const THttpHeaders& headers, const QByteArray& body)
{
    if (w.conn == nullptr) return;
    w.status = status;
    w.headers = headers;
    w.body = body;
    w.ready = true;
    MHD_Connection* conn = w.conn;
    w.conn = nullptr;
    MHD_resume_connection(conn);
}

bool THttpCore::Deliver(TReply::State& reply, int status, const THttpHeaders& headers, const QByteArray& body)
{
    std::lock_guard lock(m_);
    if (daemon_ == nullptr || stopping_) return false;
    if (reply.waiter) {
        suspended_.erase(reply.waiter);
        Resume(*reply.waiter, status, headers, body);
        return true;
    }
    const std::string id = reply.id.toStdString();
    if (status >= 200 && status < 300) {
        if (const int err = store_.Answer(id, status, body.toStdString()); err != 0)
            Log("HTTP: Antwort für " + reply.id + " nicht gespeichert, Err=" + QString::number(err));
    } else if (const int err = store_.Forget(id); err != 0) {
        Log("HTTP: " + reply.id + " nicht freigegeben, Err=" + QString::number(err));
    }
    const auto it = inFlight_.find(reply.id);
    if (it == inFlight_.end()) return true;
    for (const auto& w : it->second) {
        suspended_.erase(w);
        Resume(*w, status, headers, body);
    }
    inFlight_.erase(it);
    return true;
}

std::shared_ptr<Waiter> THttpCore::Suspend(MHD_Connection* conn, Request& req)
{
    auto w = std::make_shared<Waiter>();
    w->conn = conn;
    w->kind = req.route.kind;
    w->id = req.route.id;
    w->deadline = Clock::now() + std::chrono::seconds(req.waitS);
    req.waiter = w;
    MHD_suspend_connection(conn);
    suspended_.insert(w);
    wake_.notify_all();
    return w;
}

void THttpCore::HandOn(THttpJob job, const std::shared_ptr<Waiter>& waiter)
{
    auto state = std::make_shared<TReply::State>();
    state->core = weak_from_this();
    state->kind = job.kind;
    state->id = job.id;
    if (!HasId(job.kind)) state->waiter = waiter;
    if (onJob_) onJob_(std::move(job), TReply(std::move(state)));
}

void THttpCore::RunDeadlines()
{
    std::unique_lock lock(m_);
    while (!stopping_) {
        auto next = Clock::time_point::max();
        const auto now = Clock::now();
        for (auto it = suspended_.begin(); it != suspended_.end();) {
            Waiter& w = **it;
            if (w.deadline > now) {
                next = std::min(next, w.deadline);
                ++it;
                continue;
            }
            if (HasId(w.kind)) {
                // The job goes on; its answer is kept for the repeat.
                auto& waiting = inFlight_[w.id];
                std::erase(waiting, *it);
                Resume(w, 202, {{"Location", LocationOf(w.kind, w.id)}, {"Retry-After", "1"}}, PendingJson(w.id));
            } else {
                Resume(w, 503, {{"Retry-After", "1"}},
                       ProblemJson(MakeProblem(503, "no-answer", "Service Unavailable",
                                               "The service did not answer in time.")));
            }
            it = suspended_.erase(it);
        }
        if (next == Clock::time_point::max()) wake_.wait(lock);
        else wake_.wait_until(lock, next);
    }
}

MHD_Result THttpCore::OnRequest(void* cls, MHD_Connection* conn, const char* url, const char* method,
                                const char*, const char* upload, size_t* uploadSize, void** conCls)
{
    auto* self = static_cast<THttpCore*>(cls);
    auto* req = static_cast<Request*>(*conCls);
    if (req == nullptr) {
        req = new Request;
        *conCls = req;
    }
    if (!req->begun) {
        req->begun = true;
        return self->Begin(conn, *req, QByteArray(url), QByteArray(method));
    }
    if (*uploadSize > 0) {
        // The length was checked against the bound; a body longer than it
        // said is not gathered beyond the bound either.
        if (req->body.size() + static_cast<qsizetype>(*uploadSize) > self->cfg_.maxBody) req->bodyTooLarge = true;
        else req->body.append(upload, static_cast<qsizetype>(*uploadSize));
        *uploadSize = 0;
        return MHD_YES;
    }
    if (req->waiter) {
        std::lock_guard lock(self->m_);
        if (!req->waiter->ready) return MHD_YES;
        return Send(conn, req->waiter->status, req->waiter->headers, req->waiter->body);
    }
    return self->Finish(conn, *req);
}

void THttpCore::OnCompleted(void* cls, MHD_Connection*, void** conCls, MHD_RequestTerminationCode)
{
    auto* self = static_cast<THttpCore*>(cls);
    auto* req = static_cast<Request*>(*conCls);
    if (req == nullptr) return;
    if (req->waiter) {
        std::lock_guard lock(self->m_);
        req->waiter->conn = nullptr;
        self->suspended_.erase(req->waiter);
    }
    delete req;
    *conCls = nullptr;
}

MHD_Result THttpCore::Begin(MHD_Connection* conn, Request& req, const QByteArray& url, const QByteArray& method)
{
    if (!IsLoopbackHost(Header(conn, "Host")))
        return SendProblem(conn, MakeProblem(421, "not-loopback", "Misdirected Request",
                                             "This door answers only requests to localhost, 127.0.0.1 or [::1]."));
    const THttpProblem routed = RouteRequest(method, url, req.route);
    if (!routed.Ok()) {
        THttpHeaders h;
        if (routed.status == 405) h.append(qMakePair(QByteArray("Allow"), QByteArray(HasId(req.route.kind) ? "GET, PUT" : "GET")));
        return SendProblem(conn, routed, h);
    }
    if (req.route.needsToken && !BearerMatches(token_, Header(conn, "Authorization").toStdString()))
        return SendProblem(conn, MakeProblem(401, "unauthorized", "Unauthorized",
                                             "Send the service's token as \"Authorization: Bearer <token>\"."),
                           {{"WWW-Authenticate", "Bearer"}});
    req.waitS = WaitSeconds(Header(conn, "Prefer"), cfg_.waitS, cfg_.maxWaitS);
    // An export takes minutes: its PUT is answered 202 at once, its GET
    // tells when the archive is there and which file it is.
    if (req.route.kind == THttpKind::Export) req.waitS = 0;
    if (!req.route.hasBody) return MHD_YES;
    if (!IsJsonContentType(Header(conn, "Content-Type")))
        return SendProblem(conn, MakeProblem(415, "unsupported-media-type", "Unsupported Media Type",
                                             "The body must be application/json."));
    const QByteArray length = Header(conn, "Content-Length");
    bool numeric = false;
    const qint64 size = length.toLongLong(&numeric);
    if (!numeric)
        return SendProblem(conn, MakeProblem(411, "length-required", "Length Required",
                                             "A body is sent with its Content-Length."));
    if (size > cfg_.maxBody)
        return SendProblem(conn, MakeProblem(413, "too-large", "Content Too Large",
                                             QStringLiteral("A body has at most %1 bytes.").arg(cfg_.maxBody)));
    return MHD_YES;
}

MHD_Result THttpCore::Finish(MHD_Connection* conn, Request& req)
{
    const QByteArray method = req.route.hasBody ? "PUT" : "GET";
    if (req.bodyTooLarge)
        return SendProblem(conn, MakeProblem(413, "too-large", "Content Too Large",
                                             QStringLiteral("A body has at most %1 bytes.").arg(cfg_.maxBody)));
    if (req.route.kind == THttpKind::OpenApi) return Send(conn, 200, {}, OpenApiBytes());
    if (HasId(req.route.kind)) return FinishWithId(conn, req, method);
    THttpJob job;
    job.method = "GET";
    job.kind = req.route.kind;
    std::shared_ptr<Waiter> w;
    {
        std::lock_guard lock(m_);
        w = Suspend(conn, req);
    }
    HandOn(std::move(job), w);
    return MHD_YES;
}

MHD_Result THttpCore::FinishWithId(MHD_Connection* conn, Request& req, const QByteArray& method)
{
    THttpJob job;
    job.method = QString::fromLatin1(method);
    job.kind = req.route.kind;
    job.id = req.route.id;
    if (method == "PUT") {
        const THttpProblem p = ParseJobBody(req.body, job);
        if (!p.Ok()) return SendProblem(conn, p);
    }
    const std::string id = job.id.toStdString();
    std::shared_ptr<Waiter> w;
    {
        std::lock_guard lock(m_);
        const TIdempotencyEntry* e = store_.Find(id);
        if (method == "GET") {
            if (e == nullptr || e->kind != KindLetter(job.kind))
                return SendProblem(conn, MakeProblem(404, "not-found", "Not Found", "No job has this id."));
            if (e->answered) return Send(conn, e->status, {}, QByteArray::fromStdString(e->answer));
            if (inFlight_.count(job.id) == 0)
                return Send(conn, 202, {{"Location", LocationOf(job.kind, job.id)}}, PendingJson(job.id));
            w = Suspend(conn, req);
            inFlight_[job.id].push_back(w);
            return MHD_YES;
        }
        if (e != nullptr && (e->kind != KindLetter(job.kind) || e->sha256 != job.sha256))
            return SendProblem(conn, MakeProblem(409, "id-taken", "Conflict",
                                                 "The id " + job.id + " was used for other content."));
        if (e != nullptr && e->answered)
            return Send(conn, e->status, {{"Idempotent-Replayed", "true"}}, QByteArray::fromStdString(e->answer));
        const bool handedOn = inFlight_.count(job.id) != 0;
        if (e == nullptr) {
            if (const int err = store_.Begin(id, KindLetter(job.kind), job.sha256); err != 0) {
                Log("HTTP: " + job.id + " nicht angenommen, Err=" + QString::number(err));
                return SendProblem(conn,
                                   MakeProblem(503, "store-unavailable", "Service Unavailable",
                                               "The answer could not be kept; nothing was signed."),
                                   {{"Retry-After", "5"}});
            }
        } else {
            job.repeated = !handedOn;
        }
        w = Suspend(conn, req);
        inFlight_[job.id].push_back(w);
        if (handedOn) return MHD_YES;
    }
    HandOn(std::move(job), w);
    return MHD_YES;
}

THttpServer::THttpServer(THttpConfig config, THttpJobHandler onJob)
    : core_(std::make_shared<THttpCore>(std::move(config), std::move(onJob)))
{
}

THttpServer::~THttpServer()
{
    Stop();
}

THttpStart THttpServer::Start(QString& reason)
{
    return core_->Start(reason);
}

void THttpServer::Stop()
{
    core_->Stop();
}

bool THttpServer::IsRunning() const
{
    return core_->IsRunning();
}

uint16_t THttpServer::Port() const
{
    return core_->Port();
}
