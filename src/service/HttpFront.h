// The service's side of the HTTP door. The door (src/http) checks a request
// on its own thread and hands it here, to the core's thread; a receipt, an
// operation or an export becomes a job file in the service's own spool
// directory (TSE_HTTP, written beside and renamed, on the disk before any
// TSE call) and goes the way of every job file: the journal, the answer
// file, the deletion. Its answer file is read back into the HTTP answer,
// which the door keeps for repeats; only then is the answer file removed.
//
// So a kill at any step leaves what the job directory's files leave: the
// journal settles the job at the next start, its answer file waits in the
// spool, and the client's repeat of the same id is answered from it. A
// request that cannot reach the TSE gets 503 and leaves nothing behind.
#pragma once

#include "http/HttpServer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

class TCore;

class THttpFront : public QObject {
    Q_OBJECT

public:
    // passSoon: asks the service for a job pass from the event loop.
    THttpFront(TCore& core, std::function<void()> passSoon, QObject* parent = nullptr);
    ~THttpFront() override;

    // Opens the door with the INI's settings (HTTP_PORT= 0: it stays shut).
    // Called once the start-up has opened the TSE.
    void Start();
    void Stop();

    // After every job pass: the jobs whose answers are on the disk are
    // answered.
    void CollectAnswers();

    // Spool file names of a kind and id: "R_<id>" for receipts, "O_" for
    // operations, "E_" for exports.
    static QByteArray SpoolBase(const THttpJob& job);
    // The job file's text of a request.
    static QByteArray JobText(const THttpJob& job);
    // The HTTP answer body of an answer file's lines; false while the
    // answer is not complete.
    static bool AnswerJson(const THttpJob& job, const QByteArray& answerFile, QByteArray& json);

private:
    void OnJob(THttpJob job, TReply reply);
    void Take(THttpJob job, TReply reply);
    bool AnswerFromSpool(const QByteArray& base, const THttpJob& job, TReply& reply);
    void AnswerStatus(TReply reply);
    void AnswerHealth(TReply reply);
    bool CanSign() const;
    void RemoveForgottenAnswers();

    struct Waiting {
        THttpJob job;
        TReply reply;
    };

    TCore& core_;
    std::function<void()> passSoon_;
    std::unique_ptr<THttpServer> door_;
    std::map<QByteArray, Waiting> waiting_;  // by spool base name
    // Serial, public key, algorithm and time format: read once the door
    // opens (the TSE's thread is free then), for every status answer.
    QJsonObject tseFacts_;
};
