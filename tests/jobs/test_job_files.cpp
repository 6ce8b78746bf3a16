// Reading job files and answering them: the key rules, incomplete and
// unknown jobs, and the file handshake with the clients.
#include "JobFixture.h"

#include "jobs/Jobs.h"
#include "platform/Files.h"

#include <QRegularExpression>

using namespace jobtest;

TEST(JobLines, KeysAtLineStartCutNotTrimmedLastWins)
{
    TJobContext ctx;
    for (const char* l : {"CMD=BONUS-UND-MEHR", " KASID=eingerueckt", "kasid=klein", "KASID= K 1 ", "SIGTEXT=a",
                          "SIGTEXT=b", "\xEF\xBB\xBF" "BONID=7", "*EOF* ", "VONTA=12"})
        ApplyJobLine(ctx, l);
    EXPECT_EQ(ctx.KasCmd, "BONUS-UND-");
    EXPECT_EQ(ctx.KasID, " K 1 ");
    EXPECT_EQ(ctx.KasData, "b");
    EXPECT_EQ(ctx.KasBonNr, "");
    EXPECT_EQ(ctx.ExpVonTA, "12");
    EXPECT_FALSE(ctx.KasEOF);
    ApplyJobLine(ctx, "*EOF*");
    EXPECT_TRUE(ctx.KasEOF);
    ApplyJobLine(ctx, "SIGTEXT=" + std::string(120, 'x'));
    EXPECT_EQ(ctx.KasData.size(), 100u);
}

TEST(JobLines, TransactionNumbers)
{
    uint32_t v = 0;
    EXPECT_TRUE(ParseTANr("0042", v)) << v;
    EXPECT_EQ(v, 42u);
    EXPECT_TRUE(ParseTANr("+2147483647", v));
    EXPECT_EQ(v, 2147483647u);
    EXPECT_TRUE(ParseTANr("-1", v));
    EXPECT_EQ(v, 4294967295u);
    EXPECT_TRUE(ParseTANr("-2147483648", v));
    EXPECT_EQ(v, 2147483648u);
    for (const char* bad : {"", "-", "2147483648", "99999999999999999999", " 5", "5 ", "1e3", "$10", "0x10", "12a"})
        EXPECT_FALSE(ParseTANr(bad, v)) << bad;
}

class JobFiles : public JobFixture {};

TEST_F(JobFiles, EdgeCasesOfOneScan)
{
    StartService();
    const QByteArray id40 = "K234567890123456789012345678901234567890";
    PutJob("Kid40", Bon(id40, "1", "x"));
    PutJob("Bonus", Job({"CMD=BONUS", "KASID=K1", "*EOF*"}));
    PutJob("Klein", Job({"CMD=bon", "KASID=K1", "*EOF*"}));
    PutJob("Blank", Job({" CMD=BON", "KASID=K1", "*EOF*"}));
    PutJob("Bom", "\xEF\xBB\xBF" + Job({"CMD=BON", "KASID=K1", "*EOF*"}));
    PutJob("Xyz", Job({"CMD=XYZ", "*EOF*"}));
    PutJob("Halb", Job({"CMD=BON", "KASID=K1", "*EOF* "}));
    // LF only, a value after "*EOF*", the last SIGTEXT wins, bytes unchanged.
    PutJob("Mix", "CMD=BON\nKASID=K\xE4\nSIGTEXT=erst\nSIGTEXT=zweit \xE4\xFC\n*EOF*\nBONID=42\n");
    PutJob("Leer", Job({"CMD=TEXT", "KASID=K1", "SIGTEXT=", "*EOF*"}));

    for (const char* name : {"Kid40", "Bonus", "Mix", "Leer"}) ASSERT_TRUE(RunUntil([&] { return Answered(name); }));
    for (const char* gone : {"Klein", "Blank", "Bom", "Xyz"}) EXPECT_TRUE(Taken(gone)) << gone;
    Passes();

    EXPECT_EQ(SigValues("Kid40")["KASID"], id40.left(30));
    EXPECT_EQ(SigLines("Bonus").value(0), "CMD=BON OK");
    const QList<QByteArray> mix = SigLines("Mix");
    // The TSE refuses a client id outside PrintableString; the answer still
    // echoes the job's bytes unchanged.
    EXPECT_EQ(mix.mid(0, 4),
              (QList<QByteArray>{"CMD=BON ERR 3003h", "KASID=K\xE4", "BONID=42", "SIGTEXT=zweit \xE4\xFC"}));
    EXPECT_EQ(mix.size(), 10);
    EXPECT_EQ(SigLines("Leer").mid(0, 3), (QList<QByteArray>{"CMD=TEXT OK", "KASID=K1", "SIGTEXT="}));
    EXPECT_EQ(SigLines("Leer").size(), 9);
    for (const char* none : {"Klein", "Blank", "Bom", "Xyz", "Halb"}) EXPECT_FALSE(QFile::exists(SigPath(none))) << none;
    EXPECT_TRUE(QFile::exists(JobPath("Halb")));
    // Answers end in CR LF.
    EXPECT_TRUE(ReadFile(SigPath("Mix")).endsWith("SIG=" + SigValues("Mix")["SIG"] + "\r\n*EOF*\r\n"));
}

