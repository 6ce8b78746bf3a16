// BON and TEXT end to end on the software TSE: registration, answers whose
// signatures verify, failures that still answer, and the time updates.
#include "JobFixture.h"
#include "SignatureCheck.h"

#include "platform/DateTime.h"

#include <QElapsedTimer>
#include <QRegularExpression>

using namespace jobtest;

class Signing : public JobFixture {
protected:
    int Count(const QString& text) const { return int(LogText().count(text)); }

    // Sets the program's clock to t, from where it runs on.
    void ClockAt(plat::TDateTime t)
    {
        clock.restart();
        base = t;
        plat::SetNowOverride([this] { return base + clock.elapsed() / 86400000.0; });
    }

    // Sets the monotonic clock to t (ms), from where it runs on.
    void MonotonicAt(int64_t t)
    {
        monotonic.restart();
        monotonicBase = t;
        plat::SetMonotonicOverride([this] { return monotonicBase + monotonic.elapsed(); });
    }

    QElapsedTimer clock;
    plat::TDateTime base = 0;
    QElapsedTimer monotonic;
    int64_t monotonicBase = 0;
};

TEST_F(Signing, RegistersOnceAndEverySignatureVerifies)
{
    StartService();
    const auto bon1 = Run("J1", Bon("Kasse01", "17", "Summe 12,50"));
    EXPECT_EQ(Count("Neue Kasse registriert: Kasse01"), 1);
    EXPECT_TRUE(core().Shown.Clients().contains("Kasse01"));
    const auto bon1Values = SigValues("J1");

    Run("J2", Bon("Kasse01", "18", "Summe 3,00"));
    Run("J3", Job({"CMD=TEXT", "KASID=Kasse01", "SIGTEXT=Kassenabschluss", "*EOF*"}));
    Run("J4", Job({"CMD=BON", "KASID=Kasse01", "SIGTEXT=ohne Bon", "*EOF*"}));
    EXPECT_EQ(Count("Neue Kasse registriert: "), 1);

    ASSERT_EQ(bon1.size(), 10);
    EXPECT_EQ(bon1.mid(0, 4), (QList<QByteArray>{"CMD=BON OK", "KASID=Kasse01", "BONID=17", "SIGTEXT=Summe 12,50"}));
    const QRegularExpression time("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.000Z$");
    EXPECT_TRUE(time.match(QString::fromLatin1(bon1Values["START"])).hasMatch());
    EXPECT_TRUE(time.match(QString::fromLatin1(bon1Values["ENDE"])).hasMatch());
    EXPECT_EQ(SigLines("J3").value(0), "CMD=TEXT OK");
    EXPECT_EQ(SigLines("J3").size(), 9);
    EXPECT_EQ(SigValues("J4")["BONID"], "");

    const QString log = LogText();
    const auto ta = [this](const char* job) { return QString::fromLatin1(SigValues(job)["TRANR"]); };
    EXPECT_TRUE(log.contains("Kasse01  TA=" + ta("J1") + "  Bon=17\r\n"));
    EXPECT_TRUE(log.contains("Kasse01  TA=" + ta("J3") + "  Kassenabschluss\r\n"));
    EXPECT_TRUE(log.contains("Kasse01  TA=" + ta("J4") + "  Bon=\r\n"));
    EXPECT_EQ(core().Shown.TaNr(), ta("J4"));
    EXPECT_EQ(core().Shown.SigNr(), QString::fromLatin1(SigValues("J4")["SIGNR"]));

    Run("St", Job({"CMD=STATUS", "KASID=Kasse01", "*EOF*"}));
    const QByteArray pub = SigValues("St")["PUBKEY"];
    ASSERT_EQ(QByteArray::fromBase64(pub).size(), 97);
    EXPECT_TRUE(SignatureVerifies(StateFolder(), bon1Values, "Kassenbeleg-V1", pub));
    EXPECT_TRUE(SignatureVerifies(StateFolder(), SigValues("J2"), "Kassenbeleg-V1", pub));
    EXPECT_TRUE(SignatureVerifies(StateFolder(), SigValues("J3"), "SonstigerVorgang", pub));
    EXPECT_TRUE(SignatureVerifies(StateFolder(), SigValues("J4"), "Kassenbeleg-V1", pub));
    // The check itself tells a wrong value apart.
    auto forged = SigValues("J2");
    forged["SIGTEXT"] = "Summe 30,00";
    EXPECT_FALSE(SignatureVerifies(StateFolder(), forged, "Kassenbeleg-V1", pub));
}

