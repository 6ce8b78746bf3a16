// The checks and answers of the HTTP door as pure functions: no I/O, no
// clock, no state. The server calls them in this order: route, host, token,
// content type, body; the first that fails gives the answer.
#pragma once

#include "http/HttpJob.h"

#include <QByteArray>
#include <QString>

// An answer in the form of RFC 9457 (application/problem+json). status 0:
// no problem.
struct THttpProblem {
    int status = 0;
    QString type;    // a short name, sent as "urn:vok-tse:problem:<type>"
    QString title;
    QString detail;
    bool Ok() const { return status == 0; }
};

THttpProblem MakeProblem(int status, const QString& type, const QString& title, const QString& detail);
QByteArray ProblemJson(const THttpProblem& problem);

// What a path and method ask for.
struct THttpRoute {
    THttpKind kind = THttpKind::Health;
    QString id;               // for receipts, operations and exports
    bool needsToken = true;   // all but health and the contract
    bool hasBody = false;     // PUT
};

// 404 for an unknown path, 405 for a method the path does not take, 400 for
// an id outside [A-Za-z0-9_-]{1,64}. `path` is the decoded path without the
// query.
THttpProblem RouteRequest(const QByteArray& method, const QByteArray& path, THttpRoute& route);
bool IsValidId(const QByteArray& id);

// The Host header names this computer's loopback (localhost, 127.0.0.1,
// [::1], each with or without a port). Anything else is a name a web page
// could have pointed at us (DNS rebinding): 421.
bool IsLoopbackHost(const QByteArray& host);

// application/json, with at most a charset parameter of utf-8.
bool IsJsonContentType(const QByteArray& contentType);

// "Prefer: wait=N" (RFC 7240) in seconds, else the default; at most maxS.
int WaitSeconds(const QByteArray& prefer, int defaultS, int maxS);

// The body of a PUT: one JSON object with exactly the keys of its kind,
// each a string, no key twice. 400 for what is not such an object, 422 for
// a value the job file could not carry. On success the job's fields and
// sha256 are set; job.kind must be set before.
THttpProblem ParseJobBody(const QByteArray& body, THttpJob& job);

// The first key that stands twice at the top level of a JSON object (as it
// reads after its escapes), or an empty string. `json` must be valid JSON.
QString DuplicateTopLevelKey(const QByteArray& json);

// SHA-256 (hex) of what makes a request the same request: its kind and its
// fields, not the spelling of its JSON.
std::string CanonicalSha256(const THttpJob& job);

// The answer to a finished or failed job, and to one still pending.
QByteArray ResultJson(const THttpResult& result);
QByteArray PendingJson(const QString& id);
// Where a job's result is read: /v1/receipts/{id} and the like.
QByteArray LocationOf(THttpKind kind, const QString& id);