TEST_F(JobFiles, SameNameOverwritesAndSymlinkIsReplaced)
{
    StartService();
    const QByteArray first = Run("Same", Bon("K1", "1", "a")).value(6);
    const QByteArray second = Run("Same", Bon("K1", "2", "b")).value(6);
    EXPECT_NE(first, second);
    EXPECT_EQ(SigValues("Same")["BONID"], "2");

    // Whoever can write into the job directory cannot make the service
    // write through a link into another file.
    const QString victim = tmp.path() + "/victim.txt";
    WriteFile(victim, "keep");
    ASSERT_TRUE(QFile::link(victim, SigPath("Sym")));
    PutJob("Sym", Bon("K1", "3", "c"));
    ASSERT_TRUE(RunUntil([&] { return Answered("Sym"); }));
    EXPECT_EQ(ReadFile(victim), "keep");
    EXPECT_FALSE(QFileInfo(SigPath("Sym")).isSymLink());
}

TEST_F(JobFiles, LockedDirectoryAndUndeletableJobsStay)
{
    StartService({"/D"});
    QDir().mkpath(JobPath("X"));
    plat::File writer;  // a client still writing its job
    ASSERT_EQ(writer.Create(JobPath("Locked")), 0);
    ASSERT_EQ(writer.Write(Bon("K1", "1", "a").toStdString()), 0);
    Passes();
    EXPECT_FALSE(QFile::exists(SigPath("Locked")));
    EXPECT_TRUE(LogText().contains("Fehler beim Reset Locked.TSE  Err=" + QString::number(plat::ErrSharingViolation)));
    EXPECT_TRUE(LogText().contains(QRegularExpression("Fehler beim Reset X.TSE  Err=\\d+")));
    writer.Close();
    EXPECT_TRUE(RunUntil([&] { return Answered("Locked"); }));

    // A job whose file cannot be deleted is answered once: later passes only
    // try the deletion again, they never sign it a second time.
    plat::SetDeleteFailureForTest(EACCES);
    PutJob("Dele", Bon("K1", "2", "b"));
    ASSERT_TRUE(RunUntil([&] { return LogText().contains("Dele.TSE konnte nicht gelöscht werden\r\n"); }));
    const QByteArray firstTa = SigValues("Dele")["TRANR"];
    EXPECT_TRUE(LogText().contains("Dele.TSE konnte vorerst nicht gelöscht werden, Err=13"));
    Passes();
    Passes();
    plat::SetDeleteFailureForTest(0);
    EXPECT_TRUE(RunUntil([&] { return Taken("Dele"); }));
    EXPECT_EQ(SigValues("Dele")["TRANR"], firstTa);
    EXPECT_EQ(LogText().count("  TA="), 2);  // Locked and Dele, each signed once
    EXPECT_TRUE(QDir(JobPath("X")).exists());
    EXPECT_TRUE(service->Polling());
}

