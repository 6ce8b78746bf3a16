// Program entry: the service, with the window on top or (--unattended) as a
// console program with no display at all, and the ways the platform ends
// the session.
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "service/Service.h"
#include "shell/MainForm.h"
#include "shell/WindowDialogs.h"
#include "tse/ProcLib.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

// SIGTERM (shutdown, service stop) and SIGINT (Ctrl-C in a terminal) reach
// the window through a pipe: the handler may only write a byte, the window
// thread reads it as an event. Each handler acts once; a second signal of
// the same kind ends the program at once, should the orderly end hang.
int termPipe[2] = {-1, -1};

static_assert(std::atomic<bool>::is_always_lock_free);

void OnTerm(int)
{
    SessionEndPending.store(true);  // lock-free, so safe in a signal handler
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(termPipe[1], &byte, 1);
}

bool WatchTerm(QObject* owner, const std::function<void()>& onTerm)
{
    if (::pipe2(termPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    auto* notifier = new QSocketNotifier(termPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [onTerm] {
        char buf[16];
        while (::read(termPipe[0], buf, sizeof buf) > 0) {
        }
        onTerm();
    });
    struct sigaction sa {};
    sa.sa_handler = OnTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    return ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGINT, &sa, nullptr) == 0;
}

// A second instance must not write the first one's log through the window's
// log, which it never gets; one stamped line is appended directly.
void AppendToProgramLog(const QString& progDir, const QString& line)
{
    plat::File log;
    if (log.OpenAppend(progDir + "\\Vok_TSE.LOG") != 0) return;
    (void)log.WriteLine(plat::QToAnsi(plat::FormatDateTime(QStringLiteral("dd.mm.yy hh:nn:ss"), plat::Now()) +
                                      "  " + line));
}

// Shortens every pause (the splash, file retries) for automated runs.
void ApplyDelayFactor(TCore& core)
{
    if (const QByteArray factor = qgetenv("VOK_TSE_DELAY_FACTOR"); !factor.isEmpty()) {
        bool ok = false;
        const double value = factor.toDouble(&ok);
        if (ok && value > 0) core.DelayFactor = value;
    }
}

// Two services on one program directory would take the same jobs and sign
// them twice: the lock is taken before the job directory or the TSE is
// touched, and kept until the process ends. False: another one runs.
bool TakeInstanceLock(plat::InstanceLock& instance)
{
    const QString progDir = GetAktVerz();
    const int err = instance.Acquire(progDir + "\\Vok_TSE.lock");
    if (err == 0) return true;
    const QString msg = err == plat::ErrSharingViolation
                            ? "Vok_TSE läuft bereits in " + progDir + ", dieser Start wird beendet"
                            : "Vok_TSE.lock nicht möglich, Err=" + QString::number(err) + ", der Start wird beendet";
    AppendToProgramLog(progDir, msg);
    plat::ShowError(msg);
    return false;
}

// Nobody is there to answer a dialog (a service, no display): every dialog
// takes its default button and goes to the log with its text and that
// answer. No window toolkit is loaded, so no display is needed.
int RunUnattended(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VOK_TSE"));
    QStringList args = QCoreApplication::arguments();
    if (!args.isEmpty()) args.removeFirst();
    args.removeAll(QStringLiteral("--unattended"));

    TService* running = nullptr;
    plat::UnattendedResponder unattended([&running](const QString& text) {
        QString line = text;
        line.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (running)
            running->Core().Log(QLatin1Char('|') + line);
        else
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    });
    plat::SetDialogResponder(&unattended);

    plat::InstanceLock instance;
    if (!TakeInstanceLock(instance)) {
        plat::SetDialogResponder(nullptr);
        return 3;
    }
    int rc = 0;
    {
        TService service(args, true);
        running = &service;
        ApplyDelayFactor(service.Core());
        QObject::connect(&service, &TService::Closed, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        if (!WatchTerm(&app, [&service] { service.WMQUERYENDSESSION(); }))
            qWarning("SIGTERM/SIGINT are not watched: a shutdown ends the program without closing the TSE");
        // Without its directories the service has nothing to do: it ends
        // after the error, which the log holds.
        if (!service.Ready()) {
            AppendToProgramLog(GetAktVerz(), QStringLiteral("Vok_TSE beendet: Job- oder Exportverzeichnis fehlt"));
            plat::SetDialogResponder(nullptr);
            return 2;
        }
        service.Start();
        rc = app.exec();
        running = nullptr;
    }
    plat::SetDialogResponder(nullptr);
    return rc;
}

int RunWithWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VOK_TSE"));
    // The window's title is the display name: the window system then adds
    // nothing to it, and the boxes carry the same title.
    QApplication::setApplicationDisplayName(QStringLiteral("VOKTAR TSE"));
    if (!plat::UseGermanToolkitTexts())
        qWarning("Qt's German translation (qtbase_de.qm) is missing: dialog buttons stay English");
    shell::WindowResponder boxes;
    plat::SetDialogResponder(&boxes);

    QStringList args = QApplication::arguments();
    if (!args.isEmpty()) args.removeFirst();

    plat::InstanceLock instance;
    if (!TakeInstanceLock(instance)) {
        plat::SetDialogResponder(nullptr);
        return 3;
    }
    int rc = 0;
    {
        TService service(args, false);
        ApplyDelayFactor(service.Core());
        QPointer<TMainForm> form = new TMainForm(service);
        auto endSession = [&service] { service.WMQUERYENDSESSION(); };
        QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                         [endSession](QSessionManager&) { endSession(); }, Qt::DirectConnection);
        if (!WatchTerm(&app, endSession))
            qWarning("SIGTERM/SIGINT are not watched: a shutdown ends the program without closing the TSE");
        form->show();
        service.Start();
        rc = app.exec();
        delete form.data();  // unless the close has already destroyed it
    }
    plat::SetDialogResponder(nullptr);
    return rc;
}

}  // namespace

int main(int argc, char** argv)
{
    plat::ReadTimeZoneOnce();
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--unattended") == 0) return RunUnattended(argc, argv);
    return RunWithWindow(argc, argv);
}
