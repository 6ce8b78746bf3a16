// The configuration file, the search for the TSE's drive and the bounded
// wait for it.
#include "support/AppFixture.h"

#include "platform/DateTime.h"
#include "tse/TseLib.h"

#include <stdexcept>
#include <unistd.h>

using testenv::AppFixture;

namespace {

QByteArray Ini(const QByteArray& path, const QByteArray& number)
{
    return "[VOKTAR-TSE]\r\nVERSION=2.1\r\nTSE_PFAD=" + path + "\r\nEXP_TANR=" + number + "\r\n";
}

const QString kAskPath = QStringLiteral("input: Manuelle Eingabe des TSE-Pfads|Pfad der TSE:|K:\\");
const QString kNotYet = QStringLiteral("TSE-Pfad noch nicht verfügbar (");
const QString kNotAvailable = QStringLiteral("TSE-Pfad (USB-Stick) ist nicht verfügbar");

}  // namespace

class ConfigTest : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        TseDebug = false;
        Create();
    }

    QString IniPath() const { return progDir + "/Vok_TSE.INI"; }
    QByteArray IniBytes() const { return testenv::ReadFile(IniPath()); }
    void WriteIniText(const QByteArray& text) { testenv::WriteFile(IniPath(), text); }
    void Marker(const QString& drive) { testenv::WriteFile(drives + "/" + drive + "/TSE-IO.bin", {}); }
    void Marker(const QString& drive, const QString& name)
    {
        QDir().mkpath(drives + "/" + drive);
        testenv::WriteFile(drives + "/" + drive + "/" + name, {});
    }
    int WaitLines() const { return LogText().count(kNotYet); }

    // LoadConfig's error, as the start-up's edge shows it.
    QString LoadConfigError()
    {
        try {
            core().LoadConfig();
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        return {};
    }
};

// ---- First start -----------------------------------------------------------------

TEST_F(ConfigTest, FirstStartWithoutMarkerAsksAndCancelGivesK)
{
    dialogs.inputAnswers = {QString()};  // Cancel
    core().LoadConfig();
    EXPECT_EQ(dialogs.asked, QStringList({kAskPath}));
    EXPECT_EQ(core().TSE_Pfad, "K:\\");
    EXPECT_EQ(core().LastSavedTANr, 0u);
    EXPECT_EQ(IniBytes(), Ini("K:\\", "0"));
    EXPECT_FALSE(core().NewVers);
}

TEST_F(ConfigTest, FirstStartTakesTheOperatorsPathUnchanged)
{
    dialogs.inputAnswers = {QStringLiteral("e:\\ ")};
    Marker("e", " TSE-IO.bin");
    core().LoadConfig();
    EXPECT_EQ(core().TSE_Pfad, "e:\\ ");
    EXPECT_EQ(IniBytes(), Ini("e:\\ ", "0"));
    EXPECT_EQ(WaitLines(), 0);
}

TEST_F(ConfigTest, FirstStartFindsTheLowestDriveWithTheMarker)
{
    Marker("h", "TSE-IO.bin");
    Marker("f", "TSE-IO.bin");
    Marker("c", "TSE-IO.bin");  // not searched
    core().LoadConfig();
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_EQ(core().TSE_Pfad, "F:\\");
    EXPECT_EQ(IniBytes(), Ini("F:\\", "0"));
    EXPECT_EQ(WaitLines(), 0);
}

TEST_F(ConfigTest, DriveLMarkerIsNotSearched)
{
    Marker("l", "TSE-IO.bin");
    core().LoadConfig();
    EXPECT_EQ(dialogs.asked, QStringList({kAskPath}));
}

// ---- Reading ----------------------------------------------------------------------

