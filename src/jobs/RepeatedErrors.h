// Keeps a job that fails the same way on every pass (locked, unreadable, not
// a plain file, answer not writable) from writing its line four times a
// second: the first occurrence is logged as it stands, the same error of the
// same job again at most once a minute, with how often it recurred. Times
// are plat::MonotonicMs, so that a clock set back never silences a job.
#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>
#include <map>

class TRepeatedErrors {
public:
    static constexpr int64_t kIntervalMs = 60000;

    // The line to log for this occurrence of `line` for job `job` at `nowMs`,
    // or an empty text when it is kept back.
    QString Filter(const QByteArray& job, const QString& line, int64_t nowMs);
    // The job's error has ended (done, or failing otherwise): the next
    // occurrence is a first one again.
    void Clear(const QByteArray& job);
    // Forgets every job that is no longer in the job directory.
    void KeepOnly(const QList<QByteArray>& jobs);

    size_t Size() const { return errors_.size(); }

private:
    struct Seen {
        QString line;
        int64_t lastLoggedMs = 0;
        int keptBack = 0;
    };
    std::map<QByteArray, Seen> errors_;
};
