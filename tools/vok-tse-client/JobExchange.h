// The file side of one job: hand the job to the service so that its scan
// never sees half a file, then wait for the complete answer.
#pragma once

#include <QByteArray>
#include <QString>
#include <chrono>

namespace vokclient {

struct JobFiles {
    QString dir;   // job directory (native path)
    QString name;  // job name
    QString job() const;        // <dir>/<name>.TSE
    QString answer() const;     // <dir>/<name>.SIG
    QString temporary() const;  // <dir>/.<name>.tmp: the scan does not match it
};

struct SubmitResult {
    int exitCode = 0;  // ExitOk, ExitNoAnswer or ExitIoError
    QString error;
};

// Waits (up to `previous`) until a job of the same name that the service has
// not finished yet is gone: its answer would otherwise be taken for this
// one's, and the service deletes a job only after its answer is complete.
// Then removes the stale answer of that name, writes the job under the
// temporary name, flushes it and renames it to <name>.TSE.
SubmitResult SubmitJob(const JobFiles& files, const QByteArray& jobBytes,
                       std::chrono::milliseconds previous = std::chrono::milliseconds(0));

struct AwaitResult {
    int exitCode = 0;     // ExitOk, ExitNoAnswer or ExitIoError
    QByteArray answer;    // the complete answer when ExitOk
    QString error;
};

// Polls for the answer until its last line is "*EOF*". When the time is up
// and the service has not taken the job yet, the job is withdrawn, so that
// nothing is signed after the client has given up.
AwaitResult AwaitAnswer(const JobFiles& files, std::chrono::milliseconds timeout,
                        std::chrono::milliseconds poll = std::chrono::milliseconds(5));

// Returns an error text, empty on success (also when there is no answer).
QString RemoveAnswer(const JobFiles& files);

}  // namespace vokclient
