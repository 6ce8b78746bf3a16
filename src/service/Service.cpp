// The service's life: creation, the poll timer and the instant hand-off, the
// close protocol's non-visual half and the messages to systemd.
#include "service/Service.h"

#include "service/HttpFront.h"

#include "jobs/Jobs.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/ServiceNotifier.h"
#include "core/HandlerEdge.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QFileSystemWatcher>
#include <QTimer>

namespace {

constexpr int PollInterval = 250;

// Only ASCII letters change; the switches are ASCII.
QString UpperAscii(QString s)
{
    for (QChar& c : s)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 'a' + 'A');
    return s;
}

}  // namespace

TService::TService(const QStringList& args, bool unattended, QObject* parent)
    : QObject(parent), args_(args), notifier_(std::make_unique<plat::ServiceNotifier>())
{
    TCore& core = core_;
    core.OnLongTseCallBegins = [this](int seconds) {
        ReportToService(notifier_->LongCallBegins(std::chrono::seconds(seconds)));
    };
    core.OnLongTseCallEnds = [this] { ReportToService(notifier_->LongCallEnds()); };

    // A job the door spooled is taken by the next pass, from the event loop,
    // or by the pass in hand after its batch; the answers a long pass has
    // written go out between its batches.
    http_ = std::make_unique<THttpFront>(core, [this] {
        QTimer::singleShot(0, this, [this] {
            if (poll_->isActive()) AtHandlerEdge([this] { Timer1Timer(); });
        });
    });
    core.OnBatchClosed = [this] { http_->CollectAnswers(); };

    poll_ = new QTimer(this);
    poll_->setInterval(PollInterval);
    connect(poll_, &QTimer::timeout, this, [this] { AtHandlerEdge([this] { Timer1Timer(); }); });

    TseSN.clear();
    core.Unattended = unattended || args.contains(QStringLiteral("--unattended"), Qt::CaseInsensitive);
    core.AktVerz = GetAktVerz();
    core.DatenVerz = core.AktVerz + "\\TSE";
    core.ExpVerz = core.AktVerz + "\\TSE_EXPO";
    // Always scanned: jobs the door spooled in an earlier run are settled
    // even while the door is shut now.
    core.SpoolVerz = core.AktVerz + "\\TSE_HTTP";

    // Without both directories no job can be answered: the service stays
    // idle and the start-up never runs.
    for (const QString& dir : {core.DatenVerz, core.ExpVerz}) {
        if (plat::DirectoryExists(dir)) continue;
        if (const int err = plat::CreateDir(dir)) {
            plat::ShowError(QStringLiteral("E/A-Fehler %1 (%2): %3").arg(err).arg(plat::ErrorText(err), dir));
            return;
        }
    }
    ready_ = true;
    WatchJobDirectory();

    QString line;
    for (const QString& arg : args_) line += arg + ' ';
    core.Param = ' ' + UpperAscii(line) + ' ';
    TseDebug = core.Param.contains(QStringLiteral("/D"));
    TseLogAll = core.Param.contains(QStringLiteral("/L"));
    TseLogFiles = core.Param.contains(QStringLiteral("/F"));
}

TService::~TService()
{
    poll_->stop();
    http_->Stop();  // no answer goes out once the core is gone
    AtHandlerEdge([this] { Finish(); });
}

void TService::Finish()
{
    if (finished_) return;
    finished_ = true;
    LogPendingAnswers(core_);  // signed, but never on the disk: the log keeps it
    tse_close();
    core_.Log(QStringLiteral("|Vok_TSE beendet"));
    core_.TmpLogListe.clear();  // lines still waiting are dropped
}

void TService::Start()
{
    if (!ready_) return;
    QTimer::singleShot(0, this, [this] {
        AtHandlerEdge([this] { CMSTART(); });
        // An error that ended the start-up has been shown; the run stays idle.
        core_.StartupFinished = true;
        if (core_.PollSwitchedOn) {
            poll_->start();
            AtHandlerEdge([this] { http_->Start(); });
        }
        ServiceStarted();
        emit StartupFinished();
    });
}

void TService::Timer1Timer()
{
    if (!core_.MayPoll()) return;
    if (core_.PassRunning()) {
        // A notice or tick inside the pass's own waits: one more pass once
        // this one has ended, not only at the next tick.
        passAgain_ = true;
        return;
    }
    do {
        passAgain_ = false;
        Abarbeiten_TseJobs(core_);
        http_->CollectAnswers();
    } while (passAgain_ && core_.MayPoll());
}

