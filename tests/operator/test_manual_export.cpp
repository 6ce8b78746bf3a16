// Manual data export: the worker, what the service holds off while the
// worker uses the TSE, and what it shows meanwhile.
#include "core/TseUsers.h"
#include "operator/Operator.h"
#include "support/AppFixture.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

using namespace testenv;

namespace {

QStringList TarMembers(const QString& path)
{
    QProcess tar;
    tar.start("tar", {"-tf", path});
    if (!tar.waitForFinished(10000) || tar.exitCode() != 0) return {};
    return QString::fromLocal8Bit(tar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

class ManualExportTest : public AppFixture {
protected:
    void StartWithTse()
    {
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartAndWaitRunning());
    }

    // One receipt signed at the TSE by the given client, as a job would.
    void SignAtTse(const std::string& clientId)
    {
        int32_t loginRes = 0;
        int16_t retries = 0;
        tse_authenticateUser(TseAdminUser, TseAdminPin, loginRes, retries);
        tse_mapERStoKey(clientId, TseSN);  // already mapped after the first call
        tse_logOut(TseAdminUser);
        TTransResult res;
        tse_startTransaction(clientId, "Beleg", "Kassenbeleg-V1", "", res);
        ASSERT_EQ(TseRes.load(), 0);
        tse_finishTransaction(clientId, res.transactionNumber, "Beleg", "Kassenbeleg-V1", "", res);
        ASSERT_EQ(TseRes.load(), 0);
    }

    bool ServiceIsIdle()
    {
        using B = TShownState::Button;
        return service->Polling() && core().Shown.Enabled(B::Export) && core().Shown.Enabled(B::Certificates) &&
               core().Shown.Enabled(B::Deactivate) && !core().Shown.ExportRunning() && !core().TSE_running &&
               !core().Exp_running.load();
    }

    QStringList ExportFiles() const { return QDir(ExpDir()).entryList({"EXP_*"}, QDir::Files); }
};

TEST_F(ManualExportTest, ExportsEveryTransactionAndLeavesTheMarkerAlone)
{
    StartWithTse();
    SignAtTse("Kasse01");
    SignAtTse("Kasse02");
    SignAtTse("Kasse01");
    const uint32_t counter = tse_getTransactionCounter();
    ASSERT_EQ(counter, 3u);
    const QByteArray iniBefore = ReadFile(progDir + "/Vok_TSE.INI");
    const uint32_t markerBefore = core().LastSavedTANr;

    StartManualExport(core());

    const QString name = QString("EXP_1-%1.TAR").arg(counter);
    EXPECT_EQ(ExportFiles(), QStringList{name});
    EXPECT_TRUE(LogText().contains("Manueller Export TSE-Daten " + name));
    EXPECT_FALSE(LogText().contains("Fehler beim Export"));

    // Every transaction's start and finish is in the archive.
    const QStringList members = TarMembers(ExpDir() + "/" + name);
    ASSERT_FALSE(members.isEmpty());
    for (uint32_t nr = 1; nr <= counter; ++nr) {
        for (const char* op : {"_Start_", "_Finish_"}) {
            const QString tag = QString("_No-%1%2").arg(nr).arg(op);
            EXPECT_EQ(members.filter(tag).size(), 1) << tag.toStdString() << "\n"
                                                     << members.join('\n').toStdString();
        }
    }

    EXPECT_EQ(core().LastSavedTANr, markerBefore);
    EXPECT_EQ(ReadFile(progDir + "/Vok_TSE.INI"), iniBefore);
    EXPECT_TRUE(ServiceIsIdle());
}

TEST_F(ManualExportTest, HoldsOffJobsAndTheTseButtonsWhileTheWorkerRuns)
{
    StartWithTse();

    // The worker's log line is handed to the core's thread and waits there
    // until it is taken: at that moment the export is certainly under way.
    using B = TShownState::Button;
    struct Seen {
        bool inExport = false, polling = true, btnExp = true, btnCer = true, btnDeactiv = true;
        bool shown = false, tseRunning = false, expRunning = false;
    } seen;
    const QString job = JobDir() + "/K1.TSE";
    const QString answer = JobDir() + "/K1.SIG";
    // The job must still wait for its answer when the export's end is shown.
    bool endShown = false, answeredBefore = false;
    QObject::connect(&core().Shown, &TShownState::Changed, [&](TShownState::Part part) {
        if (part == TShownState::Part::Panels && seen.inExport && !endShown && !core().Shown.ExportRunning()) {
            endShown = true;
            answeredBefore = QFile::exists(answer);
        }
        if (part != TShownState::Part::Operations || seen.inExport) return;
        if (!core().Shown.Operations().last().contains("Manueller Export TSE-Daten")) return;
        seen = {true,
                service->Polling(),
                core().Shown.Enabled(B::Export),
                core().Shown.Enabled(B::Certificates),
                core().Shown.Enabled(B::Deactivate),
                core().Shown.ExportRunning(),
                core().TSE_running,
                core().Exp_running.load()};
        WriteFile(job, "CMD=BON\r\nKASID=Kasse01\r\nBONID=1\r\nSIGTEXT=Beleg\r\n*EOF*\r\n");
    });

    StartManualExport(core());

    ASSERT_TRUE(seen.inExport);
    EXPECT_FALSE(seen.polling);
    EXPECT_FALSE(seen.btnExp);
    EXPECT_FALSE(seen.btnCer);
    EXPECT_FALSE(seen.btnDeactiv);
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(seen.tseRunning);
    EXPECT_TRUE(seen.expRunning);

    ASSERT_TRUE(endShown);
    EXPECT_FALSE(answeredBefore);
    EXPECT_TRUE(RunUntil([&] { return QFile::exists(answer) && !QFile::exists(job); }));
    EXPECT_TRUE(ReadFile(answer).startsWith("CMD=BON OK"));
    EXPECT_TRUE(ServiceIsIdle());
}

TEST_F(ManualExportTest, NewTseIsExportedFromOneWithoutUpperBound)
{
    StartWithTse();
    ASSERT_EQ(tse_getTransactionCounter(), 0u);

    StartManualExport(core());

    EXPECT_TRUE(LogText().contains("Manueller Export TSE-Daten EXP_1-0.TAR"));
    EXPECT_EQ(ExportFiles(), QStringList{"EXP_1-0.TAR"});
    EXPECT_TRUE(ServiceIsIdle());
}

TEST_F(ManualExportTest, UnpluggedTseIsLoggedAndTheServiceReturnsToNormal)
{
    StartWithTse();
    ASSERT_TRUE(QFile::remove(tseDrive + "/TSE-IO.bin"));
    const int logLines = LogText().split("\r\n").size();

    StartManualExport(core());

    const QString code = QString::fromStdString(ErgStrOf(ErrorSECommunicationFailed));
    const QString reopen = "  Fehler beim Export, erneutes Öffnen der TSE unmöglich (" + code + ")";
    QStringList lines = LogText().split("\r\n").mid(logLines - 1);
    for (QString& line : lines) line = line.mid(19);  // "dd.mm.yy hh:nn:ss  "
    lines.removeAll(QString());
    // The export itself fails with whatever the library says without a session.
    ASSERT_EQ(lines.size(), 4) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], reopen);
    EXPECT_EQ(lines[1], "Manueller Export TSE-Daten EXP_1-0.TAR");
    EXPECT_TRUE(QRegularExpression("^  Fehler beim Export \\([0-9A-F]{4}h\\)$").match(lines[2]).hasMatch())
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], reopen);
    EXPECT_TRUE(ExportFiles().isEmpty());
    EXPECT_TRUE(ServiceIsIdle());
    EXPECT_TRUE(dialogs.asked.filter("info:").isEmpty());
}

// A click handled while another operation holds the TSE (inside a job's
// pause) runs once that operation has ended, without waiting inside it.
TEST_F(ManualExportTest, ClickDuringAnotherOperationRunsAfterIt)
{
    StartWithTse();
    core().SetTseRunning(true);

    StartManualExport(core());

    EXPECT_FALSE(service->Polling());
    EXPECT_FALSE(core().Shown.Enabled(TShownState::Button::Export));
    EXPECT_FALSE(core().Shown.ExportRunning());
    EXPECT_FALSE(LogText().contains("Manueller Export"));

    core().SetTseRunning(false);
    EXPECT_TRUE(RunUntil([&] { return ExportFiles() == QStringList{"EXP_1-0.TAR"} && ServiceIsIdle(); }));
}

}  // namespace
