// An end request (a service stop, the end of the session) that comes while a
// dialog is open: the dialog takes its safe choice, the handler behind it
// stops, and the close protocol ends the program. With the window, whose
// buttons and close ask the questions.
#include "core/TseUsers.h"
#include "support/WindowFixture.h"

#include "tse/TseLib.h"

#include <QDir>
#include <QPushButton>
#include <QRegularExpression>

using namespace testenv;

namespace {

class EndingTest : public WindowFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        plat::ResumeDialogs();
    }

    // The platform ends the session as soon as a dialog whose entry starts
    // with `prefix` is open.
    void EndWhenAsked(const QString& prefix)
    {
        dialogs.onAsk = [this, prefix](const QString& entry) {
            if (entry.startsWith(prefix) && service) service->WMQUERYENDSESSION();
        };
    }

    void StartWithTse()
    {
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartWindowAndWaitRunning());
        dialogs.asked.clear();
    }

    // The window has gone through the close protocol and is destroyed; the
    // service that the program then ends closes the TSE and logs
    // "Vok_TSE beendet" once.
    void ExpectEnded(int ends = 1)
    {
        ASSERT_TRUE(RunUntil([this] { return form.isNull(); })) << LogText().toStdString();
        EXPECT_TRUE(core().EndRequested());
        service.reset();
        EXPECT_EQ(LogText().count("Vok_TSE beendet"), ends) << LogText().toStdString();
    }
};

}  // namespace

TEST_F(EndingTest, ExportQuestionIsAnsweredNoAndNothingIsExported)
{
    StartWithTse();
    EndWhenAsked("confirm: Während des Exports");
    dialogs.confirmAnswers = {true};
    form->Btn_EXP->click();
    ExpectEnded();
    EXPECT_EQ(dialogs.asked.size(), 1);
    EXPECT_TRUE(QDir(ExpDir()).entryList({"EXP_*"}, QDir::Files).isEmpty());
    EXPECT_FALSE(LogText().contains("Manueller Export"));
}

TEST_F(EndingTest, BoxesAfterAnOperatorActionAreClosedAndTheActionFinishes)
{
    StartWithTse();
    EndWhenAsked("info: Die Zertifikate");
    form->Btn_Cer->click();
    ExpectEnded();
    EXPECT_TRUE(QFile::exists(ExpDir() + "/Cer.txt"));

    // The deactivation goes on after its box: the admin is logged out and
    // the state logged before the window goes.
    plat::ResumeDialogs();
    ASSERT_TRUE(StartWindowAndWaitRunning());
    EndWhenAsked("info: Die TSE wurde deaktiviert");
    form->Btn_Deactiv->click();
    ExpectEnded(2);
    const QString log = LogText();
    const int status = log.lastIndexOf("TSE Status: deaktiviert");
    EXPECT_GT(status, log.lastIndexOf("TSE wurde deaktiviert"));
    EXPECT_LT(status, log.lastIndexOf("Vok_TSE beendet"));
}

TEST_F(EndingTest, CloseQuestionOpenAtTheEndClosesWithoutMinimising)
{
    StartWithTse();
    EndWhenAsked("confirm: Wollen Sie die Anwendung");
    form->close();
    ExpectEnded();
    EXPECT_EQ(dialogs.asked.size(), 1);
}

TEST_F(EndingTest, PathQueryOfTheFirstStartIsCancelledAndTheStartStops)
{
    // No configuration file and no TSE drive: the start asks for the path.
    EndWhenAsked("input: Manuelle Eingabe des TSE-Pfads");
    dialogs.inputAnswers = {"E:\\"};
    StartWindow();
    ExpectEnded();
    EXPECT_EQ(dialogs.asked.size(), 1);
    // Cancel keeps the default path; the TSE is neither waited for nor opened.
    EXPECT_TRUE(ReadFile(progDir + "/Vok_TSE.INI").contains("TSE_PFAD=K:\\\r\n"));
    EXPECT_FALSE(LogText().contains("noch nicht verfügbar"));
    EXPECT_FALSE(LogText().contains("Öffnen der TSE"));
}

TEST_F(EndingTest, ReactivationQuestionIsAnsweredNo)
{
    StartWithTse();
    int32_t loginResult = 0;
    int16_t retries = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, retries);
    tse_deactivateTSE();
    ASSERT_EQ(TseRes, 0);
    tse_logOut(TseAdminUser);
    service.reset();
    QFile::remove(progDir + "/Vok_TSE.LOG");

    EndWhenAsked("confirm: ACHTUNG! Die TSE wurde bereits deaktiviert.");
    dialogs.confirmAnswers = {true};
    StartWindow();
    ExpectEnded();
    EXPECT_FALSE(LogText().contains("TSE wird aktiviert"));
}

TEST_F(EndingTest, CertificateBoxAtTheStartStopsTheStartBeforeThePoll)
{
    const plat::TDateTime august = plat::EncodeDateTime(2024, 8, 1, 12);
    plat::SetNowOverride([august] { return august; });
    PlugTse();
    WriteTseSettings("certificationId=BSI-K-TR-0000-2020\n");
    WriteIni();
    bool pollOnAtTheEnd = true;
    dialogs.onAsk = [&](const QString& entry) {
        if (!entry.startsWith("info: ACHTUNG! Das Zertifikat")) return;
        service->WMQUERYENDSESSION();
        // Whatever the start does after the box happens before the close.
        QTimer::singleShot(0, service.get(), [&] { pollOnAtTheEnd = service->Polling(); });
    };
    StartWindow();
    ExpectEnded();
    EXPECT_FALSE(pollOnAtTheEnd);
}

TEST_F(EndingTest, ErrorBoxOfTheCreationLeavesTheServiceIdle)
{
    WriteFile(JobDir(), "a file in the way");
    Create();
    EXPECT_FALSE(service->Ready());
    EXPECT_EQ(dialogs.asked.filter("error: E/A-Fehler").size(), 1) << dialogs.asked.join('\n').toStdString();
    service->Start();
    RunFor(100);
    EXPECT_FALSE(core().StartupFinished);
}
