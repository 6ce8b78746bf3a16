// Finishing the transactions that the TSE holds open, and deactivating it.
#include "core/TseUsers.h"
#include "operator/Operator.h"
#include "support/AppFixture.h"
#include "tse/TseLib.h"

#include <QProcess>

using namespace testenv;

namespace {

class OperatorTseTest : public AppFixture {
protected:
    void StartWithTse()
    {
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartAndWaitRunning());
    }

    // A new service on the same program directory and TSE: the start-up reads
    // the clients and open transactions afresh.
    void Restart()
    {
        service.reset();
        ASSERT_TRUE(StartAndWaitRunning());
    }

    void MapClient(const std::string& clientId)
    {
        int32_t loginRes = 0;
        int16_t retries = 0;
        tse_authenticateUser(TseAdminUser, TseAdminPin, loginRes, retries);
        tse_mapERStoKey(clientId, TseSN);
        tse_logOut(TseAdminUser);
    }

    // Starts a transaction; finishes it too unless it is to stay open.
    uint32_t Transaction(const std::string& clientId, bool leaveOpen)
    {
        TTransResult res;
        tse_startTransaction(clientId, "Beleg", "Kassenbeleg-V1", "", res);
        EXPECT_EQ(TseRes.load(), 0);
        if (!leaveOpen) tse_finishTransaction(clientId, res.transactionNumber, "Beleg", "Kassenbeleg-V1", "", res);
        return res.transactionNumber;
    }

    // Transactions 17 (Kasse02) and 23 (Kasse03) left open; Kasse01 is the
    // first registered client.
    void OpenSeventeenAndTwentyThree()
    {
        StartWithTse();
        for (const char* id : {"Kasse01", "Kasse02", "Kasse03"}) MapClient(id);
        for (int i = 1; i <= 16; ++i) Transaction("Kasse01", false);
        ASSERT_EQ(Transaction("Kasse02", true), 17u);
        for (int i = 18; i <= 22; ++i) Transaction("Kasse01", false);
        ASSERT_EQ(Transaction("Kasse03", true), 23u);
        Restart();
        ASSERT_EQ(core().Shown.Clients().value(0), "Kasse01");
        ASSERT_TRUE(core().Shown.Notices().value(0).startsWith("offene Transaktionen: 17 23"));
        ASSERT_TRUE(core().Shown.Enabled(TShownState::Button::TaFree));
    }

    // The stored log message of one finish, from a full export of the TSE.
    QByteArray FinishMessage(uint32_t nr, QString* memberName)
    {
        const QString tarPath = tmp.path() + "/all.tar";
        tse_exportDataToFile("", 1, 0, 0, 0, tarPath.toStdString());
        if (TseRes.load() != 0) return {};
        QProcess tar;
        tar.start("tar", {"-tf", tarPath});
        tar.waitForFinished();
        const QStringList members = QString::fromLocal8Bit(tar.readAllStandardOutput())
                                        .split('\n', Qt::SkipEmptyParts)
                                        .filter(QString("_No-%1_Finish_").arg(nr));
        if (members.size() != 1) return {};
        *memberName = members.first();
        tar.start("tar", {"-xOf", tarPath, members.first()});
        tar.waitForFinished();
        return tar.readAllStandardOutput();
    }

    int CountLines(const QString& text) { return LogText().count(text); }
};

TEST_F(OperatorTseTest, OpenTransactionsAreFinishedUnderTheClientThatBeganThem)
{
    OpenSeventeenAndTwentyThree();

    RequestFinishOpenTransactions(core());

    EXPECT_EQ(tse_getOpenTransactions(), "");
    EXPECT_EQ(core().Shown.SigNr(), QString::number(tse_getSignatureCounter(TseSN)));
    for (const auto& [nr, client] : {std::pair{17u, "Client-Kasse02"}, std::pair{23u, "Client-Kasse03"}}) {
        QString member;
        const QByteArray message = FinishMessage(nr, &member);
        EXPECT_TRUE(member.contains(client)) << member.toStdString();
        EXPECT_TRUE(message.contains("Manueller Abschluss von TA-Nr.: " + QByteArray::number(nr)));
        EXPECT_TRUE(message.contains("SonstigerVorgang"));
    }
    EXPECT_FALSE(core().Shown.Notices().join('\n').contains("offene Trans"));
    EXPECT_FALSE(LogText().contains("FinishTransaction nicht möglich"));
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::TaFree));
    EXPECT_FALSE(core().TSE_running);
}

