// The program log (list of last operations and log file) and the debug trace
// of the file handshake with the clients.
#include "core/Core.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/LogText.h"

#include <QThread>

namespace {

constexpr int kTraceAttempts = 5;
// 29.9998 seconds: the trace stays on while its lines follow each other
// within half a minute.
constexpr double kTraceFreshDays = 0.00034722;

}  // namespace

void TCore::Log(const QString& Msg)
{
    if (Msg.isEmpty()) return;
    if (QThread::currentThread() != thread()) {
        // The export worker's lines are handed to the core's thread, which
        // handles events while the worker runs; waiting for it keeps every
        // line in the order it was logged.
        QMetaObject::invokeMethod(this, [this, Msg] { LogOnCoreThread(Msg); }, Qt::BlockingQueuedConnection);
        return;
    }
    LogOnCoreThread(Msg);
}

void TCore::LogOnCoreThread(const QString& Text)
{
    // Once here for every line of the file and the list: names and values
    // from the share never bring a line break or other control into either.
    const QString Msg = plat::VisibleControls(Text);
    std::lock_guard<std::recursive_mutex> lock(logMutex_);
    const plat::TDateTime now = plat::Now();
    const QString fileStamp = plat::FormatDateTime(QStringLiteral("dd.mm.yy hh:nn:ss"), now) + "  ";
    const QChar first = Msg.at(0);
    const bool plain = first != u'|' && first != u'°';

    if (plain) Shown.AddOperation(plat::FormatDateTime(QStringLiteral("dd.mm.yy hh:nn"), now) + "  " + Msg);

    const QString path = AktVerz + "\\Vok_TSE.LOG";
    plat::File file;
    int err = file.OpenAppend(path);
    if (err == ENOENT) {
        err = file.Create(path, plat::Visibility::OwnerOnly);
        if (err == 0) err = file.WriteLine(plat::QToAnsi(fileStamp + "Log-Datei erstellt"));
    }
    logFileOpen_ = file.IsOpen();
    logFile_ = logFileOpen_ ? &file : nullptr;

    if (err == 0) {
        if (first == u'°')
            err = SaveMsg(Msg.mid(1));
        else if (first == u'|')
            err = SaveMsg(fileStamp + Msg.mid(1));
        else
            err = file.WriteLine(plat::QToAnsi(fileStamp + Msg));
    } else if (!plain && !file.IsOpen()) {
        // A log file that cannot be opened keeps the line for later.
        err = SaveMsg(first == u'°' ? Msg.mid(1) : fileStamp + Msg.mid(1));
    }
    if (file.IsOpen()) {
        const int closeErr = file.Close();
        if (err == 0) err = closeErr;
    }
    logFile_ = nullptr;
    logFileOpen_ = false;

    if (err != 0) Shown.AddOperation(QStringLiteral("Log-Fehler"));
}

int TCore::SaveMsg(const QString& line)
{
    if (!logFileOpen_ || !logFile_) {
        TmpLogListe << line;
        return 0;
    }
    for (const QString& pending : TmpLogListe)
        if (const int err = logFile_->WriteLine(plat::QToAnsi(pending))) return err;
    // Emptied only when all were written: a failed flush is repeated.
    TmpLogListe.clear();
    return logFile_->WriteLine(plat::QToAnsi(line));
}

void TCore::ZelnorsTestLog(const QString& Msg)
{
    if (Msg.isEmpty() || !TestLogWanted()) return;
    const QString path = AktVerz + "\\VOK_TSE.DEB";
    if (!plat::FileExists(path)) return;

    plat::TDateTime modified = 0;
    if (plat::FileModTime(path, modified) != 0) {
        Delay(500);
        if (plat::FileModTime(path, modified) != 0) return;
    }
    if (plat::Now() - modified > kTraceFreshDays) return;

    // Taken before any retry: the stamp tells when the event happened.
    const QString stamp = plat::FormatDateTime(QStringLiteral("dd.mm.yy hh:nn:ss:zzz"), plat::Now()) + " ";

    plat::File file;
    int attempt = 1;
    int err = file.OpenAppend(path);
    while (err != 0 && attempt < kTraceAttempts) {
        Delay(500);
        ++attempt;
        err = file.OpenAppend(path);
    }
    // The trace is a diagnostic aid: a line it cannot write is given up.
    if (err != 0) return;
    QString line = stamp + plat::VisibleControls(Msg);
    if (attempt > 1) line += QStringLiteral(" (%1. LogVersuch)").arg(attempt);
    file.WriteLine(plat::QToAnsi(line));
    file.Close();
}
