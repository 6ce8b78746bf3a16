// Finishing the transactions that the TSE still holds open, and deactivating
// the TSE; both on the window thread.
#include "operator/OpenTransactions.h"

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

// Finishes one open transaction under the first registered client. A number
// that cannot be read, or no client to finish it with, ends only this number.
void FinishOne(TMainForm& form, const QString& number)
{
    bool ok = false;
    // The TSE lists its numbers unsigned; every one of them must be
    // finishable.
    const uint32_t TaNr = number.toUInt(&ok, 10);
    if (!ok || form.liKas->count() == 0) return;

    const std::string clientId = plat::QToAnsi(form.liKas->item(0)->text());
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

void FinishOpenTransactions(TMainForm& form)
{
    form.SetTseRunning(true);
    TaFreeRestore restore(form);

    std::string OpenList = tse_getOpenTransactions();
    while (!OpenList.empty()) {
        const QString number = GetTerm(OpenList, QLatin1Char(' '));
        if (!number.isEmpty()) FinishOne(form, number);
    }

    if (form.liErr->count() > 0 && form.liErr->item(0)->text().left(12) == QLatin1String("offene Trans"))
        delete form.liErr->takeItem(0);
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
