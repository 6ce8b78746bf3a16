// The start-up sequence: from a freshly created window to the running poll
// timer. Opens the TSE, offers to reactivate a deactivated one, initialises a
// new one, checks its certification and fills the technical-data view. Also
// the reopening of the TSE that the export paths use.
#include "jobs/JournalRecovery.h"
#include "tse/TseLib_C_Dekl.h"
#include "operator/OpenTransactions.h"
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/Monotonic.h"
#include "platform/Paths.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QFrame>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <exception>

namespace {

constexpr uint32_t FirstOpenTimeout = 5000;
constexpr int32_t SecondOpenPause = 2500;
constexpr uint32_t SecondOpenTimeout = 10000;
constexpr int32_t SplashTime = 4000;
constexpr int PollInterval = 250;

// Certificates of this certification generation lose their validity with the
// end of this month (yyyymm).
const QString ExpiringCertificationEnding = QStringLiteral("2020");
const QString LastValidMonth = QStringLiteral("202407");

// The device path as the library needs it: the system's drive-letter path in
// native form, as 8-bit text.
std::string DevicePath(const QString& tsePfad)
{
    return plat::QToAnsi(plat::NativePath(tsePfad));
}

// The TSE's serial number: the first value of the serial-number list.
std::string FirstSerialNumber(std::string serialNumbers)
{
    return plat::QToAnsi(GetTerm(serialNumbers, QChar('|')));
}

// Marks the start-up as finished however CMSTART is left, also by an error
// raised inside it, and also when the window is gone by then.
class StartupFinishedGuard {
public:
    explicit StartupFinishedGuard(TMainForm* form) : form_(form) {}
    ~StartupFinishedGuard()
    {
        if (form_) form_->StartupFinished = true;
    }
    StartupFinishedGuard(const StartupFinishedGuard&) = delete;
    StartupFinishedGuard& operator=(const StartupFinishedGuard&) = delete;

private:
    QPointer<TMainForm> form_;
};

void DisableTseButtons(TMainForm& form)
{
    form.Btn_TAFree->setEnabled(false);
    form.Btn_EXP->setEnabled(false);
    form.Btn_Cer->setEnabled(false);
    form.Btn_Deactiv->setEnabled(false);
}

// The buttons wait, disabled, for the end of the start-up. An error that
// ends it early leaves them working; the stops without a TSE disable them.
class EnableButtonsOnError {
public:
    explicit EnableButtonsOnError(TMainForm& form) : form_(&form), errors_(std::uncaught_exceptions()) {}
    ~EnableButtonsOnError()
    {
        if (std::uncaught_exceptions() == errors_ || !form_) return;
        for (QPushButton* b : {form_->Btn_TAFree, form_->Btn_EXP, form_->Btn_Cer, form_->Btn_Deactiv})
            b->setEnabled(true);
    }
    EnableButtonsOnError(const EnableButtonsOnError&) = delete;
    EnableButtonsOnError& operator=(const EnableButtonsOnError&) = delete;

private:
    QPointer<TMainForm> form_;
    int errors_;
};

}  // namespace

