// The program's one window. It owns all program state; its event handlers
// hold the program's logic. The methods are defined across the folders that
// own them:
//   shell/MainForm.cpp   creation, destruction, Delay and the waits, timers,
//                        close protocol, end-of-session, deferred requests
//   shell/Log.cpp        Log, SaveMsg, ZelnorsTestLog
//   shell/Config.cpp     LoadConfig, SaveConfig
//   shell/Startup.cpp    CMSTART, Init_TSE, ReOpenTSE
//   jobs/                Abarbeiten_TseJobs (the job pass), GetFirstCert
//   operator/            TSE_Daten_abfragen, Log_TSE_Daten, the four buttons,
//                        BlinkTimerTimer, ExpCert
#pragma once

#include "platform/DateTime.h"

#include <QEvent>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QFileSystemWatcher;
class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TThread_Exp;
struct TJobPassState;
namespace plat { class File; class ServiceNotifier; }

class TMainForm : public QWidget {
    Q_OBJECT

public:
    // args: the command-line arguments without the program name.
    explicit TMainForm(const QStringList& args, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The private start message, posted by FormCreate.
    static constexpr QEvent::Type CM_STARTEN = QEvent::Type(QEvent::User + 0x65);

    // ---- State fields ---------------------------------------------------
    bool WinDown = false;
    QString AktVerz;
    QString DatenVerz;
    QString ExpVerz;
    QString TSE_Pfad;
    bool NewVers = false;
    QString Param;
    TThread_Exp* Thread_Exp = nullptr;
    std::atomic<bool> Exp_running{false};
    QStringList TmpLogListe;
    uint32_t LastSavedTANr = 0;
    // KASSEN= of the INI: the client ids allowed to sign (an entry ending in
    // "*" allows every id it begins); empty allows every id.
    QStringList AllowedClients;
    int32_t TimeSyncInterval = 0;
    // When the TSE's time is due again, on plat::MonotonicMs: the wall clock
    // may be set back or leave summer time. Also written by the export worker.
    std::atomic<int64_t> NextTimeSet{0};
    QString JobListe;
    bool ProgEnde = false;
    bool TSE_running = false;
    int32_t ScanAnz = 0;
    // What the job pass keeps between passes (answers still to be written,
    // errors already reported); made by the first pass.
    std::shared_ptr<TJobPassState> JobState;

    // ---- Controls ---------------------------------------------------------
    QLabel* Label1 = nullptr;  // "Letzte Vorgänge"
    QLabel* Label2 = nullptr;  // "Fehler-Meldungen  &  Hinweise"
    QLabel* Label3 = nullptr;  // "Registrierte Kassen"
    QLabel* Label4 = nullptr;  // "Technische Daten"
    QLabel* Label5 = nullptr;  // "letzte Sig.Nr."
    QLabel* Label6 = nullptr;  // "letzte TA.Nr."
    QLabel* Label7 = nullptr;  // "Dieser Vorgang kann einige Minuten dauern"
    QLabel* lbSigNr = nullptr;
    QLabel* lbTANr = nullptr;
    QLabel* lbVersion = nullptr;
    QLabel* lbWaitMsg = nullptr;
    QLabel* lbVokLink = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QListWidget* liTSE = nullptr;
    QListWidget* liKas = nullptr;
    QListWidget* liTA = nullptr;
    QListWidget* liErr = nullptr;
    QPushButton* Btn_TAFree = nullptr;
    QPushButton* Btn_EXP = nullptr;
    QPushButton* Btn_Cer = nullptr;
    QPushButton* Btn_Deactiv = nullptr;
    QFrame* paCopyright = nullptr;
    QFrame* paWAIT = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* BlinkTimer = nullptr;
    // Instant hand-off: a change in the job directory starts a job pass at
    // once where a tick of Timer1 could start one; the poll stays the fallback.
    QFileSystemWatcher* JobWatcher = nullptr;

    // ---- Application shell ------------------------------------------------
    void FormCreate();
    void FormDestroy();
    bool FormCloseQuery();     // true: the close is granted
    void WMQUERYENDSESSION();  // the platform ends the session
    void Timer1Timer();

    // Pauses about ms milliseconds while window events are handled; handles
    // them at least once, also for ms <= 0. Sleeps between events.
    void Delay(int32_t ms);
    // Handles window events while busy() holds, sleeping between events.
    // WakeWaits (any thread) makes a waiting loop test again at once.
    void WaitWhile(const std::function<bool()>& busy);
    void WakeWaits();

    // A request that needs the TSE while an operation holds TSE_running
    // (which can only be a request handled inside that operation's own
    // wait) runs once the operation has ended; otherwise it runs now.
    void RunWhenTseIdle(std::function<void()> request);
    // Sets TSE_running; clearing it starts what was deferred meanwhile.
    void SetTseRunning(bool on);

    // Ends the program without the close question (refused reactivation).
    void EndProgram();
    // The platform or the program itself has asked for the end: code that
    // goes on after a dialog or a pause stops instead of starting new work.
    bool EndRequested() const;

    void Log(const QString& Msg);           // safe from any thread

    // Around a TSE call on the window thread that may outlast systemd's
    // watchdog (a data export): its time is stretched to `allowed` and set
    // back afterwards.
    void LongTseCallBegins(int allowedSeconds);
    void LongTseCallEnds();
    void ZelnorsTestLog(const QString& Msg);

    void LoadConfig();
    void SaveConfig();

    void CMSTART();
    void Init_TSE();
    void ReOpenTSE(int32_t timeout);

    QString ErgStr() const;

    // ---- Job processing ------------------------------------------------
    void Abarbeiten_TseJobs();
    QString GetFirstCert();

    // ---- Operator functions --------------------------------------------
    void TSE_Daten_abfragen();
    void Log_TSE_Daten();
    void Btn_EXPClick();
    void BlinkTimerTimer();
    int32_t ExpCert();
    void Btn_CerClick();
    void Btn_TAFreeClick();
    void Btn_DeactivClick();

    // ---- Settings that tests and the unattended mode change -------------
    // Every Delay lasts ms * DelayFactor (tests shorten the fixed pauses).
    double DelayFactor = 1.0;

    // Nobody is at the window (--unattended): the start finishes what a
    // crash left open, and no splash is shown that nobody could read.
    bool Unattended = false;

    // CMSTART has returned, whichever of its end states it reached.
    bool StartupFinished = false;
    // CMSTART has switched the poll timer on. A handler that stops the
    // timer for a while may switch it on again only then.
    bool PollSwitchedOn = false;

    // Lines of a list control, for reading the window's state.
    static QStringList Lines(const QListWidget* list);

signals:
    void WakeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    int SaveMsg(const QString& line);   // with the log file open or not; 0 or a write's error
    void LogOnWindowThread(const QString& Msg);
    void BuildControls();
    void WatchJobDirectory();
    void CloseWhenNoDialogOpen();
    void ServiceStarted();               // READY=1, then the watchdog's pings
    void ReportToService(int err);       // a failed message to systemd, logged when it begins

    bool handOffQueued_ = false;        // a pass from a directory notice is on its way

    bool logFileOpen_ = false;
    plat::File* logFile_ = nullptr;     // the log file while Log writes it
    QStringList args_;                  // command line, read by FormCreate
    bool closeDeferred_ = false;        // a close waits for the running operation
    bool ending_ = false;               // EndProgram: close without a question
    std::vector<std::function<void()>> deferred_;
    std::recursive_mutex logMutex_;
    std::unique_ptr<plat::ServiceNotifier> notifier_;
    int lastNotifyError_ = 0;
};

// The one instance, through which the export worker reaches the window.
extern TMainForm* MainForm;

// Set by the signal handler when the platform ends the session. The window
// sees the request only once the running job pass returns; the pass reads
// this flag to stop after the job in hand instead of answering its whole scan.
extern std::atomic<bool> SessionEndPending;

// The TSE users and their secrets: fixed in the program, the same for every
// TSE. Set when a new TSE is initialised; the Admin PIN opens every login.
inline constexpr const char* TseAdminUser = "Admin";
inline constexpr const char* TseAdminPin = "RubXen58";
inline constexpr const char* TseAdminPuk = "RUBXnPk58!";
inline constexpr const char* TseTimeAdminUser = "TimeAdmin";
inline constexpr const char* TseTimeAdminPin = "RubTol58";
inline constexpr const char* TseTimeAdminPuk = "RUBToLPkq!";
