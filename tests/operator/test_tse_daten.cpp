// The technical-data view and log record on a started window: the line
// layout, the breaking of long hex values, the warning thresholds, the
// registered clients, open transactions and the clock setting.
#include "platform/DateTime.h"
#include "core/TseUsers.h"
#include "operator/Operator.h"
#include "support/AppFixture.h"
#include "tse/TseLib.h"

#include <QRegularExpression>

using namespace testenv;

namespace {


// n hex bytes counting up from first, e.g. "0A0B0C".
std::string CountingHex(int first, int n)
{
    std::string hex;
    for (int i = 0; i < n; ++i) hex += QStringLiteral("%1").arg(first + i, 2, 16, QChar('0')).toUpper().toStdString();
    return hex;
}

// The hex bytes as one line of the view: two blanks, the bytes joined by "-".
QString ViewLine(int first, int n)
{
    return "  " + QString::fromStdString(InsTZ(CountingHex(first, n), '-'));
}

QStringList Sorted(QStringList lines)
{
    lines.sort();
    return lines;
}

// Lines of list strictly between the headings from and to.
QStringList Between(const QStringList& list, const QString& from, const QString& to)
{
    const qsizetype begin = list.indexOf(from) + 1;
    return list.mid(begin, list.indexOf(to) - begin);
}

}  // namespace

class TseDatenTest : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartAndWaitRunning());
        core().HoldPolling();  // keep job passes away from the TSE
    }

    // Fills the view again, as the start-up does, with the given faults.
    void Refresh(const QByteArray& faults = "")
    {
        WriteTseFaults(faults);
        core().Shown.Clear();
        TSE_Daten_abfragen(core());
    }

    void AdminMaps(const std::string& clientId)
    {
        int32_t loginResult = 0;
        int16_t retries = 0;
        tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, retries);
        tse_mapERStoKey(clientId, TseSN);
        ASSERT_EQ(TseRes, 0);
        tse_logOut(TseAdminUser);
    }

    // The last technical-data record in the program log, without time stamps.
    QStringList LastRecord() const
    {
        QStringList lines = LogText().split("\r\n");
        const qsizetype head = lines.lastIndexOf(">>>>>>>>>> TECHNISCHE DATEN DER TSE <<<<<<<<<<");
        return head < 1 ? QStringList{} : lines.mid(head - 1, lines.indexOf(" ", head) - head + 2);
    }

    QStringList View() const { return core().Shown.TechData(); }
};