TEST_F(Signing, FailedFinishFailedStartAndMissingTseStillAnswer)
{
    StartService();
    Run("Reg", Bon("K1", "1", "a"));

    WriteTseFaults("se_finishTransaction = 0x3009 once\n");
    const auto fin = Run("Fin", Bon("K1", "2", "b"));
    const auto v = SigValues("Fin");
    EXPECT_EQ(fin.value(0), "CMD=BON ERR 3009h");
    EXPECT_FALSE(v["START"].isEmpty());
    EXPECT_EQ(v["ENDE"], "");
    EXPECT_NE(v["TRANR"], "0");
    EXPECT_EQ(v["SIGNR"], "0");
    EXPECT_EQ(v["SIG"], "");
    EXPECT_TRUE(LogText().contains("FinishTransaction nicht möglich, Err=3009h  TA-Nr=" + v["TRANR"] + "\r\n"));

    WriteTseFaults("se_startTransaction = 0x300B once\n");
    const auto start = Run("Start", Bon("K1", "3", "c"));
    EXPECT_TRUE(start.value(0).startsWith("CMD=BON ERR "));
    EXPECT_TRUE(LogText().contains("StartTransaction nicht möglich, E=300Bh"));
    EXPECT_EQ(start.mid(4), (QList<QByteArray>{"START=", "ENDE=", "TRANR=0", "SIGNR=0", "SIG=", "*EOF*"}));

    QFile::remove(tseDrive + "/TSE-IO.bin");
    const auto gone = Run("Gone", Job({"CMD=TEXT", "KASID=K1", "SIGTEXT=d", "*EOF*"}));
    EXPECT_TRUE(gone.value(0).startsWith("CMD=TEXT ERR "));
    EXPECT_EQ(gone.mid(3), (QList<QByteArray>{"START=", "ENDE=", "TRANR=0", "SIGNR=0", "SIG=", "*EOF*"}));
}

TEST_F(Signing, TimeUpdateDueOneSecondBeforeTheInterval)
{
    StartService({"/D"});
    const int interval = core().TimeSyncInterval;
    ASSERT_GT(interval, 1);
    Run("Reg", Bon("K1", "1", "a"));

    const QString set = QStringLiteral("Zeit der TSE gesetzt, E=");
    const int before = int(LogText().count(set));

    MonotonicAt(core().NextTimeSet - 3000);
    Run("Early", Bon("K1", "2", "b"));
    EXPECT_EQ(LogText().count(set), before);

    const int64_t due = core().NextTimeSet + 1000;
    MonotonicAt(due);
    Run("Due", Bon("K1", "3", "c"));
    EXPECT_EQ(LogText().count(set), before + 1);
    const int64_t ahead = core().NextTimeSet - due;
    EXPECT_GE(ahead, (interval - 1) * 1000);
    EXPECT_LE(ahead, (interval - 1) * 1000 + monotonic.elapsed() + 10);

    MonotonicAt(core().NextTimeSet + 1000);
    WriteTseFaults("se_authenticateUser = 0x2000 once\n");
    EXPECT_EQ(Run("NoLogin", Bon("K1", "4", "d")).value(0), "CMD=BON OK");
    EXPECT_TRUE(LogText().contains(QRegularExpression("Admin-Login nicht möglich, E=2000h L=[0-9A-F]{4}h R=[0-9A-F]{4}h")));
    EXPECT_EQ(LogText().count(set), before + 2);
}