TEST_F(ConfigTest, ReadsPathAndNumberWithoutRewriting)
{
    PlugTse();
    const QByteArray text = "; Kommentar\r\n[VOKTAR-TSE]\r\nEXP_TANR=17\r\nVERSION=2.1\r\nTSE_PFAD=E:\\\r\n";
    WriteIniText(text);
    core().LoadConfig();
    EXPECT_EQ(core().TSE_Pfad, "E:\\");
    EXPECT_EQ(core().LastSavedTANr, 17u);
    EXPECT_FALSE(core().NewVers);
    EXPECT_EQ(IniBytes(), text);
    EXPECT_TRUE(dialogs.asked.isEmpty());
    // Marker present at once: no line, no pause.
    EXPECT_FALSE(QFile::exists(progDir + "/Vok_TSE.LOG"));
}

TEST_F(ConfigTest, LaterLinesWinAndLowerCaseKeysAreIgnored)
{
    PlugTse();
    WriteIniText("TSE_PFAD=E:\\\r\ntse_pfad=F:\\\r\nEXP_TANR=5\r\n"
                 "exp_tanr=9\r\nEXP_TANR=2147483647\r\n");
    core().LoadConfig();
    EXPECT_EQ(core().TSE_Pfad, "E:\\");
    EXPECT_EQ(core().LastSavedTANr, 2147483647u);
}

TEST_F(ConfigTest, OtherVersionsRewriteTheFileAtOnce)
{
    PlugTse();
    for (const QByteArray& version : {QByteArray("2.0"), QByteArray("2.10"), QByteArray("")}) {
        WriteIniText("VERSION=" + version + "\r\nTSE_PFAD=E:\\\r\nEXP_TANR=42\r\n");
        core().NewVers = false;
        core().LoadConfig();
        EXPECT_TRUE(core().NewVers) << version.constData();
        EXPECT_EQ(IniBytes(), Ini("E:\\", "42")) << version.constData();
    }
}

TEST_F(ConfigTest, NoVersionLineLeavesTheFileAlone)
{
    PlugTse();
    const QByteArray text = "TSE_PFAD=E:\\\r\nEXP_TANR=3\r\n";
    WriteIniText(text);
    core().LoadConfig();
    EXPECT_FALSE(core().NewVers);
    EXPECT_EQ(IniBytes(), text);
}

TEST_F(ConfigTest, PathIsAPrefixTakenAsWritten)
{
    // A trailing blank stays part of the path.
    Marker("e", " TSE-IO.bin");
    WriteIniText(Ini("E:\\ ", "0"));
    core().LoadConfig();
    EXPECT_EQ(core().TSE_Pfad, "E:\\ ");
    EXPECT_EQ(WaitLines(), 0);

    // Without backslash the marker is E:TSE-IO.bin, on drive E.
    QFile::remove(drives + "/e/ TSE-IO.bin");
    PlugTse();
    WriteIniText(Ini("E:", "0"));
    core().LoadConfig();
    EXPECT_EQ(core().TSE_Pfad, "E:");
    EXPECT_EQ(WaitLines(), 0);
}

TEST_F(ConfigTest, EmptyPathIsReportedAndTheMarkerLookedForHere)
{
    testenv::WriteFile(progDir + "/TSE-IO.bin", {});
    WriteIniText("[VOKTAR-TSE]\r\nVERSION=2.1\r\nEXP_TANR=1\r\n");
    core().LoadConfig();
    EXPECT_TRUE(core().TSE_Pfad.isEmpty());
    EXPECT_EQ(WaitLines(), 0);
    EXPECT_TRUE(core().Shown.Operations().last().endsWith("  Kein TSE-Pfad in Ini-Datei gefunden"));
    EXPECT_TRUE(dialogs.asked.isEmpty());  // an existing file is never searched again
}

// ---- Waiting for the drive --------------------------------------------------------

