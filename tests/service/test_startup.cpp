// The start-up sequence against the software TSE: a new TSE, an ordinary
// start, failing opens, a deactivated TSE, the certificate check, the
// configuration's effects, and the reopening used by the exports.
#include "platform/DateTime.h"
#include "core/TseUsers.h"
#include "operator/Operator.h"
#include "support/AppFixture.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QRegularExpression>
#include <chrono>

using namespace testenv;

namespace {

const QString NewTseHeading = ">>>>>>>>>> Neue TSE erkannt - Initialisierung gestartet <<<<<<<<<<";
const QString RecordHeading = ">>>>>>>>>> TECHNISCHE DATEN DER TSE <<<<<<<<<<";
const QString ReactivationQuestion =
    "confirm: ACHTUNG! Die TSE wurde bereits deaktiviert.\r\nSoll sie wieder aktiviert werden?";

// The program log's lines without their time stamps.
QStringList WithoutStamps(const QString& text)
{
    static const QRegularExpression stamp(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d  )");
    QStringList lines = text.split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QString& line : lines) line.remove(stamp);
    return lines;
}

// A clock that runs on from noon of the given day.
void RunClockFrom(int year, int month, int day)
{
    const auto start = std::chrono::steady_clock::now();
    const plat::TDateTime base = plat::EncodeDateTime(year, month, day, 12);
    plat::SetNowOverride([start, base] {
        return base + std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 86400.0;
    });
}

}  // namespace

class StartupTest : public AppFixture {
protected:
    // A TSE that an earlier run has initialised (and maybe deactivated);
    // the program log begins afresh.
    void PrepareUsedTse(bool deactivate = false)
    {
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartAndWaitRunning());
        if (deactivate) {
            int32_t loginResult = 0;
            int16_t retries = 0;
            tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, retries);
            tse_deactivateTSE();
            ASSERT_EQ(TseRes, 0);
            tse_logOut(TseAdminUser);
        }
        service.reset();
        QFile::remove(progDir + "/Vok_TSE.LOG");
    }

    QStringList Log() const { return WithoutStamps(LogText()); }

    bool AnyTseButtonEnabled() const
    {
        return core().Shown.Enabled(TShownState::Button::TaFree) || core().Shown.Enabled(TShownState::Button::Export) || core().Shown.Enabled(TShownState::Button::Certificates) ||
               core().Shown.Enabled(TShownState::Button::Deactivate);
    }
};

TEST_F(StartupTest, NewTseIsInitialisedAndItsDataRecorded)
{
    PlugTse();
    WriteIni();
    ASSERT_TRUE(StartAndWaitRunning());

    const QStringList log = Log();
    const qsizetype head = log.indexOf(NewTseHeading);
    ASSERT_GT(head, 0);
    EXPECT_EQ(log.mid(head - 1, 11), (QStringList{" ", NewTseHeading,
                                                   "  User eingerichtet   0000h",
                                                   "  Login Admin         0000h   Login=0000h",
                                                   "  TSE initialisieren  0000h",
                                                   "  Login TimeAdmin     0000h   Login=0000h",
                                                   "  Uhrzeit setzen      0000h",
                                                   "  Logout TimeAdmin    0000h",
                                                   "  Logout Admin        0000h", " ", " "}));
    EXPECT_EQ(log.value(head + 10), RecordHeading);
    EXPECT_EQ(log.count(RecordHeading), 1);
    EXPECT_TRUE(core().Shown.Operations().contains("Neue TSE erkannt - Initialisierung gestartet"));
    EXPECT_EQ(TseSN.size(), 64u);
}

TEST_F(StartupTest, NewTseWithLogSwitchRecordsItsDataTwice)
{
    PlugTse();
    WriteIni();
    ASSERT_TRUE(StartAndWaitRunning({"/L"}));

    const QStringList log = Log();
    EXPECT_EQ(log.count(RecordHeading), 2);
    EXPECT_EQ(log.last(), " ");  // the second record ends the start
}

