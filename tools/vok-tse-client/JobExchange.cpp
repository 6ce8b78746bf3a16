#include "vok-tse-client/JobExchange.h"

#include "vok-tse-client/Answer.h"
#include "vok-tse-client/ExitCodes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace vokclient {

namespace {

// Removes the temporary file unless the job was handed over.
class TemporaryJob {
public:
    explicit TemporaryJob(QString path) : path_(std::move(path)) {}
    ~TemporaryJob()
    {
        if (!released_) QFile::remove(path_);
    }
    TemporaryJob(const TemporaryJob&) = delete;
    TemporaryJob& operator=(const TemporaryJob&) = delete;
    void release() { released_ = true; }

private:
    QString path_;
    bool released_ = false;
};

// Reads the whole file; a missing file yields an empty result and no error.
bool ReadIfPresent(const QString& path, QByteArray& bytes, QString& error)
{
    QFile f(path);
    // Looked at before the open too: an answer the service creates between a
    // failed open and the look afterwards is not there yet, not unreadable.
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) {
        if (!f.exists()) return true;
        error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
        return false;
    }
    bytes = f.readAll();
    return true;
}

}  // namespace

QString JobFiles::job() const { return dir + QLatin1Char('/') + name + QLatin1String(".TSE"); }
QString JobFiles::answer() const { return dir + QLatin1Char('/') + name + QLatin1String(".SIG"); }
QString JobFiles::temporary() const
{
    return dir + QLatin1String("/.") + name + QLatin1String(".tmp");
}

SubmitResult SubmitJob(const JobFiles& files, const QByteArray& jobBytes, std::chrono::milliseconds previous)
{
    auto ioError = [](const QString& e) { return SubmitResult{ExitIoError, e}; };
    if (!QFileInfo(files.dir).isDir()) return ioError(QStringLiteral("job directory %1 does not exist").arg(files.dir));
    QDeadlineTimer deadline(previous);
    while (QFileInfo::exists(files.job())) {
        if (deadline.hasExpired())
            return {ExitNoAnswer, QStringLiteral("a job named %1 is still waiting in %2").arg(files.name, files.dir)};
        QThread::msleep(2);
    }
    if (QString e = RemoveAnswer(files); !e.isEmpty()) return ioError(e);

    TemporaryJob guard(files.temporary());
    QFile f(files.temporary());
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return ioError(QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString()));
    if (f.write(jobBytes) != jobBytes.size() || !f.flush())
        return ioError(QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString()));
    f.close();
    if (f.error() != QFileDevice::NoError)
        return ioError(QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString()));
    // QFile::rename never replaces an existing file: a job of the same name
    // that appeared meanwhile stays untouched.
    if (!QFile::rename(files.temporary(), files.job()))
        return ioError(QStringLiteral("cannot hand over %1 (has another client the same job name?)").arg(files.job()));
    guard.release();
    return {};
}

AwaitResult AwaitAnswer(const JobFiles& files, std::chrono::milliseconds timeout,
                        std::chrono::milliseconds poll)
{
    QDeadlineTimer deadline(timeout);
    auto check = [&](AwaitResult& r) {
        QByteArray bytes;
        QString error;
        if (!ReadIfPresent(files.answer(), bytes, error)) {
            r = {ExitIoError, {}, error};
            return true;
        }
        if (IsCompleteAnswer(bytes)) {
            r = {ExitOk, bytes, {}};
            return true;
        }
        return false;
    };
    AwaitResult r;
    for (;;) {
        if (check(r)) return r;
        if (deadline.hasExpired()) break;
        QThread::msleep(static_cast<unsigned long>(poll.count()));
    }
    const QString waited = QString::number(timeout.count() / 1000.0);
    if (QFile::remove(files.job()))
        return {ExitNoAnswer, {}, QStringLiteral("no answer for %1 within %2 s; job withdrawn").arg(files.name, waited)};
    // The service took the job meanwhile: its answer may just have been completed.
    if (check(r)) return r;
    return {ExitNoAnswer, {}, QStringLiteral("no complete answer for %1 within %2 s").arg(files.name, waited)};
}

QString RemoveAnswer(const JobFiles& files)
{
    QFile f(files.answer());
    if (!f.exists() || f.remove()) return {};
    return QStringLiteral("cannot remove %1: %2").arg(f.fileName(), f.errorString());
}

}  // namespace vokclient