bool TService::Polling() const
{
    return poll_->isActive() && core_.MayPoll();
}

// ---- Instant hand-off ---------------------------------------------------------

// A job is taken as soon as its file appears instead of at the next tick.
// The pass starts only where a tick could start it, so passes still never
// overlap. Notices arrive for every change (the clients' renames, the pass's
// own answers and deletions); those that come while a pass is queued are one.
void TService::WatchJobDirectory()
{
    watcher_ = new QFileSystemWatcher(this);
    if (!watcher_->addPath(plat::NativePath(core_.DatenVerz))) {
        core_.Log(QStringLiteral("|Keine Änderungsmeldungen für ") + core_.DatenVerz +
                  QStringLiteral(", nur Abfrage alle 250 ms"));
        return;
    }
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (handOffQueued_) return;
        handOffQueued_ = true;
        // Queued, so that the pass starts from the event loop as a tick does,
        // not from within the notification.
        QTimer::singleShot(0, this, [this] {
            handOffQueued_ = false;
            if (poll_->isActive()) AtHandlerEdge([this] { Timer1Timer(); });
        });
    });
}

// ---- systemd --------------------------------------------------------------------

// The pings come from a timer of the core's thread, the thread of the job
// passes: a TSE call that hangs holds it, the pings stop and systemd restarts
// the service. A pass's own waits and a manual export run the event loop and
// keep them going.
void TService::ServiceStarted()
{
    ReportToService(notifier_->Ready());
    if (notifier_->AliveInterval().count() == 0) return;
    auto* alive = new QTimer(this);
    alive->setInterval(notifier_->AliveInterval());
    connect(alive, &QTimer::timeout, this, [this] { ReportToService(notifier_->Alive()); });
    alive->start();
    ReportToService(notifier_->Alive());
}

void TService::ReportToService(int err)
{
    if (err != 0 && err != lastNotifyError_)
        core_.Log(QStringLiteral("|Meldung an systemd nicht möglich, Err=%1").arg(err));
    lastNotifyError_ = err;
}

// ---- Close protocol -------------------------------------------------------------

TService::CloseAnswer TService::CloseQuery()
{
    core_.ProgEnde = true;  // a running job pass takes no further job

    // A close that arrives inside a running operation's own wait cannot wait
    // for that operation; it is tried again once the operation has ended.
    if (core_.TSE_running) {
        if (!closeDeferred_) {
            closeDeferred_ = true;
            core_.RunWhenTseIdle([this] {
                closeDeferred_ = false;
                TryClose();
            });
        }
        return CloseAnswer::Later;
    }
    // The export worker does not hold the core's thread: test again shortly.
    if (core_.Exp_running) {
        if (!closeDeferred_) {
            closeDeferred_ = true;
            QTimer::singleShot(100, this, [this] {
                closeDeferred_ = false;
                TryClose();
            });
        }
        return CloseAnswer::Later;
    }
    return core_.WinDown || core_.EndRequested() ? CloseAnswer::Now : CloseAnswer::Ask;
}

void TService::CloseRefused()
{
    core_.ProgEnde = false;
}

void TService::CloseGranted()
{
    core_.RequestEnd();
    poll_->stop();
    http_->Stop();
    ReportToService(notifier_->Stopping());
}

void TService::TryClose()
{
    if (CloseNow) {
        CloseNow();
        return;
    }
    // No window: nobody to ask, so a close that nothing holds up is granted.
    const CloseAnswer answer = CloseQuery();
    if (answer == CloseAnswer::Later) return;
    if (answer == CloseAnswer::Ask && AskClose && !AskClose()) {
        CloseRefused();
        return;
    }
    CloseGranted();
    emit Closed();
}

void TService::WMQUERYENDSESSION()
{
    core_.WinDown = true;
    core_.RequestEnd();
    ReportToService(notifier_->Stopping());
    // Nobody answers a dialog any more; the one open now takes its safe choice.
    plat::EndAllDialogs();
    CloseWhenNoDialogOpen();
}

void TService::CloseWhenNoDialogOpen()
{
    // Queued: a job in hand finishes first, through the close's deferral. A
    // handler whose dialog has just been closed goes on first too.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (plat::DialogOpen())
                QTimer::singleShot(10, this, [this] { CloseWhenNoDialogOpen(); });
            else
                TryClose();
        },
        Qt::QueuedConnection);
}

void TService::EndProgram()
{
    ending_ = true;
    core_.RequestEnd();
    ReportToService(notifier_->Stopping());
    plat::EndAllDialogs();
    TryClose();
}
