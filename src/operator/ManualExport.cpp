// Manual export of all data stored in the TSE, on a worker thread while the
// window shows the wait panel and no job is processed.
#include "operator/Thread_Exp.h"
#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "shell/MainForm.h"
#include "tse/TseLib.h"

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <exception>

namespace {

const QString ExportQuestion = QStringLiteral(
    "Während des Exports können keine Bons signiert werden.\r\nSoll der Export wirklich gestartet werden?");

void LogReopenFailure(TMainForm& form)
{
    if (TseRes.load() != 0)
        form.Log(QStringLiteral("  Fehler beim Export, erneutes Öffnen der TSE unmöglich (") + form.ErgStr() +
                 QStringLiteral(")"));
}

// The worker's steps: transactions 1 up to the counter, between a reopen
// with the long time-out and one with the normal time-out.
void ExportSteps(TMainForm& form)
{
    form.ReOpenTSE(60000);
    LogReopenFailure(form);

    const uint32_t VonTANr = 1;
    const uint32_t BisTANr = tse_getTransactionCounter();
    const QString FName =
        QStringLiteral("EXP_") + QString::number(VonTANr) + QStringLiteral("-") + QString::number(BisTANr) + ".TAR";
    form.Log(QStringLiteral("Manueller Export TSE-Daten ") + FName);

    const QString path = plat::NativePath(form.ExpVerz + QStringLiteral("\\") + FName);
    tse_exportDataToFile("", VonTANr, BisTANr, 0, 0, plat::QToAnsi(path));
    if (TseRes.load() != 0)
        form.Log(QStringLiteral("  Fehler beim Export (") + form.ErgStr() + QStringLiteral(")"));

    form.ReOpenTSE(5000);
    LogReopenFailure(form);
}

// The buttons that reach the TSE from the window thread; none of them may
// run while the worker uses the TSE.
void EnableTseButtons(TMainForm& form, bool on)
{
    form.Btn_EXP->setEnabled(on);
    form.Btn_Cer->setEnabled(on);
    form.Btn_Deactiv->setEnabled(on);
}

// Brings the window back to normal operation however the export ends.
class ExportRestore {
public:
    explicit ExportRestore(TMainForm& form) : form_(form) {}
    ~ExportRestore()
    {
        form_.BlinkTimer->stop();
        form_.paWAIT->hide();
        EnableTseButtons(form_, true);
        // The disabled button gave its focus to a list, which then selected
        // its first line: the focus goes back, the selection goes.
        form_.Btn_EXP->setFocus();
        for (QListWidget* list : {form_.liTSE, form_.liKas, form_.liTA, form_.liErr}) {
            list->clearSelection();
            list->setCurrentItem(nullptr);
        }
        form_.SetTseRunning(false);
        // Only where the start-up had switched it on, and not when the
        // program is to end.
        if (form_.PollSwitchedOn && !form_.EndRequested()) form_.Timer1->start();
    }
    ExportRestore(const ExportRestore&) = delete;
    ExportRestore& operator=(const ExportRestore&) = delete;

private:
    TMainForm& form_;
};

// The part of the click that needs the TSE to itself; runs once no other
// operation holds TSE_running.
void RunManualExport(TMainForm& form)
{
    // A job pass that ended while this request waited has switched the poll
    // timer on again.
    form.Timer1->stop();
    form.SetTseRunning(true);
    form.paWAIT->show();
    form.BlinkTimer->start();

    ExportRestore restore(form);
    auto* worker = new TThread_Exp;
    QPointer<TThread_Exp> alive(worker);
    form.Thread_Exp = worker;
    form.Exp_running.store(true);
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // No thread could be made: nothing will ever clear the flag.
        form.Exp_running.store(false);
        form.Thread_Exp = nullptr;
        delete worker;
        form.Log(QStringLiteral("  Fehler beim Export, kein Export-Thread möglich"));
        return;
    }
    form.WaitWhile([&form] { return form.Exp_running.load(); });
    // The worker's last act, the wake-up call, may still be under way: let
    // it leave the window object before the window can go away. It has
    // nothing left to do, so this returns at once.
    if (alive) alive->wait();
    form.Thread_Exp = nullptr;
}

}  // namespace

TThread_Exp::TThread_Exp()
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_Exp::run()
{
    Execute();
}

void TThread_Exp::Execute()
{
    TMainForm& form = *MainForm;
    // The flag is cleared last, however the steps end: after it the window
    // no longer waits for this thread, so nothing may reach the window then
    // but the wake-up call.
    struct ClearRunning {
        TMainForm& form;
        ~ClearRunning()
        {
            form.Exp_running.store(false);
            form.WakeWaits();
        }
    } clearRunning{form};

    try {
        ExportSteps(form);
    } catch (const std::exception& e) {
        // An error must not end the program from this thread.
        form.Log(QStringLiteral("  Fehler beim Export (") + QString::fromLocal8Bit(e.what()) + QStringLiteral(")"));
    }
}

void TMainForm::Btn_EXPClick()
{
    plat::Beep();
    if (!plat::ConfirmYesNo(ExportQuestion)) return;

    Timer1->stop();
    EnableTseButtons(*this, false);
    // A click handled inside a running job's pause must not wait for that
    // job here: the job can only go on once this handler has returned.
    RunWhenTseIdle([this] { RunManualExport(*this); });
}

void TMainForm::BlinkTimerTimer()
{
    lbWaitMsg->setHidden(!lbWaitMsg->isHidden());
}
