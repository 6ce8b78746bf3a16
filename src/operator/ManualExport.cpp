// Manual export of all data stored in the TSE, on a worker thread while the
// shown state says that it runs and no job is processed.
#include "operator/Operator.h"
#include "operator/Thread_Exp.h"
#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "core/Core.h"
#include "tse/TseLib.h"

#include <QPointer>
#include <exception>

namespace {

void LogReopenFailure(TCore& core)
{
    if (TseRes.load() != 0)
        core.Log(QStringLiteral("  Fehler beim Export, erneutes Öffnen der TSE unmöglich (") + core.ErgStr() +
                 QStringLiteral(")"));
}

// The worker's steps: transactions 1 up to the counter, between a reopen
// with the long time-out and one with the normal time-out.
void ExportSteps(TCore& core)
{
    core.ReOpenTSE(60000);
    LogReopenFailure(core);

    const uint32_t VonTANr = 1;
    const uint32_t BisTANr = tse_getTransactionCounter();
    const QString FName =
        QStringLiteral("EXP_") + QString::number(VonTANr) + QStringLiteral("-") + QString::number(BisTANr) + ".TAR";
    core.Log(QStringLiteral("Manueller Export TSE-Daten ") + FName);

    const QString path = plat::NativePath(core.ExpVerz + QStringLiteral("\\") + FName);
    tse_exportDataToFile("", VonTANr, BisTANr, 0, 0, plat::QToAnsi(path));
    if (TseRes.load() != 0)
        core.Log(QStringLiteral("  Fehler beim Export (") + core.ErgStr() + QStringLiteral(")"));

    core.ReOpenTSE(5000);
    LogReopenFailure(core);
}

// Brings the service back to normal operation however the export ends.
class ExportRestore {
public:
    explicit ExportRestore(TCore& core) : core_(core) {}
    ~ExportRestore()
    {
        core_.Shown.SetExportRunning(false);
        core_.Shown.EnableTseButtons(true);
        core_.SetTseRunning(false);
        // Job passes go on where the start-up had switched them on, and not
        // when the program is to end.
        core_.ReleasePolling();
    }
    ExportRestore(const ExportRestore&) = delete;
    ExportRestore& operator=(const ExportRestore&) = delete;

private:
    TCore& core_;
};

// The part of the click that needs the TSE to itself; runs once no other
// operation holds TSE_running.
void RunManualExport(TCore& core)
{
    core.SetTseRunning(true);
    core.Shown.SetExportRunning(true);

    ExportRestore restore(core);
    auto* worker = new TThread_Exp(core);
    QPointer<TThread_Exp> alive(worker);
    core.Exp_running.store(true);
    worker->start();
    if (!worker->isRunning() && !worker->isFinished()) {
        // No thread could be made: nothing will ever clear the flag.
        core.Exp_running.store(false);
        delete worker;
        core.Log(QStringLiteral("  Fehler beim Export, kein Export-Thread möglich"));
        return;
    }
    core.WaitWhile([&core] { return core.Exp_running.load(); });
    // The worker's last act, the wake-up call, may still be under way: let
    // it leave the core before the core can go away. It has nothing left
    // to do, so this returns at once.
    if (alive) alive->wait();
}

}  // namespace

TThread_Exp::TThread_Exp(TCore& core) : core_(core)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_Exp::run()
{
    Execute();
}

void TThread_Exp::Execute()
{
    TCore& core = core_;
    // The flag is cleared last, however the steps end: after it the core no
    // longer waits for this thread, so nothing may reach the core then but
    // the wake-up call.
    struct ClearRunning {
        TCore& core;
        ~ClearRunning()
        {
            core.Exp_running.store(false);
            core.WakeWaits();
        }
    } clearRunning{core};

    try {
        ExportSteps(core);
    } catch (const std::exception& e) {
        // An error must not end the program from this thread.
        core.Log(QStringLiteral("  Fehler beim Export (") + QString::fromLocal8Bit(e.what()) + QStringLiteral(")"));
    }
}

void StartManualExport(TCore& core)
{
    // From now on no job pass starts; the export's end lets them go on.
    core.HoldPolling();
    core.Shown.EnableTseButtons(false);
    // A click handled inside a running job's pause must not wait for that
    // job here: the job can only go on once this handler has returned.
    core.RunWhenTseIdle([&core] { RunManualExport(core); });
}