TEST_F(TseDatenTest, ViewOfAFreshTse)
{
    const QStringList v = View();
    ASSERT_GE(v.size(), 20);
    EXPECT_EQ(v.mid(0, 6), (QStringList{"Verzeichnisse", "  Daten:  " + core().DatenVerz, "  Export: " + core().ExpVerz,
                                        "  TSE:    E:\\", "Versionen", "  Voktar: V2.1"}));
    EXPECT_TRUE(v[6].startsWith("  TSE:    "));

    const QRegularExpression sixteenBytes(R"(^  [0-9A-F]{2}(-[0-9A-F]{2}){15}$)");
    const QStringList serial = Between(v, "Seriennummer der TSE", "Zeitmanagement");
    ASSERT_EQ(serial.size(), 2);
    for (const QString& line : serial) EXPECT_TRUE(sixteenBytes.match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(QString(serial.join("")).remove(' ').remove('-').toStdString(), TseSN);
    EXPECT_EQ(Between(v, "Unique ID", "Public Key").size(), 2);

    EXPECT_EQ(v.value(v.indexOf("Zeitmanagement") + 1), "  Sync.Interval:      1800 sec.");
    EXPECT_EQ(v.value(v.indexOf("Zeitmanagement") + 3), "  Uhr der TSE:        UTC");
    const QStringList signatur = Between(v, "Signatur", "Unique ID");
    ASSERT_EQ(signatur.size(), 3);
    EXPECT_TRUE(QRegularExpression(R"(^  gültig bis:         \d\d\.\d\d\.\d\d \d\d:\d\d:\d\d UTC$)").match(signatur[0]).hasMatch())
        << signatur[0].toStdString();
    EXPECT_EQ(signatur[2], "  Zertifikate ID:     BSI-K-TR-0000-2024");

    EXPECT_EQ(core().Shown.TaNr(), "0");
    EXPECT_TRUE(core().Shown.Clients().isEmpty());
    EXPECT_TRUE(core().Shown.Notices().isEmpty());
    EXPECT_FALSE(core().Shown.Enabled(TShownState::Button::TaFree));
    EXPECT_EQ(core().TimeSyncInterval, 1800);

    Refresh("se_getTransactionCounter value 4294967295\nse_getSignatureCounter value 4711\n");
    EXPECT_EQ(core().Shown.TaNr(), "4294967295");
    EXPECT_EQ(core().Shown.SigNr(), "4711");
}

TEST_F(TseDatenTest, ClockUpdateFollowsTheTsesInterval)
{
    const int64_t now = plat::MonotonicMs();
    plat::SetMonotonicOverride([now] { return now; });

    Refresh();
    EXPECT_EQ(core().NextTimeSet, now + 1799 * 1000);

    // A failed or zero interval makes every job pass set the clock.
    Refresh("se_getTimeSyncInterval value 0\n");
    EXPECT_EQ(core().TimeSyncInterval, 0);
    EXPECT_TRUE(View().contains("  Sync.Interval:      0 sec."));
    EXPECT_EQ(core().NextTimeSet, now - 1000);
}

TEST_F(TseDatenTest, LongHexValuesBreakAfterSixteenBytes)
{
    const std::string serial = TseSN;

    TseSN = CountingHex(0, 32);
    Refresh();
    EXPECT_EQ(Between(View(), "Seriennummer der TSE", "Zeitmanagement"), (QStringList{ViewLine(0, 16), ViewLine(16, 16)}));

    TseSN = CountingHex(0, 33);
    Refresh();
    EXPECT_EQ(Between(View(), "Seriennummer der TSE", "Zeitmanagement"),
              (QStringList{ViewLine(0, 16), ViewLine(16, 16), "  20"}));

    TseSN = serial;
}

TEST_F(TseDatenTest, WarningsAtTheirThresholds)
{
    const struct {
        QByteArray faults;
        QStringList warnings;
    } cases[] = {
        {"se_getAvailableLogMemory value 4194304\n", {}},
        {"se_getAvailableLogMemory value 4194303\n", {"TSE-Speicher fast voll, 4095 kb frei"}},
        {"se_getAvailableLogMemory = 0x1005\n", {"TSE-Speicher fast voll, 0 kb frei"}},
        {"se_getMaxNumberOfClients value 20\nse_getCurrentNumberOfClients value 10\n", {}},
        {"se_getMaxNumberOfClients value 20\nse_getCurrentNumberOfClients value 11\n",
         {"Kaum freie Kassen mehr, 9 frei"}},
        {"se_getMaxNumberOfClients value 20\nse_getCurrentNumberOfClients value 25\n", {}},
        {"se_getMaxNumberOfTransactions value 20\nse_getCurrentNumberOfTransactions value 10\n", {}},
        {"se_getMaxNumberOfTransactions value 20\nse_getCurrentNumberOfTransactions value 11\n",
         {"Kaum freie Transaktionen mehr, 9 frei"}},
        {"se_getMaxNumberOfTransactions value 20\nse_getCurrentNumberOfTransactions value 25\n", {}},
    };
    for (const auto& c : cases) {
        Refresh(c.faults);
        EXPECT_EQ(core().Shown.Notices(), c.warnings) << c.faults.toStdString();
    }
}

TEST_F(TseDatenTest, ClientsAndOpenTransactionsInViewAndRecord)
{
    AdminMaps("Kasse01");
    // A certified TSE takes only PrintableString ids; "=" is one of its signs.
    AdminMaps("K=X");
    TTransResult started;
    tse_startTransaction("Kasse01", "", "Kassenbeleg-V1", "", started);
    ASSERT_EQ(TseRes, 0);
    const QString open = QString::number(started.transactionNumber) + " ";

    Refresh();
    EXPECT_EQ(Sorted(core().Shown.Clients()), (QStringList{"K=X", "Kasse01"}));
    EXPECT_EQ(core().Shown.Notices(), QStringList{"offene Transaktionen: " + open});
    EXPECT_TRUE(core().Shown.Enabled(TShownState::Button::TaFree));

    Log_TSE_Daten(core());
    const QStringList record = LastRecord();
    const QStringList clients = Between(record, "Angemeldete Kassen", "Unique ID");
    ASSERT_EQ(clients.size(), 3);
    EXPECT_EQ(clients[0], "  " + QString::fromStdString(InsTZ(tse_getERSMappings(), '-')));
    EXPECT_EQ(Sorted(clients.mid(1)), (QStringList{"  K=X", "  Kasse01"}));
    EXPECT_TRUE(record.contains("offene Transaktionen: " + open));
    EXPECT_TRUE(record.contains("  Anz. Kassen: 2 von 100 belegt"));
    EXPECT_TRUE(record.contains("  Anz. Trans.: 1 von 512 belegt"));
}

TEST_F(TseDatenTest, RecordOfAFreshTseChangesNothingElse)
{
    const QStringList view = View();
    const int64_t nextTimeSet = core().NextTimeSet;

    Log_TSE_Daten(core());
    const QStringList r = LastRecord();
    ASSERT_EQ(r.size(), 34);  // no client lines
    EXPECT_EQ(r.mid(0, 8), (QStringList{" ", ">>>>>>>>>> TECHNISCHE DATEN DER TSE <<<<<<<<<<", "Verzeichnisse",
                                        "  Daten:  " + core().DatenVerz, "  Export: " + core().ExpVerz, "  TSE:    E:\\",
                                        "Versionen", "  Voktar: 2.1"}));
    EXPECT_EQ(r[9], "Seriennummer der TSE  (0000h)");
    EXPECT_EQ(r[10], "  " + QString::fromStdString(InsTZ(tse_exportSerialNumbers(), '-')));
    EXPECT_TRUE(r[10].contains(" | "));
    EXPECT_TRUE(r.contains("  Sync.Interval:      1800 sec."));
    EXPECT_TRUE(r.contains("  TransaktionsNr:     0"));
    EXPECT_TRUE(r.contains("offene Transaktionen: keine"));
    EXPECT_TRUE(QRegularExpression(R"(^  LogMemory:   \d+ von 8388608 kb frei$)").match(r.value(r.indexOf("Speicher") + 1)).hasMatch());
    EXPECT_EQ(r.last(), " ");

    EXPECT_EQ(View(), view);
    EXPECT_EQ(core().NextTimeSet, nextTimeSet);
}
