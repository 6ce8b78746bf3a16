// Finishing the transactions that the TSE still holds open, and deactivating
// the TSE; both on the core's thread.
#include "operator/OpenTransactions.h"
#include "operator/Operator.h"

#include "jobs/Jobs.h"
#include "jobs/JournalRecovery.h"

#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "core/Core.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"


namespace {

// Gives the button and the TSE back however the finishing ends.
class TaFreeRestore {
public:
    explicit TaFreeRestore(TCore& core) : core_(core) {}
    ~TaFreeRestore()
    {
        core_.Shown.Enable(TShownState::Button::TaFree, true);
        core_.SetTseRunning(false);
    }
    TaFreeRestore(const TaFreeRestore&) = delete;
    TaFreeRestore& operator=(const TaFreeRestore&) = delete;

private:
    TCore& core_;
};

const QString kOpenNotice = QStringLiteral("offene Trans");

// Who began the transaction, from its start message read back from the
// TSE; the first registered client when the TSE does not tell. A finish
// under another client than the start's is refused by a strict TSE.
std::string ClientOf(TCore& core, uint32_t TaNr)
{
    TServiceRecoveryTse tse(core.AktVerz);
    TTransactionLogs logs;
    if (tse.ReadBack(TaNr, logs) == 0 && logs.haveStart && !logs.startClient.empty()) return logs.startClient;
    if (core.Shown.Clients().isEmpty()) return {};
    return plat::QToAnsi(core.Shown.Clients().first());
}

// A transaction that a waiting job began is that job's: it is finished
// with the job's own data and the job answered, never closed by hand.
// False when no job claims it.
bool FinishClaimed(TCore& core, uint32_t TaNr)
{
    if (!core.JobState) return false;
    TJobPassState& st = *core.JobState;
    const TJournalEntry* claim = st.Journal.FindTransaction(TseSN, TaNr);
    if (!claim || claim->finished) return false;
    const TJournalEntry entry = *claim;
    TServiceRecoveryTse tse(core.AktVerz);
    const TRecoveryEnv env = ServiceRecoveryEnv(core, st, [&core](const QString& line) { core.Log(line); });
    plat::FileId kept;
    if (SettleJournalEntry(st.Journal, entry, tse, env, &kept) == TSettled::AnsweredKept)
        KeepForDeletion(st, entry, kept);
    return true;
}

// Finishes one open transaction under the client that began it. A number
// that cannot be read, or no client to finish it with, ends only this number.
void FinishOne(TCore& core, const QString& number)
{
    bool ok = false;
    // The TSE lists its numbers unsigned; every one of them must be
    // finishable.
    const uint32_t TaNr = number.toUInt(&ok, 10);
    if (!ok || FinishClaimed(core, TaNr)) return;
    const std::string clientId = ClientOf(core, TaNr);
    if (clientId.empty()) return;

    TTransResult TransRes;
    tse_finishTransaction(clientId, TaNr, "Manueller Abschluss von TA-Nr.: " + plat::QToAnsi(number),
                          "SonstigerVorgang", "", TransRes);
    if (TseRes.load() != 0)
        core.Log(QStringLiteral("FinishTransaction nicht möglich, Err=") + core.ErgStr() + QStringLiteral("  TA-Nr=") +
                 QString::number(TaNr));
    else
        core.Shown.SetSigNr(TransRes.signatureCounter);
}

}  // namespace

bool RefreshOpenTransactionNotice(TCore& core)
{
    const std::string open = tse_getOpenTransactions();
    const bool known = TseRes.load() == 0;
    core.Shown.RemoveNotices(kOpenNotice);
    if (known && !open.empty()) core.Shown.AddNoticeFirst("offene Transaktionen: " + plat::AnsiToQ(open));
    return known && !open.empty();
}

void FinishOpenTransactions(TCore& core)
{
    core.SetTseRunning(true);
    TaFreeRestore restore(core);

    std::string OpenList = tse_getOpenTransactions();
    while (!OpenList.empty()) {
        const QString number = GetTerm(OpenList, QLatin1Char(' '));
        if (!number.isEmpty()) FinishOne(core, number);
    }
    // What is still open (a refused finish, a job's transaction that waits
    // for its job) stays in the notice.
    (void)RefreshOpenTransactionNotice(core);
}

void RequestFinishOpenTransactions(TCore& core)
{
    core.Shown.Enable(TShownState::Button::TaFree, false);
    // A click handled inside a running job's pause or during the manual
    // export must not wait for that operation here: it could only go on
    // once this handler has returned.
    core.RunWhenTseIdle([&core] { FinishOpenTransactions(core); });
}

bool DeactivateTse(TCore& core)
{
    bool done = false;
    {
        TAdminSession admin(core);
        tse_deactivateTSE();
        done = TseRes.load() == 0;
        if (done)
            core.Log(QStringLiteral("TSE wurde deaktiviert"));
        else
            core.Log(QStringLiteral("TSE wurde NICHT deaktiviert (") + core.ErgStr() + QStringLiteral(")"));
    }
    core.Log(QStringLiteral("TSE Status: ") + plat::AnsiToQ(tse_getLifeCycleState()));
    return done;
}
