// The service's core: the program log, the configuration, the waits, the
// link to the TSE and what the operator is shown, as data. It knows no
// window; the service drives it, and a window, if there is one, mirrors it.
//
// The methods are defined across the folder:
//   Core.cpp      waits, deferred requests, the end request
//   Log.cpp       Log, SaveMsg, ZelnorsTestLog
//   Config.cpp    LoadConfig, SaveConfig
//   TseLink.cpp   ReOpenTSE, TAdminSession (the one Admin login with the
//                 clock setting)
#pragma once

#include "core/ShownState.h"
#include "core/TseConnection.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace plat { class File; }
// What the job pass keeps from one pass to the next (its journal, the
// answers still to be written, health): the jobs layer's, carried here so
// that the operator's procedures reach the same one.
struct TJobPassState;

class TCore : public QObject {
    Q_OBJECT

public:
    explicit TCore(QObject* parent = nullptr);
    ~TCore() override;

    // ---- Directories and settings --------------------------------------
    QString AktVerz;     // the program directory
    QString DatenVerz;   // the job directory, AktVerz\TSE
    QString ExpVerz;     // the export directory, AktVerz\TSE_EXPO
    // The HTTP door's jobs, spooled as job files in the service's own
    // directory (AktVerz\TSE_HTTP); empty while the door is shut.
    QString SpoolVerz;
    QString TSE_Pfad;    // the TSE's drive, from the INI
    bool NewVers = false;
    QString Param;       // " " + the command line in capitals + " "
    uint32_t LastSavedTANr = 0;
    // KASSEN= of the INI: the client ids allowed to sign (an entry ending in
    // "*" allows every id it begins); empty allows every id.
    QStringList AllowedClients;
    int32_t TimeSyncInterval = 0;
    // The HTTP door's settings (HTTP_PORT=, HTTP_BIND=, HTTP_TOKEN_FILE=,
    // HTTP_WAIT_S=, HTTP_MAX_BODY= of the INI); port 0: the door stays shut.
    int HttpPort = 0;
    QString HttpBind = QStringLiteral("127.0.0.1");
    QString HttpTokenFile;  // empty: Vok_TSE.token in the program directory
    int HttpWaitS = 5;
    int64_t HttpMaxBody = 4096;
    // When the TSE's time is due again, on plat::MonotonicMs: the wall clock
    // may be set back or leave summer time. Also written by the export worker.
    std::atomic<int64_t> NextTimeSet{0};
    // Nobody is at a window (--unattended): the start finishes what a crash
    // left open, no splash is shown, every dialog takes its default.
    bool Unattended = false;
    // Every Delay lasts ms * DelayFactor (tests shorten the fixed pauses).
    double DelayFactor = 1.0;

    // ---- Run state -------------------------------------------------------
    QString JobListe;    // job names a scan found, "|"-joined (made only for /D and /TEST)
    int32_t ScanAnz = 0; // scans since jobs were last found
    bool ProgEnde = false;      // a close is under way: the pass takes no further job
    bool TSE_running = false;   // an operation uses the TSE on the core's thread
    std::atomic<bool> Exp_running{false};  // the export worker uses the TSE
    QStringList TmpLogListe;    // log lines waiting for the log file
    // The start-up sequence has returned, whichever end state it reached.
    bool StartupFinished = false;
    // The start-up has switched job passes on.
    bool PollSwitchedOn = false;
    std::shared_ptr<TJobPassState> JobState;

    TShownState Shown;
    // Whether the TSE is reachable, since when it is lost, and when the
    // next attempt to reopen it is due.
    TTseConnection Tse;

    // ---- Waits -----------------------------------------------------------
    // Pauses about ms milliseconds while events are handled; handles them at
    // least once, also for ms <= 0. Sleeps between events.
    void Delay(int32_t ms);
    // Handles events while busy() holds, sleeping between events. WakeWaits
    // (any thread) makes a waiting loop test again at once.
    void WaitWhile(const std::function<bool()>& busy);
    void WakeWaits();