TEST_F(OperatorTseTest, RefusedFinishIsLoggedWithItsNumberAndTheOthersGoOn)
{
    OpenSeventeenAndTwentyThree();
    WriteTseFaults("se_finishTransaction = 0x3009 once\n");

    RequestFinishOpenTransactions(core());

    EXPECT_EQ(CountLines("FinishTransaction nicht möglich, Err=3009h  TA-Nr=17\r\n"), 1);
    EXPECT_FALSE(LogText().contains("TA-Nr=23"));
    EXPECT_EQ(tse_getOpenTransactions(), "17 ");
    // The notice tells what is still open.
    EXPECT_TRUE(core().Shown.Notices().join('\n').contains("offene Transaktionen: 17 ")) << core().Shown.Notices().join('\n').toStdString();
    EXPECT_FALSE(core().Shown.Notices().join('\n').contains("23"));
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::TaFree));
}

TEST_F(OperatorTseTest, NothingOpenKeepsOtherNoticesAndCallsNoFinish)
{
    StartWithTse();
    MapClient("Kasse01");
    ASSERT_TRUE(core().Shown.Notices().isEmpty());
    const QString sigNr = core().Shown.SigNr();
    const uint32_t sigCounter = tse_getSignatureCounter(TseSN);

    RequestFinishOpenTransactions(core());  // the button itself is off without open transactions
    EXPECT_TRUE(core().Shown.Notices().isEmpty());

    core().Shown.AddNotice("Offene Transaktionen: 5 ");  // letter case counts
    RequestFinishOpenTransactions(core());
    EXPECT_EQ(core().Shown.Notices(), QStringList{"Offene Transaktionen: 5 "});

    EXPECT_EQ(tse_getSignatureCounter(TseSN), sigCounter);
    EXPECT_EQ(core().Shown.SigNr(), sigNr);
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::TaFree));
    EXPECT_FALSE(core().TSE_running);
}

// A click handled while a job holds the TSE (inside its pause) runs after
// the job instead of waiting inside it.
TEST_F(OperatorTseTest, FinishingRequestedDuringAnotherOperationRunsAfterIt)
{
    OpenSeventeenAndTwentyThree();
    core().SetTseRunning(true);

    RequestFinishOpenTransactions(core());
    EXPECT_FALSE(core().Shown.Enabled(TShownState::Button::TaFree));
    EXPECT_EQ(tse_getOpenTransactions(), "17 23 ");

    core().SetTseRunning(false);
    EXPECT_TRUE(RunUntil([&] { return core().Shown.Enabled(TShownState::Button::TaFree); }));
    EXPECT_EQ(tse_getOpenTransactions(), "");
    EXPECT_FALSE(core().TSE_running);
}

TEST_F(OperatorTseTest, DeactivationIsReportedAndOfferedBackAtTheNextStart)
{
    StartWithTse();

    EXPECT_TRUE(DeactivateTse(core()));

    const QString log = LogText();
    const qsizetype done = log.indexOf("  TSE wurde deaktiviert\r\n");
    ASSERT_GE(done, 0) << log.toStdString();
    EXPECT_GT(log.indexOf("  TSE Status: deaktiviert\r\n", done), done);
    EXPECT_EQ(tse_getLifeCycleState(), "deaktiviert");

    dialogs.confirmAnswers.push_back(true);
    Restart();
    EXPECT_TRUE(dialogs.asked.contains(
        "confirm: ACHTUNG! Die TSE wurde bereits deaktiviert.\r\nSoll sie wieder aktiviert werden?"));
}

TEST_F(OperatorTseTest, RefusedDeactivationIsLogged)
{
    StartWithTse();
    WriteTseFaults("se_deactivateTSE = 0x3016\n");

    EXPECT_FALSE(DeactivateTse(core()));

    const QString log = LogText();
    const qsizetype refused = log.indexOf("  TSE wurde NICHT deaktiviert (3016h)\r\n");
    ASSERT_GE(refused, 0) << log.toStdString();
    EXPECT_GT(log.indexOf("  TSE Status: aktiv\r\n", refused), refused);
    EXPECT_FALSE(log.contains("TSE wurde deaktiviert"));
}

}  // namespace
