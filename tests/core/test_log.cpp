// The program log (list and file, pending lines, the export worker's lines)
// and the debug trace.
#include "support/AppFixture.h"

#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "tse/TseLib.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <thread>

using testenv::AppFixture;
using testenv::RunUntil;

namespace {

const plat::TDateTime kAt = plat::EncodeDateTime(2020, 7, 14, 13, 52, 7, 81);
const QString kFileStamp = QStringLiteral("14.07.20 13:52:07  ");
const QString kListStamp = QStringLiteral("14.07.20 13:52  ");
constexpr double kSecond = 1.0 / 86400.0;

}  // namespace

class LogTest : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        plat::SetNowOverride([] { return kAt; });
        Create();
    }

    QString LogPath() const { return progDir + "/Vok_TSE.LOG"; }
};

TEST_F(LogTest, PrefixSelectsListAndLineForm)
{
    core().Log("");
    EXPECT_FALSE(QFile::exists(LogPath()));

    core().Log("|Job gefunden");
    core().Log("°  Detailzeile");
    core().Log("Export fertig");
    core().Log("|");
    core().Log("°");

    EXPECT_EQ(LogLines(), QStringList({
                              kFileStamp + "Log-Datei erstellt",
                              kFileStamp + "Job gefunden",
                              "  Detailzeile",
                              kFileStamp + "Export fertig",
                              kFileStamp,
                              "",
                          }));
    EXPECT_EQ(core().Shown.Operations(), QStringList({kListStamp + "Export fertig"}));
}

TEST_F(LogTest, FileIsWindows1252WithCrLf)
{
    core().Log("°Prüfung äöüß €");
    const QByteArray bytes = testenv::ReadFile(LogPath());
    EXPECT_TRUE(bytes.endsWith(QByteArray("Pr\xFC" "fung \xE4\xF6\xFC\xDF \x80\r\n")));
}

// A name from the share with a line break and a forged entry after it.
TEST_F(LogTest, ControlCharactersShowAsCodesInTheFileAndTheList)
{
    const QString forged = QStringLiteral("X\n14.07.20 13:52:07  TSE wieder verbunden (FORGED)\r\t") + QChar(0) + "\x7f";
    const QString shown = "X<0A>14.07.20 13:52:07  TSE wieder verbunden (FORGED)<0D><09><00><7F>";
    core().Log(forged + ".TSE gelöscht");
    core().Log("|" + forged);
    core().Log("°" + forged);
    // The TSE layer's writer of the same file.
    tse_Log(plat::QToAnsi(forged));

    EXPECT_EQ(LogLines(), QStringList({
                              kFileStamp + "Log-Datei erstellt",
                              kFileStamp + shown + ".TSE gelöscht",
                              kFileStamp + shown,
                              shown,
                              kFileStamp + shown,
                          }));
    EXPECT_EQ(core().Shown.Operations(), QStringList({kListStamp + shown + ".TSE gelöscht"}));
}

TEST_F(LogTest, ListKeepsTheLastTenPlainMessages)
{
    for (int i = 1; i <= 12; ++i) core().Log(QStringLiteral("Vorgang %1").arg(i));
    core().Log("|nur in der Datei");
    const QStringList lines = core().Shown.Operations();
    ASSERT_EQ(lines.size(), 10);
    EXPECT_EQ(lines.first(), kListStamp + "Vorgang 3");
    EXPECT_EQ(lines.last(), kListStamp + "Vorgang 12");
}

TEST_F(LogTest, LockedFileKeepsPrefixedLinesInOrderUntilItIsFree)
{
    core().Log("|vorher");
    {
        plat::File holder;
        ASSERT_EQ(holder.OpenAppend(progDir + "\\Vok_TSE.LOG"), 0);
        core().Log("°eins");
        core().Log("°zwei");
        core().Log("|drei");
        core().Log("verloren");
        EXPECT_EQ(core().Shown.Operations(), QStringList({kListStamp + "verloren", "Log-Fehler"}));
        EXPECT_EQ(core().TmpLogListe, QStringList({"eins", "zwei", kFileStamp + "drei"}));
    }
    core().Log("dazwischen");  // a plain message does not flush
    EXPECT_EQ(core().TmpLogListe.size(), 3);
    core().Log("|danach");
    EXPECT_TRUE(core().TmpLogListe.isEmpty());
    EXPECT_EQ(LogLines(), QStringList({
                              kFileStamp + "Log-Datei erstellt",
                              kFileStamp + "vorher",
                              kFileStamp + "dazwischen",
                              "eins",
                              "zwei",
                              kFileStamp + "drei",
                              kFileStamp + "danach",
                          }));
}

