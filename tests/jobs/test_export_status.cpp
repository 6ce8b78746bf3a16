// EXPORT with its ranges and the export marker; STATUS online and offline.
#include "JobFixture.h"

#include "tse/TseLib.h"


using namespace jobtest;

class ExportStatus : public JobFixture {
protected:
    QList<QByteArray> Export(const QString& name, std::initializer_list<QByteArray> range)
    {
        QList<QByteArray> lines{"CMD=EXPORT", "KASID=K1"};
        for (const QByteArray& l : range) lines << l;
        lines << "*EOF*";
        QByteArray text;
        for (const QByteArray& l : lines) text += l + "\r\n";
        return Run(name, text);
    }
    QList<QByteArray> Status(const QString& name, const QByteArray& kasId)
    {
        return Run(name, Job({"CMD=STATUS", "KASID=" + kasId, "*EOF*"}));
    }
    QByteArray IniMarker() const
    {
        const QByteArray ini = ReadFile(progDir + "/Vok_TSE.INI");
        const int at = int(ini.indexOf("EXP_TANR="));
        return ini.mid(at + 9, ini.indexOf('\r', at) - at - 9);
    }
    bool Exported(const QString& file) const { return QFile::exists(ExpDir() + "/" + file); }
};

TEST_F(ExportStatus, RangesAndTheMarker)
{
    StartService();
    for (int i = 1; i <= 3; ++i) Run("B", Bon("K1", QByteArray::number(i), "x"));

    EXPECT_EQ(Export("E1", {}), (QList<QByteArray>{"CMD=EXPORT OK", "KASID=K1", "VONTA=1", "BISTA=3",
                                                   "DATEI=EXP_1-3.TAR", "*EOF*"}));
    EXPECT_TRUE(Exported("EXP_1-3.TAR"));
    EXPECT_EQ(core().LastSavedTANr, 3u);
    EXPECT_EQ(IniMarker(), "3");
    EXPECT_TRUE(LogText().contains("K1  Export TSE-Daten EXP_1-3.TAR\r\n"));

    // Nothing new: nothing exported, the marker stays at the counter.
    EXPECT_EQ(Export("E2", {}).mid(0, 5),
              (QList<QByteArray>{"CMD=EXPORT OK", "KASID=K1", "VONTA=4", "BISTA=3", "DATEI="}));
    EXPECT_EQ(IniMarker(), "3");

    // Explicit ranges; only one without a last number moves the marker.
    EXPECT_EQ(Export("E3", {"VONTA=1", "BISTA=2"}).value(4), "DATEI=EXP_1-2.TAR");
    EXPECT_TRUE(Exported("EXP_1-2.TAR"));
    EXPECT_EQ(Export("E4", {"VONTA=0", "BISTA=0"}).value(4), "DATEI=EXP_0-0.TAR");
    EXPECT_EQ(IniMarker(), "3");
    Run("B", Bon("K1", "4", "x"));
    EXPECT_EQ(Export("E5", {"VONTA=2"}).mid(2, 3),
              (QList<QByteArray>{"VONTA=2", "BISTA=4", "DATEI=EXP_2-4.TAR"}));
    EXPECT_EQ(IniMarker(), "4");

    // A refused export leaves the marker where it was.
    Run("B", Bon("K1", "5", "x"));
    WriteTseFaults("se_exportDataToFile = 0x300A once\n");
    EXPECT_EQ(Export("E6", {}).value(0), "CMD=EXPORT ERR 300Ah");
    EXPECT_TRUE(LogText().contains("  Fehler beim Export (300Ah)"));
    EXPECT_EQ(IniMarker(), "4");
    EXPECT_EQ(core().LastSavedTANr, 4u);

    // A number that is none: nothing exported, the log names it.
    EXPECT_EQ(Export("E7", {"VONTA=1O", "BISTA=5"}),
              (QList<QByteArray>{"CMD=EXPORT ERR 3003h", "KASID=K1", "VONTA=0", "BISTA=5", "DATEI=", "*EOF*"}));
    EXPECT_TRUE(LogText().contains("VONTA=1O"));
    EXPECT_EQ(IniMarker(), "4");

    // The TSE gone: the counter cannot be read, the marker stays.
    QFile::remove(tseDrive + "/TSE-IO.bin");
    const auto off = Export("E8", {});
    EXPECT_TRUE(off.value(0).startsWith("CMD=EXPORT ERR ")) << off.value(0).constData();
    EXPECT_EQ(off.mid(2, 3), (QList<QByteArray>{"VONTA=5", "BISTA=0", "DATEI="}));
    EXPECT_EQ(IniMarker(), "4");
    EXPECT_EQ(core().LastSavedTANr, 4u);
}

