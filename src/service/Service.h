// The service: owns the core, the poll timer and the job directory's
// watcher, runs the start-up sequence and the non-visual half of the close
// protocol, and reports to systemd. Runs with a window on top or with none.
//
//   Service.cpp   creation, timers, hand-off, close protocol, systemd
//   Startup.cpp   CMSTART, Init_TSE
#pragma once

#include "core/Core.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>

class QFileSystemWatcher;
class QTimer;
class THttpFront;
namespace plat { class ServiceNotifier; }

class TService : public QObject {
    Q_OBJECT

public:
    // args: the command-line arguments without the program name. Prepares
    // the directories and the job directory's watcher; the start-up runs
    // only once Start is called.
    explicit TService(const QStringList& args, bool unattended, QObject* parent = nullptr);
    ~TService() override;

    TCore& Core() { return core_; }
    const TCore& Core() const { return core_; }

    // The directories could be made: the start-up can run.
    bool Ready() const { return ready_; }

    // Queues the start-up sequence; it runs from the event loop.
    void Start();
    // The start-up sequence itself (called by Start's queued event).
    void CMSTART();
    void Init_TSE();

    // A tick of the poll timer: a job pass, where one may run now.
    void Timer1Timer();
    // Job passes are switched on and none is held back.
    bool Polling() const;
    // The poll timer itself, for tests of the hand-off.
    QTimer& PollTimer() { return *poll_; }

    // ---- Close protocol ----------------------------------------------------
    enum class CloseAnswer {
        Now,    // close at once
        Later,  // an operation runs: Retry is called once it has ended
        Ask,    // nothing runs: the operator decides (not after the platform's end)
    };
    // The non-visual half of a close request. Sets ProgEnde.
    CloseAnswer CloseQuery();
    // The operator kept the program running.
    void CloseRefused();
    // The close has been granted: systemd hears that the service stops.
    void CloseGranted();

    // The platform ends the session (SIGTERM, log-out): nobody is asked,
    // the open dialog takes its safe choice, the close follows once no job
    // and no dialog is in hand.
    void WMQUERYENDSESSION();
    // Ends the program without the close question (refused reactivation).
    void EndProgram();

    // How a close is carried out: the window closes itself, the headless
    // service leaves its event loop. Called from the event loop.
    std::function<void()> CloseNow;
    // Asked before the window closes; the headless service has none and
    // closes once CloseQuery allows.
    std::function<bool()> AskClose;

    // Tries to close: through the window's close where there is one,
    // else directly.
    void TryClose();

    // EndProgram was called: the close needs no question.
    bool Ending() const { return ending_; }

signals:
    // The start-up sequence has returned.
    void StartupFinished();
    // The close has been granted and carried out without a window: the
    // program leaves its event loop.
    void Closed();

private:
    void WatchJobDirectory();
    void CloseWhenNoDialogOpen();
    void ServiceStarted();          // READY=1, then the watchdog's pings
    void ReportToService(int err);  // a failed message to systemd, logged when it begins
    void Finish();                  // the end of the run: the TSE closed, the last line logged

    TCore core_;
    QStringList args_;
    bool ready_ = false;
    bool closeDeferred_ = false;
    bool ending_ = false;
    bool handOffQueued_ = false;
    bool passAgain_ = false;  // asked for while a pass ran
    bool finished_ = false;
    QTimer* poll_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    std::unique_ptr<plat::ServiceNotifier> notifier_;
    std::unique_ptr<THttpFront> http_;
    int lastNotifyError_ = 0;
};