// The night summer time ends: the wall clock runs back an hour between two
// receipts (a year ahead, inside the software TSE's certificate). Neither the time update nor the answer depends on it.
TEST_F(Signing, ClockSetBackAnHourSignsBothReceipts)
{
    StartService({"/D"});
    const QString set = QStringLiteral("Zeit der TSE gesetzt, E=");
    ClockAt(plat::EncodeDateTime(2027, 10, 31, 2, 59, 59));
    EXPECT_EQ(Run("Before", Bon("K1", "1", "a")).value(0), "CMD=BON OK");
    const int sets = int(LogText().count(set));
    ClockAt(plat::EncodeDateTime(2027, 10, 31, 2, 0, 1));
    EXPECT_EQ(Run("After", Bon("K1", "2", "b")).value(0), "CMD=BON OK");
    EXPECT_EQ(SigValues("After")["SIG"].isEmpty(), false);
    // Still within the TSE's interval on the monotonic clock: no extra update.
    EXPECT_EQ(LogText().count(set), sets);
    EXPECT_FALSE(LogText().contains("3018h"));
}

// A TSE that wants its time every 2 s, and the wall clock set back between
// the receipts: each is signed, none answered "time not set".
TEST_F(Signing, ShortSyncIntervalAndClockSetBackNeverAnswerTimeNotSet)
{
    WriteTseSettings("timeSyncInterval=2\n");
    StartService();
    ASSERT_EQ(core().TimeSyncInterval, 2);
    const plat::TDateTime night = plat::EncodeDateTime(2027, 10, 31, 2, 59, 58);
    for (int i = 0; i < 3; ++i) {
        ClockAt(night - i / 24.0);  // an hour further back each time
        const QString job = "B" + QString::number(i);
        EXPECT_EQ(Run(job, Bon("K1", QByteArray::number(i), "x")).value(0), "CMD=BON OK") << i;
        RunFor(2100);  // the TSE's interval runs out
    }
    EXPECT_FALSE(LogText().contains("3018h"));
}

// A TSE that says its time is not set (its interval ran out while the
// computer slept) gets the time and the call again; the register sees OK.
TEST_F(Signing, TimeNotSetSetsTheTimeAndTriesOnceMore)
{
    StartService();
    Run("Reg", Bon("K1", "1", "a"));
    const QString set = QStringLiteral("Zeit der TSE nicht gesetzt (3018h), neuer Versuch");

    WriteTseFaults("se_startTransaction = 0x3018 once\n");
    EXPECT_EQ(Run("Start", Bon("K1", "2", "b")).value(0), "CMD=BON OK");
    EXPECT_TRUE(LogText().contains("StartTransaction: " + set));

    WriteTseFaults("se_finishTransaction = 0x3018 once\n");
    EXPECT_EQ(Run("Finish", Bon("K1", "3", "c")).value(0), "CMD=BON OK");
    EXPECT_TRUE(LogText().contains("FinishTransaction: " + set));
    EXPECT_EQ(SigValues("Finish")["TRANR"].toUInt(), SigValues("Start")["TRANR"].toUInt() + 1);

    // A client the TSE does not know yet: the time first, then its registration.
    WriteTseFaults("se_startTransaction = 0x3018 once\n");
    EXPECT_EQ(Run("New", Bon("K2", "1", "e")).value(0), "CMD=BON OK");
    EXPECT_EQ(LogText().count("Neue Kasse registriert: K2"), 1);

    // Once more only: a TSE that keeps refusing is answered with its error.
    WriteTseFaults("se_startTransaction = 0x3018\n");
    EXPECT_TRUE(Run("Twice", Bon("K1", "4", "d")).value(0).startsWith("CMD=BON ERR "));
    EXPECT_TRUE(LogText().contains("StartTransaction nicht möglich, E=3018h"));
    WriteTseFaults("");
}
