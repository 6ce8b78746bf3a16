// Manual data export: the confirmation, the worker, the wait panel and what
// the window holds off while the worker uses the TSE.
#include "support/AppFixture.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

using namespace testenv;

namespace {

const QString ExportQuestion =
    "Während des Exports können keine Bons signiert werden.\r\nSoll der Export wirklich gestartet werden?";

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

    void ClickExport(bool answer)
    {
        dialogs.confirmAnswers.push_back(answer);
        form->Btn_EXP->click();
    }

    bool WindowIsIdle() const
    {
        return form->Timer1->isActive() && form->Btn_EXP->isEnabled() && form->Btn_Cer->isEnabled() &&
               form->Btn_Deactiv->isEnabled() && form->paWAIT->isHidden() && !form->BlinkTimer->isActive() &&
               !form->TSE_running && !form->Exp_running.load();
    }

    QStringList ExportFiles() const { return QDir(ExpDir()).entryList({"EXP_*"}, QDir::Files); }
};

TEST_F(ManualExportTest, NoAnswerChangesNothing)
{
    StartWithTse();
    const QString logBefore = LogText();

    ClickExport(false);

    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_TRUE(dialogs.asked.contains("confirm: " + ExportQuestion)) << dialogs.asked.join('\n').toStdString();
    EXPECT_TRUE(WindowIsIdle());
    EXPECT_EQ(LogText(), logBefore);
    EXPECT_TRUE(ExportFiles().isEmpty());
}

TEST_F(ManualExportTest, ExportsEveryTransactionAndLeavesTheMarkerAlone)
{
    StartWithTse();
    SignAtTse("Kasse01");
    SignAtTse("Kasse02");
    SignAtTse("Kasse01");
    const uint32_t counter = tse_getTransactionCounter();
    ASSERT_EQ(counter, 3u);
    const QByteArray iniBefore = ReadFile(progDir + "/Vok_TSE.INI");
    const uint32_t markerBefore = form->LastSavedTANr;

    ClickExport(true);

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

    EXPECT_EQ(form->LastSavedTANr, markerBefore);
    EXPECT_EQ(ReadFile(progDir + "/Vok_TSE.INI"), iniBefore);
    EXPECT_TRUE(WindowIsIdle());
}

TEST_F(ManualExportTest, HoldsOffJobsAndTheTseButtonsWhileTheWorkerRuns)
{
    StartWithTse();

    // The worker's log line is handed to the window thread and waits there
    // until it is shown: at that moment the export is certainly under way.
    struct Seen {
        bool inExport = false, timer = true, btnExp = true, btnCer = true, btnDeactiv = true;
        bool panel = false, blinking = false, tseRunning = false, expRunning = false;
        int blinkInterval = 0;
    } seen;
    const QString job = JobDir() + "/K1.TSE";
    const QString answer = JobDir() + "/K1.SIG";
    QObject::connect(form->liTA->model(), &QAbstractItemModel::rowsInserted, form, [&] {
        const QString last = form->liTA->item(form->liTA->count() - 1)->text();
        if (!last.contains("Manueller Export TSE-Daten")) return;
        seen = {true,
                form->Timer1->isActive(),
                form->Btn_EXP->isEnabled(),
                form->Btn_Cer->isEnabled(),
                form->Btn_Deactiv->isEnabled(),
                form->paWAIT->isVisible(),
                form->BlinkTimer->isActive(),
                form->TSE_running,
                form->Exp_running.load(),
                form->BlinkTimer->interval()};
        WriteFile(job, "CMD=BON\r\nKASID=Kasse01\r\nBONID=1\r\nSIGTEXT=Beleg\r\n*EOF*\r\n");
    });
    // The job must still wait for its answer when the panel goes.
    struct HideProbe : QObject {
        QString answer;
        bool hidden = false, answeredBefore = false;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Hide && !hidden) {
                hidden = true;
                answeredBefore = QFile::exists(answer);
            }
            return false;
        }
    } hideProbe;
    hideProbe.answer = answer;
    form->paWAIT->installEventFilter(&hideProbe);

    ClickExport(true);
    form->paWAIT->removeEventFilter(&hideProbe);

    ASSERT_TRUE(seen.inExport);
    EXPECT_FALSE(seen.timer);
    EXPECT_FALSE(seen.btnExp);
    EXPECT_FALSE(seen.btnCer);
    EXPECT_FALSE(seen.btnDeactiv);
    EXPECT_TRUE(seen.panel);
    EXPECT_TRUE(seen.blinking);
    EXPECT_EQ(seen.blinkInterval, 500);  // 500 ms on, 500 ms off
    EXPECT_TRUE(seen.tseRunning);
    EXPECT_TRUE(seen.expRunning);

    ASSERT_TRUE(hideProbe.hidden);
    EXPECT_FALSE(hideProbe.answeredBefore);
    EXPECT_TRUE(RunUntil([&] { return QFile::exists(answer) && !QFile::exists(job); }));
    EXPECT_TRUE(ReadFile(answer).startsWith("CMD=BON OK"));
    EXPECT_TRUE(WindowIsIdle());
}

TEST_F(ManualExportTest, NewTseIsExportedFromOneWithoutUpperBound)
{
    StartWithTse();
    ASSERT_EQ(tse_getTransactionCounter(), 0u);

    ClickExport(true);

    EXPECT_TRUE(LogText().contains("Manueller Export TSE-Daten EXP_1-0.TAR"));
    EXPECT_EQ(ExportFiles(), QStringList{"EXP_1-0.TAR"});
    EXPECT_TRUE(WindowIsIdle());
}

TEST_F(ManualExportTest, UnpluggedTseIsLoggedAndTheWindowReturnsToNormal)
{
    StartWithTse();
    ASSERT_TRUE(QFile::remove(tseDrive + "/TSE-IO.bin"));
    const int logLines = LogText().split("\r\n").size();

    ClickExport(true);

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
    EXPECT_TRUE(WindowIsIdle());
    EXPECT_TRUE(dialogs.asked.filter("info:").isEmpty());
}

// A click handled while another operation holds the TSE (inside a job's
// pause) runs once that operation has ended, without waiting inside it.
TEST_F(ManualExportTest, ClickDuringAnotherOperationRunsAfterIt)
{
    StartWithTse();
    form->SetTseRunning(true);

    ClickExport(true);

    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(form->Btn_EXP->isEnabled());
    EXPECT_TRUE(form->paWAIT->isHidden());
    EXPECT_FALSE(LogText().contains("Manueller Export"));

    form->SetTseRunning(false);
    EXPECT_TRUE(RunUntil([&] { return ExportFiles() == QStringList{"EXP_1-0.TAR"} && WindowIsIdle(); }));
}

}  // namespace