TEST_F(JobFiles, ScanOrderPassBoundaryCopiesAndClose)
{
    StartService({"/D", "/F"});
    core().HoldPolling();
    PutJob("A", Bon("K1", "1", "a"));
    PutJob("B", Bon("K1", "2", "b"));
    QStringList order;
    ASSERT_EQ(plat::FindFiles(core().DatenVerz, "*.TSE", order), 0);

    // Job C arrives while A's deletion is being retried, inside the pass.
    plat::SetDeleteFailureForTest(EACCES);
    QTimer writer;
    QObject::connect(&writer, &QTimer::timeout, [&] {
        if (core().TSE_running && !QFile::exists(JobPath("C"))) {
            PutJob("C", Bon("K1", "3", "c"));
            plat::SetDeleteFailureForTest(0);
        }
    });
    writer.start(0);
    core().ReleasePolling();
    for (const char* n : {"A", "B", "C"}) ASSERT_TRUE(RunUntil([&] { return Answered(n); })) << n;
    writer.stop();

    const QString o = order.join('|').replace(".TSE", "");
    EXPECT_LT(SigValues(order[0].chopped(4))["TRANR"].toUInt(), SigValues(order[1].chopped(4))["TRANR"].toUInt());
    EXPECT_GT(SigValues("C")["TRANR"].toUInt(), SigValues("B")["TRANR"].toUInt());
    const QString log = LogText();
    EXPECT_TRUE(log.contains("  Jobs gefunden für: " + o + "\r\n"));
    EXPECT_TRUE(log.contains("  Jobs gefunden für: C\r\n"));

    // "/F" leaves copies named by the files' modification times.
    const QStringList copies = QDir(JobDir()).entryList({"A_*.txt"});
    ASSERT_EQ(copies.size(), 2) << copies.join(' ').toStdString();
    const QRegularExpression stamp("^A_\\d\\d-\\d\\d-\\d\\d-\\d\\d\\d_(SIG|TSE)\\.txt$");
    for (const QString& c : copies) EXPECT_TRUE(stamp.match(c).hasMatch()) << c.toStdString();
    EXPECT_EQ(ReadFile(JobDir() + "/" + copies.filter("_SIG").value(0)), ReadFile(SigPath("A")));
    // A job file named in lower case is copied under the same name form.
    WriteFile(JobDir() + "/L.part", Bon("K1", "5", "e"));
    ASSERT_TRUE(QFile::rename(JobDir() + "/L.part", JobDir() + "/L.tse"));
    ASSERT_TRUE(RunUntil([&] { return Answered("L") && !QFile::exists(JobDir() + "/L.tse"); }));
    EXPECT_EQ(QDir(JobDir()).entryList({"L_*.txt"}).filter(QRegularExpression("^L_[-0-9]{12}_TSE\\.txt$")).size(), 1);

    // While a close is under way, passes take no job.
    core().ProgEnde = true;
    PutJob("D", Bon("K1", "4", "d"));
    Passes();
    EXPECT_TRUE(QFile::exists(JobPath("D")));
    core().ProgEnde = false;
    EXPECT_TRUE(RunUntil([&] { return Answered("D"); }));

    // Nor once the platform has announced the end of the session, before the
    // window has seen that request.
    SessionEndPending = true;
    PutJob("E", Bon("K1", "5", "e"));
    Passes();
    EXPECT_TRUE(QFile::exists(JobPath("E")));
    SessionEndPending = false;
    EXPECT_TRUE(RunUntil([&] { return Answered("E"); }));
}

TEST_F(JobFiles, IdleScanWritesNothing)
{
    StartService({"/D", "/TEST"});
    WriteFile(progDir + "/VOK_TSE.DEB", "");
    const QByteArray log = ReadFile(progDir + "/Vok_TSE.LOG");
    Passes(6);
    EXPECT_EQ(ReadFile(progDir + "/Vok_TSE.LOG"), log);
    EXPECT_EQ(ReadFile(progDir + "/VOK_TSE.DEB"), "");
    // The status file for monitoring is the one thing kept fresh while idle.
    QStringList entries = QDir(JobDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    entries.removeAll(QStringLiteral("Vok_TSE.status.json"));
    EXPECT_EQ(entries, QStringList());
}
