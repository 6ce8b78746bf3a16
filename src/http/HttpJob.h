// What the HTTP door hands to the service, and what the service hands back
// for a signed job. Plain values: no I/O, no TSE.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

enum class THttpKind {
    Receipt,    // PUT/GET /v1/receipts/{id}: a BON
    Operation,  // PUT/GET /v1/operations/{id}: a TEXT
    Export,     // PUT/GET /v1/exports/{id}: an EXPORT
    Status,     // GET /v1/status
    Health,     // GET /v1/health (no token)
    OpenApi,    // GET /v1/openapi.json (served by the door itself)
};

// The path segment of a kind with an id ("receipts"), empty for the others.
QString KindPath(THttpKind kind);
// One letter for records ('R', 'O', 'E'), '?' for the kinds without an id.
char KindLetter(THttpKind kind);

// A request that passed every check of the door. Field values are exactly
// what the job file will carry: no CR, LF or NUL, within its lengths, and
// Windows-1252 can hold every character.
struct THttpJob {
    QString method;      // "PUT" or "GET"
    THttpKind kind = THttpKind::Health;
    QString id;          // client's id, [A-Za-z0-9_-]{1,64}; empty for Status/Health
    QString kasid;       // receipts, operations, exports
    QString bonid;       // receipts, may be empty
    QString sigtext;     // receipts, operations
    QString von;         // exports, may be empty
    QString bis;         // exports, may be empty
    std::string sha256;  // of the canonical request (kind and fields), hex; PUT only
    // A PUT whose id the store already held as pending from before a
    // restart: the service looks in its journal before it signs.
    bool repeated = false;
};

// The values of a job's answer, as the job file's answer carries them.
struct THttpResult {
    QString id;
    bool finished = false;       // "FINISHED", else "FAILED"
    QString kasid;
    QString bonid;
    QString sigtext;
    QString start;               // the answer's START, e.g. 2026-12-10T09:15:02.000Z
    QString end;                 // its ENDE
    uint64_t transactionNumber = 0;
    uint64_t signatureCounter = 0;
    QString signature;           // as the answer's SIG
    QString result;              // "OK" or the error text, e.g. "ERR 1004h"
};
