// Program entry: the toolkit, the one window and the ways the platform ends
// the session.
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"

#include <QApplication>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VOK_TSE"));
    // The window's title is the display name: the window system then adds
    // nothing to it, and the boxes carry the same title.
    QApplication::setApplicationDisplayName(QStringLiteral("VOKTAR TSE"));
    if (!plat::UseGermanToolkitTexts())
        qWarning("Qt's German translation (qtbase_de.qm) is missing: dialog buttons stay English");

    QStringList args = QApplication::arguments();
    if (!args.isEmpty()) args.removeFirst();

    // Command-line switches of the program itself (beyond those that
    // FormCreate reads from Param) are taken out of args here.

    // --unattended: nobody is there to answer a dialog (a service, no
    // display). Every dialog takes its default button and goes to the log
    // with its text and that answer. Installed before the window exists, as
    // its creation may already report an error.
    std::unique_ptr<plat::UnattendedResponder> unattended;
    if (args.removeAll(QStringLiteral("--unattended")) > 0) {
        unattended = std::make_unique<plat::UnattendedResponder>([](const QString& text) {
            QString line = text;
            line.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
            if (MainForm)
                MainForm->Log(QLatin1Char('|') + line);
            else
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        });
        plat::SetDialogResponder(unattended.get());
    }

    // Two services on one program directory would take the same jobs and
    // sign them twice: the lock is taken before the job directory or the TSE
    // is touched, and kept until the process ends.
    plat::InstanceLock instance;
    const QString progDir = GetAktVerz();
    if (const int err = instance.Acquire(progDir + "\\Vok_TSE.lock")) {
        const QString msg = err == plat::ErrSharingViolation
                                ? "Vok_TSE läuft bereits in " + progDir + ", dieser Start wird beendet"
                                : "Vok_TSE.lock nicht möglich, Err=" + QString::number(err) + ", der Start wird beendet";
        AppendToProgramLog(progDir, msg);
        plat::ShowError(msg);
        plat::SetDialogResponder(nullptr);
        return 3;
    }

    QPointer<TMainForm> form = new TMainForm(args);
    form->Unattended = unattended != nullptr;
    // Shortens every pause (the splash, file retries) for automated runs.
    if (const QByteArray factor = qgetenv("VOK_TSE_DELAY_FACTOR"); !factor.isEmpty()) {
        bool ok = false;
        const double value = factor.toDouble(&ok);
        if (ok && value > 0) form->DelayFactor = value;
    }

    auto endSession = [&form] {
        if (form) form->WMQUERYENDSESSION();
    };
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app,
                     [endSession](QSessionManager&) { endSession(); }, Qt::DirectConnection);
    if (!WatchTerm(&app, endSession))
        qWarning("SIGTERM/SIGINT are not watched: a shutdown ends the program without closing the TSE");

    form->show();
    const int rc = app.exec();
    delete form.data();  // FormDestroy, unless the close has already destroyed it
    plat::SetDialogResponder(nullptr);
    return rc;
}