TEST_F(ConfigTest, AbsentDriveIsAwaitedFiveTimesTenSecondsApart)
{
    WriteIni("E:\\");
    // The program's clock runs at the pace of the shortened pauses.
    QElapsedTimer clock;
    clock.start();
    const plat::TDateTime base = plat::EncodeDateTime(2024, 3, 1, 8, 0, 0);
    const double factor = core().DelayFactor;
    std::vector<double> seconds;
    plat::SetNowOverride([&] {
        const double s = clock.nsecsElapsed() / 1e9 / factor;
        seconds.push_back(s);
        return base + s / 86400.0;
    });
    core().LoadConfig();
    plat::SetNowOverride(nullptr);

    QStringList waits;
    for (const QString& line : LogLines())
        if (line.contains("TSE-Pfad")) waits << line.mid(19);
    EXPECT_EQ(waits, QStringList({kNotYet + "1)", kNotYet + "2)", kNotYet + "3)", kNotYet + "4)", kNotYet + "5)",
                                  kNotAvailable}));
    ASSERT_EQ(seconds.size(), 6u);  // one clock reading per log line
    for (size_t i = 1; i < seconds.size(); ++i) EXPECT_GE(seconds[i] - seconds[i - 1], 9.9);
    EXPECT_TRUE(core().Shown.Operations().last().endsWith(kNotAvailable));
}

TEST_F(ConfigTest, DriveThatTurnsUpEndsTheWaitSilently)
{
    WriteIni("E:\\");
    int lines = 0;
    plat::SetNowOverride([&] {
        if (++lines == 2) PlugTse();  // plugged in during the second pause
        return plat::EncodeDateTime(2024, 3, 1, 8, 0, 0);
    });
    core().LoadConfig();
    plat::SetNowOverride(nullptr);
    EXPECT_EQ(WaitLines(), 2);
    EXPECT_FALSE(LogText().contains(kNotAvailable));
}

// ---- Failures -----------------------------------------------------------------------

TEST_F(ConfigTest, FileThatCannotBeReadEndsLoadConfigWithIoError104)
{
    WriteIni("E:\\", 7);
    {
        plat::File holder;
        ASSERT_EQ(holder.OpenAppend(progDir + "\\Vok_TSE.INI"), 0);
        EXPECT_EQ(LoadConfigError(), "E/A-Fehler 104");
    }
    EXPECT_TRUE(core().TSE_Pfad.isEmpty());
    EXPECT_EQ(core().LastSavedTANr, 0u);
    EXPECT_EQ(WaitLines(), 0);  // ended before the wait
}

