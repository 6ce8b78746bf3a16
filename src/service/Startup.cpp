// The start-up sequence: from a freshly created service to the running poll
// timer. Opens the TSE, offers to reactivate a deactivated one, initialises a
// new one, checks its certification and fills the technical data.
#include "service/Service.h"

#include "core/TseUsers.h"
#include "jobs/JournalRecovery.h"
#include "tse/TseLib_C_Dekl.h"
#include "operator/OpenTransactions.h"
#include "operator/Operator.h"
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Dialogs.h"
#include "platform/Monotonic.h"
#include "platform/Paths.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <exception>

namespace {

constexpr uint32_t FirstOpenTimeout = 5000;
constexpr int32_t SecondOpenPause = 2500;
constexpr uint32_t SecondOpenTimeout = 10000;
constexpr int32_t SplashTime = 4000;

// Certificates of this certification generation lose their validity with the
// end of this month (yyyymm).
const QString ExpiringCertificationEnding = QStringLiteral("2020");
const QString LastValidMonth = QStringLiteral("202407");

// The device path as the library needs it: the system's drive-letter path in
// native core, as 8-bit text.
std::string DevicePath(const QString& tsePfad)
{
    return plat::QToAnsi(plat::NativePath(tsePfad));
}

// The TSE's serial number: the first value of the serial-number list.
std::string FirstSerialNumber(std::string serialNumbers)
{
    return plat::QToAnsi(GetTerm(serialNumbers, QChar('|')));
}

// The buttons wait, disabled, for the end of the start-up. An error that
// ends it early leaves them working; the stops without a TSE disable them.
class EnableButtonsOnError {
public:
    explicit EnableButtonsOnError(TCore& core) : core_(core), errors_(std::uncaught_exceptions()) {}
    ~EnableButtonsOnError()
    {
        if (std::uncaught_exceptions() != errors_) core_.Shown.EnableAll(true);
    }
    EnableButtonsOnError(const EnableButtonsOnError&) = delete;
    EnableButtonsOnError& operator=(const EnableButtonsOnError&) = delete;

private:
    TCore& core_;
    int errors_;
};

}  // namespace