TEST_F(StartupTest, OrdinaryStartLogsOnlyItsStartLine)
{
    PrepareUsedTse();
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_EQ(Log(), (QStringList{"Log-Datei erstellt",
                                  "Vok_TSE gestartet auf " + GetComputerName() + ", " + core().AktVerz}));
    EXPECT_TRUE(minimized);
    EXPECT_FALSE(core().Shown.SplashShown());
    EXPECT_FALSE(core().Shown.TechData().isEmpty());
    EXPECT_TRUE(core().Shown.Notices().isEmpty());
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST_F(StartupTest, OpenSucceedsAtTheSecondAttempt)
{
    PrepareUsedTse();
    WriteTseFaults("se_openDirect = 0x1004 once\n");
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_EQ(Log().filter("TSE nicht möglich"), QStringList{"Öffnen der TSE nicht möglich (1004h) - 1. Versuch"});
    EXPECT_EQ(core().Shown.Operations().filter("TSE nicht möglich"), QStringList{});
    EXPECT_TRUE(minimized);
}

TEST_F(StartupTest, WithoutTseTheWindowStaysIdle)
{
    PlugTse();
    WriteIni();
    WriteTseFaults("se_openDirect = 0x1004 once\nse_openDirect = 0x1005\n");
    EXPECT_FALSE(StartAndWaitRunning());
    ASSERT_TRUE(core().StartupFinished);

    EXPECT_EQ(Log().filter("TSE nicht möglich"),
              (QStringList{"Öffnen der TSE nicht möglich (1004h) - 1. Versuch",
                           "Zugriff auf TSE nicht möglich (1005h)"}));
    EXPECT_FALSE(AnyTseButtonEnabled());
    EXPECT_FALSE(minimized);
    EXPECT_TRUE(core().Shown.TechData().isEmpty());
}

TEST_F(StartupTest, UnreadableSerialNumberStopsTheStart)
{
    PlugTse();
    WriteIni();
    const struct {
        QByteArray faults;
        QString error;
    } cases[] = {
        {"se_initialize = 0x3010\n", "Initialisierung der TSE nicht moeglich (3015h)"},  // the TSE stays new
        {"se_exportSerialNumbers = 0x3022\n", "Lesen der Seriennummer nicht moeglich (3022h)"},
    };
    for (const auto& c : cases) {
        WriteTseFaults(c.faults);
        EXPECT_FALSE(StartAndWaitRunning());
        EXPECT_EQ(core().Shown.Notices(), QStringList{c.error});
        EXPECT_EQ(Log().last(), c.error);
        EXPECT_FALSE(AnyTseButtonEnabled());
        EXPECT_FALSE(minimized);
        service.reset();
    }
}

TEST_F(StartupTest, ConfigurationErrorEndsTheStartBeforeTheTseIsOpened)
{
    PlugTse();
    WriteFile(progDir + "/Vok_TSE.INI", "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=x\r\n");
    EXPECT_FALSE(StartAndWaitRunning());
    ASSERT_TRUE(core().StartupFinished);

    EXPECT_EQ(dialogs.asked.filter(QRegularExpression("^error: ")).size(), 1);
    EXPECT_TRUE(core().Shown.TechData().isEmpty());
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::Export));
}

TEST_F(StartupTest, DeactivatedTseIsReactivatedOnYes)
{
    PrepareUsedTse(true);
    dialogs.confirmAnswers = {true};
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_EQ(dialogs.asked, QStringList{ReactivationQuestion});
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(Log().mid(2, 3),
              (QStringList{"Verwendung einer deaktivierten TSE", "TSE wird aktiviert", "TSE Status: aktiv"}));
}

TEST_F(StartupTest, FailedReactivationIsReportedAndTheStartGoesOn)
{
    PrepareUsedTse(true);
    WriteTseFaults("se_activateTSE = 0x3029\n");
    dialogs.confirmAnswers = {true};
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_TRUE(Log().contains("TSE Status: deaktiviert"));
}

TEST_F(StartupTest, RefusedReactivationEndsTheProgramWithoutFurtherQuestion)
{
    PrepareUsedTse(true);
    dialogs.confirmAnswers = {false};
    Start();
    ASSERT_TRUE(RunUntil([this] { return closed; }));
    service.reset();

    EXPECT_EQ(dialogs.asked, QStringList{ReactivationQuestion});
    const QStringList log = Log();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.mid(log.size() - 2), (QStringList{"Verwendung einer deaktivierten TSE", "Vok_TSE beendet"}));
}

TEST_F(StartupTest, PermanentlyDisabledTseGetsNoQuestion)
{
    PrepareUsedTse();
    WriteTseFaults("se_getLifeCycleState value 5\n");
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_FALSE(LogText().contains("deaktivierten"));
}

TEST_F(StartupTest, CertificationOf2020IsNoticedUntilJuly2024)
{
    RunClockFrom(2024, 7, 31);
    PlugTse();
    WriteTseSettings("certificationId=BSI-K-TR-0000-2020\n");
    WriteIni();
    ASSERT_TRUE(StartAndWaitRunning());

    EXPECT_EQ(core().Shown.Notices(), QStringList{"Das TSE-Zertifikat wird am 01.08.24 ungültig."});
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_FALSE(LogText().contains("Zertifikat der TSE"));
}