TEST_F(ConfigTest, FileThatCannotBeCreatedEndsLoadConfigWithoutAsking)
{
    core().AktVerz = progDir + "/fehlt";
    EXPECT_EQ(LoadConfigError(), "E/A-Fehler 104");
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

TEST_F(ConfigTest, NumberThatIsNoSigned32BitIntegerEndsLoadConfig)
{
    PlugTse();
    for (const QByteArray& value : {QByteArray("abc"), QByteArray(""), QByteArray("2147483648"),
                                    QByteArray(" 5"), QByteArray("0x10")}) {
        WriteIniText(Ini("E:\\", value));
        EXPECT_EQ(LoadConfigError(), QStringLiteral("'%1' ist kein gültiger Integerwert").arg(QString(value)));
    }
    WriteIniText(Ini("E:\\", "-1"));
    EXPECT_EQ(LoadConfigError(), "");
    EXPECT_EQ(core().LastSavedTANr, 4294967295u);
}

TEST_F(ConfigTest, ErrorsReachTheErrorBoxAtTheHandlersEdge)
{
    PlugTse();
    WriteIniText(Ini("E:\\", "zw\xF6lf"));
    core().SetTseRunning(true);
    core().RunWhenTseIdle([this] { core().LoadConfig(); });
    core().SetTseRunning(false);
    ASSERT_TRUE(testenv::RunUntil([this] { return !dialogs.asked.isEmpty(); }));
    EXPECT_EQ(dialogs.asked, QStringList({"error: 'zwölf' ist kein gültiger Integerwert"}));
}

// ---- Saving ---------------------------------------------------------------------------

TEST_F(ConfigTest, SaveWritesTheFourLines)
{
    core().TSE_Pfad = "G:\\";
    core().LastSavedTANr = 4000000000u;
    core().SaveConfig();
    EXPECT_EQ(IniBytes(), Ini("G:\\", "4000000000"));
    EXPECT_FALSE(QFile::exists(progDir + "/Vok_TSE.LOG"));

    TseDebug = true;
    core().SaveConfig();
    TseDebug = false;
    EXPECT_EQ(LogLines().last(), "Speichern Ini-Datei");
}

TEST_F(ConfigTest, SaveKeepsEveryLineItDoesNotOwn)
{
    PlugTse();
    WriteIniText("; Kommentar\r\n[VOKTAR-TSE]\r\nVERSION=2.1\r\nKASSEN= K1 ,Kasse*,,\r\nTSE_PFAD=E:\\\r\n"
                 "EXP_TANR=3\r\n[Andere]\r\nX=1\r\n");
    core().LoadConfig();
    EXPECT_EQ(core().AllowedClients, QStringList({"K1", "Kasse*"}));
    core().LastSavedTANr = 9;
    core().SaveConfig();
    EXPECT_EQ(IniBytes(), "; Kommentar\r\n[VOKTAR-TSE]\r\nVERSION=2.1\r\nKASSEN= K1 ,Kasse*,,\r\nTSE_PFAD=E:\\\r\n"
                          "EXP_TANR=9\r\n[Andere]\r\nX=1\r\n");
    EXPECT_FALSE(QFile::exists(IniPath() + ".tmp"));

    // Later lines of an own key would win at the next read: they go. A
    // missing key follows the last own line; a missing section comes first.
    WriteIniText("KASSEN=K2\nTSE_PFAD=E:\\\nEXP_TANR=1\nX=2\nEXP_TANR=2\n");
    core().SaveConfig();
    EXPECT_EQ(IniBytes(), "[VOKTAR-TSE]\r\nKASSEN=K2\r\nTSE_PFAD=E:\\\r\nEXP_TANR=9\r\nVERSION=2.1\r\nX=2\r\n");
    core().LoadConfig();
    EXPECT_EQ(core().LastSavedTANr, 9u);
    EXPECT_EQ(core().AllowedClients, QStringList({"K2"}));

    // Without the key every id is allowed again.
    WriteIniText(Ini("E:\\", "9"));
    core().LoadConfig();
    EXPECT_TRUE(core().AllowedClients.isEmpty());
}

TEST_F(ConfigTest, SaveReplacesTheFileWholeAndLeavesItWhenThatFails)
{
    WriteIni("E:\\", 9);
    const QByteArray before = IniBytes();
    // The file beside it cannot be made: the old file stays as it was.
    ASSERT_TRUE(QDir().mkpath(IniPath() + ".tmp"));
    core().TSE_Pfad = "E:\\";
    core().LastSavedTANr = 10;
    core().SaveConfig();
    EXPECT_EQ(IniBytes(), before);
    EXPECT_TRUE(core().Shown.Operations().last().contains("  Ini-Datei konnte nicht gespeichert werden, Err="));
    ASSERT_TRUE(QDir().rmdir(IniPath() + ".tmp"));

    // A hard link to the file stays the old one: the new bytes are a new file.
    ASSERT_EQ(::link(IniPath().toLocal8Bit().constData(), (progDir + "/ini.old").toLocal8Bit().constData()), 0);
    core().SaveConfig();
    EXPECT_EQ(testenv::ReadFile(progDir + "/ini.old"), before);
    EXPECT_EQ(IniBytes(), Ini("E:\\", "10"));
}

TEST_F(ConfigTest, SaveThatCannotCreateTheFileOnlyLogs)
{
    WriteIni("E:\\", 9);
    plat::File holder;
    ASSERT_EQ(holder.OpenAppend(progDir + "\\Vok_TSE.INI"), 0);
    core().TSE_Pfad = "X:\\";
    core().SaveConfig();
    holder.Close();
    EXPECT_EQ(IniBytes(), Ini("E:\\", "9"));
    EXPECT_EQ(core().TSE_Pfad, "X:\\");
    EXPECT_TRUE(core().Shown.Operations().last().endsWith(
        QStringLiteral("  Ini-Datei konnte nicht gespeichert werden, Err=%1").arg(plat::ErrSharingViolation)));
}