TEST_F(ExportStatus, AnOpenTransactionKeepsTheMarkerBelowItUntilItsLateFinishWentOut)
{
    StartService();
    Run("B", Bon("K1", "1", "x"));
    WriteTseFaults("se_finishTransaction = 0x3009 once\n");
    EXPECT_EQ(Run("B", Bon("K1", "2", "x")).value(0), "CMD=BON ERR 3009h");  // TA 2 stays open
    Run("B", Bon("K1", "3", "x"));

    // The answer tells the whole range; only the marker stays below TA 2.
    EXPECT_EQ(Export("E1", {}).mid(0, 5),
              (QList<QByteArray>{"CMD=EXPORT OK", "KASID=K1", "VONTA=1", "BISTA=3", "DATEI=EXP_1-3.TAR"}));
    EXPECT_EQ(IniMarker(), "1");
    EXPECT_EQ(core().LastSavedTANr, 1u);
    EXPECT_TRUE(LogText().contains(QString::fromUtf8("  Export: TA=2 noch offen, der nächste Export beginnt dort\r\n")));

    // Still open at the next default export: held again.
    EXPECT_EQ(Export("E2", {}).mid(2, 3), (QList<QByteArray>{"VONTA=2", "BISTA=3", "DATEI=EXP_2-3.TAR"}));
    EXPECT_EQ(IniMarker(), "1");

    // Finished late: the export after it holds the finish and passes it.
    TTransResult late;
    tse_finishTransaction("K1", 2, "spaet", "SonstigerVorgang", {}, late);
    ASSERT_EQ(TseRes, 0);
    Run("B", Bon("K1", "4", "x"));
    EXPECT_EQ(Export("E3", {}).mid(2, 3), (QList<QByteArray>{"VONTA=2", "BISTA=4", "DATEI=EXP_2-4.TAR"}));
    EXPECT_TRUE(ReadFile(ExpDir() + "/EXP_2-4.TAR").contains("_Log-Tra_No-2_Finish_"));
    EXPECT_EQ(IniMarker(), "4");

    // Open only above an explicit range's end: such an export never moves it.
    WriteTseFaults("se_finishTransaction = 0x3009 once\n");
    Run("B", Bon("K1", "5", "x"));
    EXPECT_EQ(Export("E4", {"VONTA=5", "BISTA=5"}).value(0), "CMD=EXPORT OK");
    EXPECT_EQ(IniMarker(), "4");
}

TEST_F(ExportStatus, OpenTransactionsThatCannotBeAskedForLeaveTheMarker)
{
    StartService();
    Run("B", Bon("K1", "1", "x"));
    Run("B", Bon("K1", "2", "x"));
    WriteTseFaults("se_getOpenTransactions = 0x1004 once\n");
    // The archive is whole; only whether a finish is still to come is unknown.
    EXPECT_EQ(Export("E1", {}).mid(0, 5),
              (QList<QByteArray>{"CMD=EXPORT OK", "KASID=K1", "VONTA=1", "BISTA=2", "DATEI=EXP_1-2.TAR"}));
    EXPECT_EQ(IniMarker(), "0");
    EXPECT_TRUE(LogText().contains("  Export: offene Transaktionen nicht abfragbar (1004h), Exportstand bleibt 0\r\n"));
    EXPECT_EQ(Export("E2", {}).value(4), "DATEI=EXP_1-2.TAR");
    EXPECT_EQ(IniMarker(), "2");
}

TEST_F(ExportStatus, StatusOnlineAndOffline)
{
    StartService();
    Run("B", Bon("Kasse01", "1", "x"));
    core().Shown.RemoveNotices(QString());

    const auto on = Status("S1", "kasse01");
    ASSERT_EQ(on.size(), 11);
    EXPECT_EQ(on.mid(0, 4), (QList<QByteArray>{"CMD=STATUS OK", "TSE=ONLINE", "KASID=kasse01", "KASSE=BEKANNT"}));
    const auto v = SigValues("S1");
    EXPECT_FALSE(v["SN"].isEmpty());
    EXPECT_EQ(QByteArray::fromBase64(v["PUBKEY"]).size(), 97);
    EXPECT_EQ(v["TIFO"], "unixTime");     // how the TSE takes its time
    EXPECT_EQ(v["LOGTIFO"], "unixTime");  // how it writes its log times
    EXPECT_EQ(v["HASHALGO"], "ecdsa-plain-SHA384");
    EXPECT_TRUE(v["ZERT1"].endsWith("_X509.cer")) << v["ZERT1"].constData();
    EXPECT_EQ(on.value(10), "*EOF*");
    EXPECT_TRUE(LogText().contains("kasse01  Abfrage TSE-Status\r\n"));

    core().Shown.AddNotice(QString::fromUtf8("Hinweis: Größe"));
    core().Shown.AddNotice("zweiter");
    const auto notes = Status("S2", "Fremd");
    EXPECT_EQ(notes.value(3), "KASSE=UNBEKANNT");
    EXPECT_EQ(notes.mid(10), (QList<QByteArray>{"MITTEILUNGEN", "Hinweis: Gr\xF6\xDF" "e", "zweiter", "*EOF*"}));

    QFile::remove(tseDrive + "/TSE-IO.bin");
    const auto off = Status("S3", "KASSE01");
    ASSERT_GE(off.size(), 10);
    EXPECT_EQ(off.value(0), "CMD=STATUS OK");
    EXPECT_TRUE(off.value(1).startsWith("TSE=OFFLINE ERR=")) << off.value(1).constData();
    EXPECT_EQ(off.value(3), "KASSE=BEKANNT");
    EXPECT_EQ(off.mid(4, 6), (QList<QByteArray>{"SN=", "PUBKEY=", "TIFO=", "HASHALGO=", "ZERT1=", "LOGTIFO="}));
}
