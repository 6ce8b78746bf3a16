// Finishing the transactions that the TSE still holds open, and deactivating
// the TSE; both on the window thread.
#include "operator/OpenTransactions.h"

#include "jobs/Jobs.h"
#include "jobs/JournalRecovery.h"

#include "platform/Ansi.h"
#include "platform/Dialogs.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QListWidget>
#include <QLabel>
#include <QPushButton>

namespace {

// Gives the button and the TSE back however the finishing ends.
class TaFreeRestore {
public:
    explicit TaFreeRestore(TMainForm& form) : form_(form) {}
    ~TaFreeRestore()
    {
        form_.Btn_TAFree->setEnabled(true);
        form_.SetTseRunning(false);
    }
    TaFreeRestore(const TaFreeRestore&) = delete;
    TaFreeRestore& operator=(const TaFreeRestore&) = delete;

private:
    TMainForm& form_;
};

const QString kOpenNotice = QStringLiteral("offene Trans");

// Who began the transaction, from its start message read back from the
// TSE; the first registered client when the TSE does not tell. A finish
// under another client than the start's is refused by a strict TSE.
std::string ClientOf(TMainForm& form, uint32_t TaNr)
{
    TServiceRecoveryTse tse(form.AktVerz);
    TTransactionLogs logs;
    if (tse.ReadBack(TaNr, logs) == 0 && logs.haveStart && !logs.startClient.empty()) return logs.startClient;
    if (form.liKas->count() == 0) return {};
    return plat::QToAnsi(form.liKas->item(0)->text());
}

// A transaction that a waiting job began is that job's: it is finished
// with the job's own data and the job answered, never closed by hand.
// False when no job claims it.
bool FinishClaimed(TMainForm& form, uint32_t TaNr)
{
    if (!form.JobState) return false;
    TJobPassState& st = *form.JobState;
    const TJournalEntry* claim = st.Journal.FindTransaction(TseSN, TaNr);
    if (!claim || claim->finished) return false;
    const TJournalEntry entry = *claim;
    TServiceRecoveryTse tse(form.AktVerz);
    const TRecoveryEnv env = ServiceRecoveryEnv(form, st, [&form](const QString& line) { form.Log(line); });
    plat::FileId kept;
    if (SettleJournalEntry(st.Journal, entry, tse, env, &kept) == TSettled::AnsweredKept)
        KeepForDeletion(st, entry, kept);
    return true;
}

// Finishes one open transaction under the client that began it. A number
// that cannot be read, or no client to finish it with, ends only this number.
void FinishOne(TMainForm& form, const QString& number)
{
    bool ok = false;
    // The TSE lists its numbers unsigned; every one of them must be
    // finishable.
    const uint32_t TaNr = number.toUInt(&ok, 10);
    if (!ok || FinishClaimed(form, TaNr)) return;
    const std::string clientId = ClientOf(form, TaNr);
    if (clientId.empty()) return;

    TTransResult TransRes;
    tse_finishTransaction(clientId, TaNr, "Manueller Abschluss von TA-Nr.: " + plat::QToAnsi(number),
                          "SonstigerVorgang", "", TransRes);
    if (TseRes.load() != 0)
        form.Log(QStringLiteral("FinishTransaction nicht möglich, Err=") + form.ErgStr() + QStringLiteral("  TA-Nr=") +
                 QString::number(TaNr));
    else
        form.lbSigNr->setText(QString::number(TransRes.signatureCounter));
}

}  // namespace

bool RefreshOpenTransactionNotice(TMainForm& form)
{
    const std::string open = tse_getOpenTransactions();
    const bool known = TseRes.load() == 0;
    for (int i = form.liErr->count() - 1; i >= 0; --i)
        if (form.liErr->item(i)->text().left(12) == kOpenNotice) delete form.liErr->takeItem(i);
    if (known && !open.empty()) form.liErr->insertItem(0, "offene Transaktionen: " + plat::AnsiToQ(open));
    return known && !open.empty();
}

void FinishOpenTransactions(TMainForm& form)
{
    form.SetTseRunning(true);
    TaFreeRestore restore(form);

    std::string OpenList = tse_getOpenTransactions();
    while (!OpenList.empty()) {
        const QString number = GetTerm(OpenList, QLatin1Char(' '));
        if (!number.isEmpty()) FinishOne(form, number);
    }
    // What is still open (a refused finish, a job's transaction that waits
    // for its job) stays in the notice.
    (void)RefreshOpenTransactionNotice(form);
}

void TMainForm::Btn_TAFreeClick()
{
    Btn_TAFree->setEnabled(false);
    // A click handled inside a running job's pause or during the manual
    // export must not wait for that operation here: it could only go on
    // once this handler has returned.
    RunWhenTseIdle([this] { FinishOpenTransactions(*this); });
}

void TMainForm::Btn_DeactivClick()
{
    int32_t LoginRes = 0;
    int16_t MaxLogins = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, LoginRes, MaxLogins);
    tse_updateTime();
    tse_deactivateTSE();
    if (TseRes.load() == 0) {
        Log(QStringLiteral("TSE wurde deaktiviert"));
        plat::ShowInfo(QStringLiteral("Die TSE wurde deaktiviert"));
    } else {
        Log(QStringLiteral("TSE wurde NICHT deaktiviert (") + ErgStr() + QStringLiteral(")"));
    }
    tse_logOut(TseAdminUser);
    Log(QStringLiteral("TSE Status: ") + plat::AnsiToQ(tse_getLifeCycleState()));
}