void TMainForm::CMSTART()
{
    StartupFinishedGuard finished(this);
    // Pauses, waits and dialogs handle window events, among them a granted
    // close, which destroys the window, and an end request, which closes the
    // open dialog with its safe choice: the sequence must not go on then.
    const QPointer<TMainForm> self(this);

    // 1. A clean window for this run.
    liTSE->clear();
    liErr->clear();
    liTA->clear();
    liKas->clear();

    // 2. Start line.
    const QString mode = TseDebug ? QStringLiteral("Vok_TSE gestartet (DebugMode) auf ")
                                  : QStringLiteral("Vok_TSE gestartet auf ");
    Log(mode + GetComputerName() + ", " + AktVerz);

    // 3. The splash stays long enough to be read. Unattended nobody reads
    // it: a restart after a crash answers its first job without that pause.
    if (!Unattended) Delay(SplashTime);
    if (!self || EndRequested()) return;
    paCopyright->hide();

    // 4. Configuration and the wait for the TSE's drive. An error raised here
    // ends the sequence with the TSE unopened; the window's error box shows it
    // and the buttons work as after any start.
    {
        EnableButtonsOnError buttons(*this);
        LoadConfig();
    }
    if (!self || EndRequested()) return;

    // 5. Open the TSE; a stick that has just been plugged in gets a second
    // chance with a longer timeout.
    tse_openDirect(DevicePath(TSE_Pfad), FirstOpenTimeout);
    if (TseRes != 0) {
        Log("|Öffnen der TSE nicht möglich (" + ErgStr() + ") - 1. Versuch");
        Delay(SecondOpenPause);
        if (!self || EndRequested()) return;
        tse_openDirect(DevicePath(TSE_Pfad), SecondOpenTimeout);
        if (TseRes != 0) {
            Log("Zugriff auf TSE nicht möglich (" + ErgStr() + ")");
            DisableTseButtons(*this);
            return;
        }
    }

    // 6. A deactivated TSE signs nothing: reactivate it or end the program.
    if (tse_getLifeCycleState() == "deaktiviert") {
        Log("Verwendung einer deaktivierten TSE");
        plat::Beep();
        if (!plat::ConfirmYesNo("ACHTUNG! Die TSE wurde bereits deaktiviert.\r\n"
                                "Soll sie wieder aktiviert werden?")) {
            if (self) EndProgram();
            return;
        }
        if (!self || EndRequested()) return;
        Log("TSE wird aktiviert");
        int32_t loginResult = 0;
        int16_t remainingRetries = 0;
        tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
        tse_updateTime();
        tse_activateTSE();
        tse_updateTime();
        tse_logOut(TseAdminUser);
        Log("TSE Status: " + plat::AnsiToQ(tse_getLifeCycleState()));
    }

    // 7. The serial number addresses the TSE's key in every later call.
    const std::string serialNumbers = tse_exportSerialNumbers();
    const int32_t serialRes = TseRes;
    TseSN = FirstSerialNumber(serialNumbers);

    if (serialRes == ErrorSeApiNotInitialized) {
        // 8. A new TSE: initialise it; the serial number tells whether that worked.
        Init_TSE();
        const std::string newSerialNumbers = tse_exportSerialNumbers();
        if (TseRes != 0) {
            const QString msg = "Initialisierung der TSE nicht moeglich (" + ErgStr() + ")";
            Log(msg);
            liErr->addItem(msg);
            DisableTseButtons(*this);
            return;
        }
        TseSN = FirstSerialNumber(newSerialNumbers);
        Log_TSE_Daten();
    } else if (serialRes != 0) {
        // 9.
        const QString msg = "Lesen der Seriennummer nicht moeglich (" + ErgStr() + ")";
        Log(msg);
        liErr->addItem(msg);
        DisableTseButtons(*this);
        return;
    }

    // 10. Certificates of this certification lost their validity after July 2024.
    const QString certificationId = plat::AnsiToQ(tse_getCertificationId());
    if (certificationId.endsWith(ExpiringCertificationEnding)) {
        if (plat::FormatDateTime("yyyymm", plat::Now()) > LastValidMonth) {
            const QString msg = QStringLiteral("ACHTUNG! Das Zertifikat der TSE ist ungültig.");
            Log(msg);
            liErr->addItem(msg);
            plat::Beep();
            plat::ShowInfo(
                "ACHTUNG! Das Zertifikat der TSE ist ungültig. Das Programm läuft zwar trotzdem,\r\n"
                "das Finanzamt wird aber die TSE-Daten nicht anerkennen. Ersetzen Sie deshalb\r\n"
                "schnellstmöglich die TSE !!!");
            if (!self || EndRequested()) return;
        } else {
            liErr->addItem(QStringLiteral("Das TSE-Zertifikat wird am 01.08.24 ungültig."));
        }
    }

    // 11. The service runs in the background from here on.
    showMinimized();

    // 12.
    if (TseLogAll || NewVers) Log_TSE_Daten();

    // 13. Also sets the TSE's clock and the moment of its next update.
    TSE_Daten_abfragen();

    // Jobs the TSE began before the service last ended are answered from
    // the journal, never signed again; only then, unattended, is what a
    // crash left open finished as the operator would. Both before any job.
    RecoverFromJournal(*this);
    FinishOpenTransactionsUnattended(*this);
    if (!self) return;

    // 14. Jobs are taken from now on; the operator's buttons work (the
    // open-transactions button as the technical data left it).
    Btn_EXP->setEnabled(true);
    Btn_Cer->setEnabled(true);
    Btn_Deactiv->setEnabled(true);
    PollSwitchedOn = true;
    Timer1->start(PollInterval);
}

void TMainForm::Init_TSE()
{
    Log("° ");
    Log("°>>>>>>>>>> Neue TSE erkannt - Initialisierung gestartet <<<<<<<<<<");
    liTA->addItem(QStringLiteral("Neue TSE erkannt - Initialisierung gestartet"));

    // Every step runs whatever the earlier ones gave; the serial-number read
    // after the initialisation decides whether the TSE is usable.
    tse_initializePinValues(TseAdminPin, TseAdminPuk, TseTimeAdminPin, TseTimeAdminPuk);
    Log("  User eingerichtet   " + ErgStr());

    int32_t loginResult = 0;
    int16_t remainingRetries = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
    Log("  Login Admin         " + ErgStr() + "   Login=" + QString::fromStdString(ErgStrOf(loginResult)));

    tse_initialize();
    Log("  TSE initialisieren  " + ErgStr());

    loginResult = 0;
    remainingRetries = 0;
    tse_authenticateUser(TseTimeAdminUser, TseTimeAdminPin, loginResult, remainingRetries);
    Log("  Login TimeAdmin     " + ErgStr() + "   Login=" + QString::fromStdString(ErgStrOf(loginResult)));

    tse_updateTime();
    Log("  Uhrzeit setzen      " + ErgStr());

    tse_logOut(TseTimeAdminUser);
    Log("  Logout TimeAdmin    " + ErgStr());

    tse_logOut(TseAdminUser);
    Log("  Logout Admin        " + ErgStr());

    Log("° ");
}

// Runs on the export worker thread too: it touches only the TSE, TseRes and
// the atomic NextTimeSet, never a widget or the log.
void TMainForm::ReOpenTSE(int32_t timeout)
{
    tse_close();
    tse_openDirect(DevicePath(TSE_Pfad), static_cast<uint32_t>(timeout));
    if (TseRes != 0) return;

    int32_t loginResult = 0;
    int16_t remainingRetries = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
    tse_updateTime();
    NextTimeSet = plat::MonotonicMs() + (static_cast<int64_t>(TimeSyncInterval) - 1) * 1000;
    tse_logOut(TseAdminUser);
}
