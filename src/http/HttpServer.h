// The local HTTP/JSON door: libmicrohttpd on its own polling thread.
//
// The door never calls the TSE. It checks a request (Host, route, token,
// content type, size, JSON, values the job file can carry, the client's id
// against what it answered before) and hands a THttpJob to the callback; the
// callback's owner answers later, from any thread, through the TReply it
// got, and the waiting connection is resumed with that answer.
//
// Wiring, for the service:
//   THttpConfig cfg;  cfg.port = HTTP_PORT; cfg.tokenFile = dir + "/Vok_TSE.token";
//                     cfg.storeFile = dir + "/Vok_TSE.http"; cfg.log = ...;
//   THttpServer door(cfg, [&](THttpJob job, TReply reply) { queue.Post(job, reply); });
//   QString why;  if (door.Start(why) == THttpStart::Closed) Log(why);
//   ... later, from the job's thread:
//   reply.Answer(200, {}, ResultJson(result));   // or 503 + Retry-After: nothing kept
//   door.Stop();                                 // before the queue goes away
//
// The callback runs on the door's thread and must only hand the job on. It
// gets receipts, operations and exports (PUT; GET only through the store),
// status and health (GET). Each job is handed on once per run of the
// service; a repeated PUT of a job still pending waits for the same answer.
//
// What the owner's answer does:
//   - 2xx to a job with an id: the body is kept in the store and is the
//     answer to every repeat of the same id and content ("Idempotent-
//     Replayed: true"), for 48 h at least.
//   - anything else to a job with an id: the id is forgotten and may be used
//     again (the job reached no TSE: 503 with Retry-After).
//   - a TReply dropped without an answer counts as 503: nothing kept.
// Not answered within HTTP_WAIT_S (or "Prefer: wait=N"): the door answers
// 202 {"id","state":"PENDING"} with Location itself; the owner's late answer
// is still kept for the repeat. Status and health not answered in time: 503.
#pragma once

#include "http/HttpJob.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

struct THttpConfig {
    int port = 0;                // 0: the door stays shut (HTTP_PORT missing or 0)
    bool anyPort = false;        // tests: a free port of the system's choice (see Port())
    QString bind = QStringLiteral("127.0.0.1");  // HTTP_BIND; "::1" for IPv6
    QString tokenFile;           // HTTP_TOKEN_FILE, full path
    QString storeFile;           // the answers kept for repeats, full path
    int waitS = 5;               // HTTP_WAIT_S
    int maxWaitS = 60;           // the most a "Prefer: wait" may ask for
    int64_t maxBody = 4096;      // HTTP_MAX_BODY; larger: 413, not read
    int idleTimeoutS = 10;       // an idle connection is closed after this
    int maxConnections = 256;    // more at once are closed on arrival
    size_t connectionMemory = 16 * 1024;  // per connection, for its headers
    // Lines for the program log (never the token); called from the door's
    // threads and from the thread that answers.
    std::function<void(const QString&)> log;
};

using THttpHeaders = QList<QPair<QByteArray, QByteArray>>;

class THttpCore;

// The one answer to one handed-on job. Copies share it; only the first
// Answer counts. Safe from any thread, also after the client hung up or the
// door stopped (then it does nothing and returns false).
class TReply {
public:
    TReply() = default;
    // Content-Type is application/json unless `headers` names another.
    bool Answer(int status, const THttpHeaders& headers, const QByteArray& body) const;

    struct State;
    explicit TReply(std::shared_ptr<State> state) : state_(std::move(state)) {}

private:
    std::shared_ptr<State> state_;
};

using THttpJobHandler = std::function<void(THttpJob, TReply)>;

enum class THttpStart {
    Running,  // listening
    Off,      // port 0: nothing to do
    Closed,   // could not open: the reason says why (token file, store, port)
};

class THttpServer {
public:
    THttpServer(THttpConfig config, THttpJobHandler onJob);
    ~THttpServer();  // stops
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    THttpStart Start(QString& reason);
    // Waiting clients get 503; answers given later are dropped.
    void Stop();
    bool IsRunning() const;
    // The port it listens on (the system's choice with anyPort), 0 when not.
    uint16_t Port() const;

private:
    std::shared_ptr<THttpCore> core_;
};
