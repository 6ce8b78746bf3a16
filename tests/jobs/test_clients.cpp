// Which registers reach the TSE: a registration the TSE refuses answers the
// job with its error and is not tried again for a minute; KASSEN= keeps
// unknown ids away from the TSE altogether.
#include "JobFixture.h"

#include "jobs/ClientAdmission.h"

#include <QDirIterator>

using namespace jobtest;

namespace {

constexpr int64_t kSecond = 1000;  // on the monotonic clock

QList<QByteArray> Refused(const QByteArray& code, const QByteArray& kasId, const QByteArray& bonId)
{
    return {"CMD=BON ERR " + code, "KASID=" + kasId, "BONID=" + bonId, "SIGTEXT=x", "START=", "ENDE=",
            "TRANR=0", "SIGNR=0", "SIG=", "*EOF*"};
}

}  // namespace

class Clients : public JobFixture {
protected:
    // Admin logins the TSE has logged so far.
    int AdminLogins() const
    {
        int n = 0;
        QDirIterator it(StateFolder(), {QStringLiteral("*_Log-Sys_authenticateUser.log")}, QDir::Files);
        while (it.hasNext()) {
            it.next();
            ++n;
        }
        return n;
    }
    int LogCount(const QString& text) const { return int(LogText().count(text)); }
};

TEST_F(Clients, ARefusedRegistrationIsAnsweredWithTheTsesErrorAndNotTriedAgainForAMinute)
{
    StartService();
    WriteTseFaults("se_mapERStoKey = 0x300B\n");
    EXPECT_EQ(Run("B1", Bon("KasseNeu", "1", "x")), Refused("300Bh", "KasseNeu", "1"));
    EXPECT_EQ(LogCount("KasseNeu  Kasse nicht registriert, Err=300Bh\r\n"), 1);
    EXPECT_EQ(LogCount("Neue Kasse registriert"), 0);
    EXPECT_FALSE(core().Shown.Clients().contains("KasseNeu"));

    // The TSE would take it now, but within the minute it is not asked:
    // the same answer, no login, no second line.
    WriteTseFaults("");
    const int logins = AdminLogins();
    EXPECT_EQ(Run("B2", Bon("KasseNeu", "2", "x")), Refused("300Bh", "KasseNeu", "2"));
    EXPECT_EQ(Run("T1", Job({"CMD=TEXT", "KASID=KasseNeu", "SIGTEXT=x", "*EOF*"})).value(0), "CMD=TEXT ERR 300Bh");
    EXPECT_EQ(AdminLogins(), logins);
    EXPECT_EQ(LogCount("Kasse nicht registriert"), 1);

    // Another register is not held by it.
    EXPECT_EQ(Run("B3", Bon("KasseAndere", "1", "x")).value(0), "CMD=BON OK");
    EXPECT_EQ(LogCount("Neue Kasse registriert: KasseAndere\r\n"), 1);
}

TEST_F(Clients, ARegistrationLostWithTheTseIsTriedAgainAtTheNextJob)
{
    StartService();
    WriteTseFaults("se_mapERStoKey = 0x1004 once\n");
    EXPECT_EQ(Run("B1", Bon("KasseNeu", "1", "x")), Refused("1004h", "KasseNeu", "1"));
    EXPECT_EQ(Run("B2", Bon("KasseNeu", "2", "x")).value(0), "CMD=BON OK");
    EXPECT_EQ(LogCount("Neue Kasse registriert: KasseNeu\r\n"), 1);
}