    // A request that needs the TSE while an operation holds TSE_running
    // (which can only be a request handled inside that operation's own
    // wait) runs once the operation has ended; otherwise it runs now.
    void RunWhenTseIdle(std::function<void()> request);
    // Sets TSE_running; clearing it starts what was deferred meanwhile.
    void SetTseRunning(bool on);

    // Job passes may run: switched on by the start-up, not held by an
    // operation (a manual export) and no end requested.
    bool MayPoll() const { return PollSwitchedOn && pollHolds_ == 0 && !EndRequested(); }
    void HoldPolling() { ++pollHolds_; }
    void ReleasePolling() { if (pollHolds_ > 0) --pollHolds_; }
    bool PassRunning() const { return passRunning_; }
    void SetPassRunning(bool on) { passRunning_ = on; }

    // ---- The end ---------------------------------------------------------
    // The platform or the program itself has asked for the end: code that
    // goes on after a dialog or a pause stops instead of starting new work.
    bool EndRequested() const { return endRequested_; }
    void RequestEnd();
    // The end comes from the platform (session end, SIGTERM): nobody is
    // asked whether to close.
    bool WinDown = false;

    // ---- Log (Log.cpp) ---------------------------------------------------
    // Safe from any thread: another thread's lines are handed to the core's
    // thread and keep their order.
    void Log(const QString& Msg);
    void ZelnorsTestLog(const QString& Msg);
    // Whether the program was started with the trace switch (/TEST); the
    // trace file must exist too for lines to be written.
    bool TestLogWanted() const { return Param.contains(QStringLiteral("/TEST")); }

    // ---- Configuration (Config.cpp) --------------------------------------
    void LoadConfig();
    void SaveConfig();

    // ---- The TSE (TseLink.cpp) -------------------------------------------
    // Closes and opens the TSE again with the time-out, then sets its clock.
    // Runs on the export worker too: it touches only the TSE, TseRes and
    // NextTimeSet.
    void ReOpenTSE(int32_t timeout);
    QString ErgStr() const;

    // Set by the service: run by a pass between its batches, once the
    // core's pending events have been handled.
    std::function<void()> OnBatchClosed;
    // A job has been put into SpoolVerz since the pass last read it.
    bool SpoolChanged = false;
    // Around a TSE call that may outlast systemd's watchdog (a data
    // export): the service stretches the watchdog meanwhile.
    std::function<void(int allowedSeconds)> OnLongTseCallBegins;
    std::function<void()> OnLongTseCallEnds;
    void LongTseCallBegins(int allowedSeconds);
    void LongTseCallEnds();

signals:
    void WakeRequested();

private:
    void LogOnCoreThread(const QString& Msg);
    void ReadHttpSetting(const QString& line);
    int SaveMsg(const QString& line);

    bool endRequested_ = false;
    int pollHolds_ = 0;
    bool passRunning_ = false;
    std::vector<std::function<void()>> deferred_;
    std::recursive_mutex logMutex_;
    bool logFileOpen_ = false;
    plat::File* logFile_ = nullptr;  // the log file while Log writes it
};

// Set by the signal handler when the platform ends the session. The core
// sees the request only once the running job pass returns; the pass reads
// this flag to stop after the job in hand instead of answering its whole scan.
extern std::atomic<bool> SessionEndPending;

// An Admin session at the TSE, the one way the program logs in: the login,
// the TSE's clock set, the moment of the next setting noted; the logout when
// it ends. What the login gave is kept for the caller's log line.
class TAdminSession {
public:
    enum class Clock { Set, Leave };
    explicit TAdminSession(TCore& core, Clock clock = Clock::Set);
    ~TAdminSession();
    TAdminSession(const TAdminSession&) = delete;
    TAdminSession& operator=(const TAdminSession&) = delete;

    int32_t loginTseRes = 0;   // the login call's result
    int32_t loginResult = 0;   // the TSE's answer to the login
    int16_t remainingRetries = 0;
    int32_t timeTseRes = 0;    // the time update's result

    // Sets the clock once more (after a change of the life cycle).
    void SetClockAgain();

private:
    TCore& core_;
};