TEST_F(LogTest, PendingLinesAreDroppedWhenTheWindowCloses)
{
    plat::File holder;
    ASSERT_EQ(holder.OpenAppend(progDir + "\\Vok_TSE.LOG"), ENOENT);
    ASSERT_EQ(holder.Create(progDir + "\\Vok_TSE.LOG"), 0);
    core().Log("°wartet");
    service.reset();
    holder.Close();
    EXPECT_TRUE(testenv::ReadFile(LogPath()).isEmpty());
}

TEST_F(LogTest, WorkerLinesKeepTheirOrderBesideTheWindowThread)
{
    constexpr int kLines = 40;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kLines; ++i) core().Log(QStringLiteral("|worker %1").arg(i));
        core().Log("Export beendet");
        done = true;
    });
    int own = 0;
    ASSERT_TRUE(RunUntil([&] {
        core().Log(QStringLiteral("|window %1").arg(own++));
        return done.load();
    }));
    worker.join();

    QStringList workerLines, windowLines;
    for (const QString& line : LogLines()) {
        if (line.contains("worker ")) workerLines << line.mid(kFileStamp.size());
        if (line.contains("window ")) windowLines << line.mid(kFileStamp.size());
    }
    ASSERT_EQ(workerLines.size(), kLines);
    for (int i = 0; i < kLines; ++i) EXPECT_EQ(workerLines[i], QStringLiteral("worker %1").arg(i));
    ASSERT_EQ(windowLines.size(), own);
    for (int i = 0; i < own; ++i) EXPECT_EQ(windowLines[i], QStringLiteral("window %1").arg(i));
    EXPECT_EQ(core().Shown.Operations(), QStringList({kListStamp + "Export beendet"}));
}

// ---- Debug trace ----------------------------------------------------------------

class TraceTest : public AppFixture {
protected:
    QString TracePath() const { return progDir + "/VOK_TSE.DEB"; }

    // A trace file touched ageSeconds before the clock the program sees.
    void MakeTrace(double ageSeconds)
    {
        testenv::WriteFile(TracePath(), "");
        plat::TDateTime modified = 0;
        ASSERT_EQ(plat::FileModTime(progDir + "\\VOK_TSE.DEB", modified), 0);
        plat::SetNowOverride([now = modified + ageSeconds * kSecond] { return now; });
    }
};

TEST_F(TraceTest, WritesOnlyWithTheSwitchAndAFreshFile)
{
    Create();
    MakeTrace(1);
    core().ZelnorsTestLog("ohne Schalter");
    EXPECT_TRUE(testenv::ReadFile(TracePath()).isEmpty());
    service.reset();

    QFile::remove(TracePath());
    Create({"/test"});
    core().ZelnorsTestLog("keine Datei");
    EXPECT_FALSE(QFile::exists(TracePath()));

    MakeTrace(31);
    const QDateTime before = QFileInfo(TracePath()).lastModified();
    core().ZelnorsTestLog("zu alt");
    EXPECT_TRUE(testenv::ReadFile(TracePath()).isEmpty());
    EXPECT_EQ(QFileInfo(TracePath()).lastModified(), before);

    MakeTrace(29);
    core().ZelnorsTestLog("");
    core().ZelnorsTestLog("frisch");
    const QString text = QString::fromLatin1(testenv::ReadFile(TracePath()));
    EXPECT_TRUE(QRegularExpression(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d:\d\d\d frisch\r\n$)").match(text).hasMatch())
        << text.toStdString();
}

TEST_F(TraceTest, BusyFileIsRetriedAndTheAttemptNamed)
{
    // Each pause handles events exactly once: one release step per pause.
    Create({"/TEST"}, 0.0);
    MakeTrace(0);
    const QString stamp = plat::FormatDateTime("dd.mm.yy hh:nn:ss:zzz", plat::Now());

    auto holder = std::make_unique<plat::File>();
    ASSERT_EQ(holder->OpenAppend(progDir + "\\VOK_TSE.DEB"), 0);
    // Released during the second pause: the third attempt succeeds.
    QMetaObject::invokeMethod(
        service.get(), [&] { QMetaObject::invokeMethod(service.get(), [&] { holder.reset(); }, Qt::QueuedConnection); },
        Qt::QueuedConnection);
    core().ZelnorsTestLog("Datei gelesen");
    EXPECT_EQ(QString::fromLatin1(testenv::ReadFile(TracePath())),
              stamp + " Datei gelesen (3. LogVersuch)\r\n");

    // Held through all five attempts: the line is lost, the caller goes on.
    holder = std::make_unique<plat::File>();
    ASSERT_EQ(holder->OpenAppend(progDir + "\\VOK_TSE.DEB"), 0);
    core().ZelnorsTestLog("verloren");
    holder.reset();
    EXPECT_FALSE(testenv::ReadFile(TracePath()).contains("verloren"));
}