void TService::CMSTART()
{
    TCore& core = core_;
    // Pauses, waits and dialogs handle events, among them a granted close
    // and an end request, which closes the open dialog with its safe choice:
    // the sequence must not go on then.

    // 1. A clean view for this run.
    core.Shown.Clear();

    // 2. Start line.
    const QString mode = TseDebug ? QStringLiteral("Vok_TSE gestartet (DebugMode) auf ")
                                  : QStringLiteral("Vok_TSE gestartet auf ");
    core.Log(mode + GetComputerName() + ", " + core.AktVerz);

    // 3. The splash stays long enough to be read. core.Unattended nobody reads
    // it: a restart after a crash answers its first job without that pause.
    if (!core.Unattended) core.Delay(SplashTime);
    if (core.EndRequested()) return;
    core.Shown.SetSplashShown(false);

    // 4. Configuration and the wait for the TSE's drive. An error raised here
    // ends the sequence with the TSE unopened; the window's error box shows it
    // and the buttons work as after any start.
    {
        EnableButtonsOnError buttons(core);
        core.LoadConfig();
    }
    if (core.EndRequested()) return;

    // 5. Open the TSE; a stick that has just been plugged in gets a second
    // chance with a longer timeout.
    tse_openDirect(DevicePath(core.TSE_Pfad), FirstOpenTimeout);
    if (TseRes != 0) {
        core.Log("|Öffnen der TSE nicht möglich (" + core.ErgStr() + ") - 1. Versuch");
        core.Delay(SecondOpenPause);
        if (core.EndRequested()) return;
        tse_openDirect(DevicePath(core.TSE_Pfad), SecondOpenTimeout);
        if (TseRes != 0) {
            core.Log("Zugriff auf TSE nicht möglich (" + core.ErgStr() + ")");
            core.Shown.EnableAll(false);
            return;
        }
    }

    // 6. A deactivated TSE signs nothing: reactivate it or end the program.
    if (tse_getLifeCycleState() == "deaktiviert") {
        core.Log("Verwendung einer deaktivierten TSE");
        plat::Beep();
        if (!plat::ConfirmYesNo("ACHTUNG! Die TSE wurde bereits deaktiviert.\r\n"
                                "Soll sie wieder aktiviert werden?")) {
            EndProgram();
            return;
        }
        if (core.EndRequested()) return;
        core.Log("TSE wird aktiviert");
        {
            TAdminSession admin(core);
            tse_activateTSE();
            admin.SetClockAgain();
        }
        core.Log("TSE Status: " + plat::AnsiToQ(tse_getLifeCycleState()));
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
            const QString msg = "Initialisierung der TSE nicht moeglich (" + core.ErgStr() + ")";
            core.Log(msg);
            core.Shown.AddNotice(msg);
            core.Shown.EnableAll(false);
            return;
        }
        TseSN = FirstSerialNumber(newSerialNumbers);
        Log_TSE_Daten(core);
    } else if (serialRes != 0) {
        // 9.
        const QString msg = "Lesen der Seriennummer nicht moeglich (" + core.ErgStr() + ")";
        core.Log(msg);
        core.Shown.AddNotice(msg);
        core.Shown.EnableAll(false);
        return;
    }

    // 10. Certificates of this certification lost their validity after July 2024.
    const QString certificationId = plat::AnsiToQ(tse_getCertificationId());
    if (certificationId.endsWith(ExpiringCertificationEnding)) {
        if (plat::FormatDateTime("yyyymm", plat::Now()) > LastValidMonth) {
            const QString msg = QStringLiteral("ACHTUNG! Das Zertifikat der TSE ist ungültig.");
            core.Log(msg);
            core.Shown.AddNotice(msg);
            plat::Beep();
            plat::ShowInfo(
                "ACHTUNG! Das Zertifikat der TSE ist ungültig. Das Programm läuft zwar trotzdem,\r\n"
                "das Finanzamt wird aber die TSE-Daten nicht anerkennen. Ersetzen Sie deshalb\r\n"
                "schnellstmöglich die TSE !!!");
            if (core.EndRequested()) return;
        } else {
            core.Shown.AddNotice(QStringLiteral("Das TSE-Zertifikat wird am 01.08.24 ungültig."));
        }
    }

    // 11. The service runs in the background from here on.
    emit core.Shown.MinimizeRequested();

    // 12.
    if (TseLogAll || core.NewVers) Log_TSE_Daten(core);

    // 13. Also sets the TSE's clock and the moment of its next update.
    TSE_Daten_abfragen(core);

    // Jobs the TSE began before the service last ended are answered from
    // the journal, never signed again; only then, unattended, is what a
    // crash left open finished as the operator would. Both before any job.
    RecoverFromJournal(core);
    FinishOpenTransactionsUnattended(core);
    if (core.EndRequested()) return;

    // 14. Jobs are taken from now on; the operator's buttons work (the
    // open-transactions button as the technical data left it).
    core.Shown.EnableTseButtons(true);
    core.PollSwitchedOn = true;
}

void TService::Init_TSE()
{
    TCore& core = core_;
    core.Log("° ");
    core.Log("°>>>>>>>>>> Neue TSE erkannt - Initialisierung gestartet <<<<<<<<<<");
    core.Shown.AddOperation(QStringLiteral("Neue TSE erkannt - Initialisierung gestartet"));

    // Every step runs whatever the earlier ones gave; the serial-number read
    // after the initialisation decides whether the TSE is usable.
    tse_initializePinValues(TseAdminPin, TseAdminPuk, TseTimeAdminPin, TseTimeAdminPuk);
    core.Log("  User eingerichtet   " + core.ErgStr());

    int32_t loginResult = 0;
    int16_t remainingRetries = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
    core.Log("  Login Admin         " + core.ErgStr() + "   Login=" + QString::fromStdString(ErgStrOf(loginResult)));

    tse_initialize();
    core.Log("  TSE initialisieren  " + core.ErgStr());

    loginResult = 0;
    remainingRetries = 0;
    tse_authenticateUser(TseTimeAdminUser, TseTimeAdminPin, loginResult, remainingRetries);
    core.Log("  Login TimeAdmin     " + core.ErgStr() + "   Login=" + QString::fromStdString(ErgStrOf(loginResult)));

    tse_updateTime();
    core.Log("  Uhrzeit setzen      " + core.ErgStr());

    tse_logOut(TseTimeAdminUser);
    core.Log("  Logout TimeAdmin    " + core.ErgStr());

    tse_logOut(TseAdminUser);
    core.Log("  Logout Admin        " + core.ErgStr());

    core.Log("° ");
}