TEST_F(Clients, IdsTheIniDoesNotNameNeverReachTheTse)
{
    StartService();
    core().AllowedClients = {"K1", "Kasse*"};
    EXPECT_EQ(Run("B1", Bon("K1", "1", "x")).value(0), "CMD=BON OK");
    EXPECT_EQ(Run("B2", Bon("Kasse07", "1", "x")).value(0), "CMD=BON OK");

    const int logins = AdminLogins();
    for (const QByteArray& id : {QByteArray("Fremd"), QByteArray("kasse07"), QByteArray("K10")}) {
        EXPECT_EQ(Run("B3", Bon(id, "1", "x")), Refused("3007h", id, "1")) << id.constData();
        EXPECT_EQ(LogCount(QString::fromLatin1(id) + "  Kasse nicht zugelassen (KASSEN=)\r\n"), 1) << id.constData();
    }
    EXPECT_EQ(Run("B3", Bon("Fremd", "2", "x")).value(0), "CMD=BON ERR 3007h");
    EXPECT_EQ(LogCount("Fremd  Kasse nicht zugelassen"), 1);  // once a minute
    EXPECT_EQ(AdminLogins(), logins);
    EXPECT_EQ(core().Shown.Clients().size(), 2);
}

// An id the TSE does not take as a PrintableString is answered with the
// TSE's own error, as any refused call, and takes no client slot.
TEST_F(Clients, IdOutsidePrintableStringAnsweredWithTheTsesError)
{
    StartService();
    EXPECT_EQ(Run("U", Bon("Kasse_01", "1", "x")), Refused("3003h", "Kasse_01", "1"));
    EXPECT_EQ(Run("S", Bon("Kasse/01", "1", "x")).value(0), "CMD=BON OK");
    EXPECT_EQ(core().Shown.Clients(), QStringList{"Kasse/01"});
}

TEST(RefusedClients, HeldForAMinuteAndLoggedOnceAMinuteWithTheCount)
{
    TRefusedClients refused;
    const int64_t t0 = 3600000;
    refused.NoteRefusal("K1", 0x300B, t0);
    EXPECT_EQ(refused.Refusal("K1", t0 + 59 * kSecond), 0x300B);
    EXPECT_EQ(refused.Refusal("K1", t0 + 60 * kSecond), 0);
    EXPECT_EQ(refused.Refusal("K2", t0), 0);
    EXPECT_EQ(refused.Refusal("K1", t0 - kSecond), 0);  // the clock set back

    EXPECT_EQ(refused.LogLine("K1", "K1 refused", t0), "K1 refused");
    EXPECT_EQ(refused.LogLine("K1", "K1 refused", t0 + 30 * kSecond), "");
    EXPECT_EQ(refused.LogLine("K2", "K2 refused", t0 + 30 * kSecond), "K2 refused");
    EXPECT_EQ(refused.LogLine("K1", "K1 refused", t0 + 61 * kSecond), "K1 refused  (2x wiederholt)");
}

TEST(RefusedClients, IdsNotSeenForTwoMinutesAreForgotten)
{
    TRefusedClients refused;
    const int64_t t0 = 3600000;
    for (int i = 0; i < 1000; ++i) refused.NoteRefusal("K" + std::to_string(i), 0x300B, t0);
    EXPECT_EQ(refused.Size(), 1000u);
    refused.NoteRefusal("Neu", 0x300B, t0 + 121 * kSecond);
    EXPECT_EQ(refused.Size(), 1u);
}

TEST(AllowedClients, ExactNamesAndPrefixesWithTheirCase)
{
    EXPECT_TRUE(ClientAllowed({}, "irgendwer"));
    const QStringList list = {"K1", "Kasse*"};
    EXPECT_TRUE(ClientAllowed(list, "K1"));
    EXPECT_FALSE(ClientAllowed(list, "K10"));
    EXPECT_FALSE(ClientAllowed(list, "k1"));
    EXPECT_TRUE(ClientAllowed(list, "Kasse"));
    EXPECT_TRUE(ClientAllowed(list, "Kasse99"));
    EXPECT_FALSE(ClientAllowed(list, "kasse99"));
    EXPECT_TRUE(ClientAllowed({"*"}, "jede"));
    // A "*" inside an entry is a plain character.
    EXPECT_TRUE(ClientAllowed({"K*1"}, "K*1"));
    EXPECT_FALSE(ClientAllowed({"K*1"}, "Kx1"));
}