TEST_F(StartupTest, CertificationOf2020IsInvalidFromAugust2024)
{
    RunClockFrom(2024, 8, 1);
    PlugTse();
    WriteTseSettings("certificationId=BSI-K-TR-0000-2020\n");
    WriteIni();
    ASSERT_TRUE(StartAndWaitRunning());

    const QString warning = "ACHTUNG! Das Zertifikat der TSE ist ungültig.";
    EXPECT_EQ(core().Shown.Notices(), QStringList{warning});
    EXPECT_TRUE(Log().contains(warning));
    EXPECT_EQ(dialogs.asked,
              QStringList{"info: ACHTUNG! Das Zertifikat der TSE ist ungültig. Das Programm läuft zwar trotzdem,\r\n"
                          "das Finanzamt wird aber die TSE-Daten nicht anerkennen. Ersetzen Sie deshalb\r\n"
                          "schnellstmöglich die TSE !!!"});
    EXPECT_EQ(dialogs.beeps, 1);
}

TEST_F(StartupTest, ConfigurationOfAnotherVersionRecordsTheTseData)
{
    PrepareUsedTse();
    WriteFile(progDir + "/Vok_TSE.INI", "[VOKTAR-TSE]\r\nVERSION=2.0\r\nTSE_PFAD=E:\\\r\nEXP_TANR=0\r\n");
    ASSERT_TRUE(StartAndWaitRunning());

    const QStringList log = Log();
    EXPECT_EQ(log.count(RecordHeading), 1);
    EXPECT_EQ(log.last(), " ");
}

TEST_F(StartupTest, ReOpenTseSetsTheNextClockUpdateOnlyWhenOpened)
{
    PrepareUsedTse();
    ASSERT_TRUE(StartAndWaitRunning());
    core().HoldPolling();
    const int64_t now = plat::MonotonicMs();
    plat::SetMonotonicOverride([now] { return now; });

    core().NextTimeSet = 1000;
    WriteTseFaults("se_openDirect = 0x1005\n");
    core().ReOpenTSE(5000);
    EXPECT_EQ(TseRes, 0x1005);
    EXPECT_EQ(core().NextTimeSet, 1000);

    WriteTseFaults("");
    core().ReOpenTSE(5000);
    EXPECT_EQ(TseRes, 0);
    EXPECT_EQ(core().NextTimeSet, now + 1799 * 1000);

    core().TimeSyncInterval = 0;  // its query failed at the start
    core().ReOpenTSE(5000);
    EXPECT_EQ(core().NextTimeSet, now - 1000);
}

TEST_F(StartupTest, CloseGrantedDuringTheSplashEndsTheStart)
{
    PlugTse();
    Start({}, 0.05);
    QTimer::singleShot(20, service.get(), [this] { service->TryClose(); });
    ASSERT_TRUE(RunUntil([this] { return closed; }));
    RunFor(300);
    service.reset();

    EXPECT_FALSE(QFile::exists(progDir + "/Vok_TSE.INI"));  // LoadConfig never ran
    EXPECT_EQ(Log().last(), "Vok_TSE beendet");
}

// ---- Nothing before the start is done ------------------------------------------

TEST_F(StartupTest, NoButtonWorksBeforeTheStartIsDone)
{
    PlugTse();
    WriteIni();
    Start({}, 0.05);
    bool seenDuringStart = false;
    bool anyEnabled = true;
    // Handled inside the splash's pause (200 ms here).
    QTimer::singleShot(50, service.get(), [&] {
        seenDuringStart = !core().StartupFinished;
        anyEnabled = AnyTseButtonEnabled();
    });
    ASSERT_TRUE(RunUntil([this] { return core().StartupFinished; }, 20000));
    ASSERT_TRUE(seenDuringStart);
    EXPECT_FALSE(anyEnabled);
    // Then the buttons work as the start left them.
    EXPECT_TRUE(service->Polling());
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::Export));
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::Certificates));
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::Deactivate));
    EXPECT_FALSE(core().Shown.Enabled(TShownState::Button::TaFree));  // no open transactions
}

TEST_F(StartupTest, AnExportAfterAnEarlyStopLeavesThePollOff)
{
    PlugTse();
    WriteFile(progDir + "/Vok_TSE.INI", "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\nEXP_TANR=x\r\n");
    EXPECT_FALSE(StartAndWaitRunning());
    ASSERT_TRUE(core().Shown.Enabled(TShownState::Button::Export));
    StartManualExport(core());
    ASSERT_TRUE(RunUntil([this] { return LogText().contains("Manueller Export") && !core().TSE_running; }, 60000));
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::Export));
    EXPECT_FALSE(service->Polling());
}
