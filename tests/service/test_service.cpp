// The service without a window: its directories and switches, and the
// close protocol of the headless program (the end of the session, a
// refused reactivation, a close during an operation).
#include "support/AppFixture.h"

#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QFileInfo>

using testenv::AppFixture;
using testenv::RunUntil;

class ServiceTest : public AppFixture {};

// ---- Directories and command line ------------------------------------------

TEST(ProgramDirectory, CutsBuildFoldersAndOneTrailingSeparator)
{
    EXPECT_EQ(AktVerzFrom("C:\\Kasse\\Win32\\Debug"), "C:\\Kasse");
    EXPECT_EQ(AktVerzFrom("C:\\Proj\\Win32\\Release\\bin"), "C:\\Proj");
    EXPECT_EQ(AktVerzFrom("C:\\"), "C:");
    EXPECT_EQ(AktVerzFrom("C:\\Kasse"), "C:\\Kasse");
    // The same with the native separator.
    EXPECT_EQ(AktVerzFrom("/srv/kasse/Win32/Debug"), "/srv/kasse");
    EXPECT_EQ(AktVerzFrom("/srv/proj/Win32/Release/bin"), "/srv/proj");
    EXPECT_EQ(AktVerzFrom("/srv/kasse/"), "/srv/kasse");
    // The search matches case exactly.
    EXPECT_EQ(AktVerzFrom("C:\\Kasse\\win32\\debug"), "C:\\Kasse\\win32\\debug");
}


TEST_F(ServiceTest, DirectoriesFollowTheCurrentDirectoryAndAreCreated)
{
    Create();
    EXPECT_EQ(core().AktVerz, progDir);
    EXPECT_EQ(core().DatenVerz, progDir + "\\TSE");
    EXPECT_EQ(core().ExpVerz, progDir + "\\TSE_EXPO");
    EXPECT_TRUE(QFileInfo(JobDir()).isDir());
    EXPECT_TRUE(QFileInfo(ExpDir()).isDir());
}

TEST_F(ServiceTest, StartedInsideABuildFolderTheProgramDirectoryIsAboveIt)
{
    const QString sub = progDir + "/Win32/Release/bin";
    ASSERT_TRUE(QDir().mkpath(sub));
    QDir::setCurrent(sub);
    Create();
    EXPECT_EQ(core().AktVerz, progDir);
    EXPECT_TRUE(QFileInfo(JobDir()).isDir());
}

TEST_F(ServiceTest, AJobDirectoryThatCannotBeMadeLeavesTheServiceIdle)
{
    testenv::WriteFile(JobDir(), "a file in the way");
    TseDebug = false;
    Create({"/D"});
    ASSERT_EQ(dialogs.asked.size(), 1);
    EXPECT_TRUE(dialogs.asked[0].startsWith("error: E/A-Fehler")) << dialogs.asked[0].toStdString();
    EXPECT_FALSE(QFileInfo(ExpDir()).exists());
    // Switches unread, no start message.
    EXPECT_TRUE(core().Param.isEmpty());
    EXPECT_FALSE(TseDebug);
    testenv::RunFor(50);
    EXPECT_FALSE(core().StartupFinished);
    EXPECT_FALSE(QFile::exists(progDir + "/Vok_TSE.LOG"));
}

TEST_F(ServiceTest, SwitchesAreFoundAnywhereInTheUpperCasedCommandLine)
{
    struct Case {
        QStringList args;
        QString param;
        bool debug, logAll, logFiles;
    };
    const Case cases[] = {
        {{}, "  ", false, false, false},
        {{"/d"}, " /D  ", true, false, false},
        {{"C:/Daten"}, " C:/DATEN  ", true, false, false},
        {{"x", "/fast", "/l"}, " X /FAST /L  ", false, true, true},
        {{"/test"}, " /TEST  ", false, false, false},
        {{"straße/d"}, " STRAßE/D  ", true, false, false},  // ASCII letters only
    };
    for (const Case& c : cases) {
        TseDebug = TseLogAll = TseLogFiles = true;
        Create(c.args);
        EXPECT_EQ(core().Param, c.param) << c.args.join(' ').toStdString();
        EXPECT_EQ(TseDebug, c.debug) << c.param.toStdString();
        EXPECT_EQ(TseLogAll, c.logAll) << c.param.toStdString();
        EXPECT_EQ(TseLogFiles, c.logFiles) << c.param.toStdString();
        service.reset();
    }
}

// ---- Close protocol without a window ------------------------------------------

TEST_F(ServiceTest, EndOfSessionClosesWithoutAsking)
{
    Create();
    service->WMQUERYENDSESSION();
    EXPECT_TRUE(core().WinDown);
    ASSERT_TRUE(RunUntil([this] { return closed; }));
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_EQ(dialogs.beeps, 0);
    service.reset();
    EXPECT_TRUE(LogText().contains("Vok_TSE beendet"));
}

TEST_F(ServiceTest, EndProgramClosesWithoutAsking)
{
    Create();
    service->EndProgram();
    ASSERT_TRUE(RunUntil([this] { return closed; }));
    EXPECT_TRUE(dialogs.asked.isEmpty());
    service.reset();
    EXPECT_EQ(LogText().count("Vok_TSE beendet"), 1);
}

TEST_F(ServiceTest, EndOfSessionDuringAnOperationClosesAfterIt)
{
    Create();
    core().SetTseRunning(true);
    service->WMQUERYENDSESSION();
    core().Delay(20);
    EXPECT_FALSE(closed);
    core().SetTseRunning(false);
    ASSERT_TRUE(RunUntil([this] { return closed; }));
    EXPECT_TRUE(dialogs.asked.isEmpty());
}

