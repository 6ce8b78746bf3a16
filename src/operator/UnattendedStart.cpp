// A service without an operator has nobody to press "TA freigeben": a
// transaction left open by a crash would stay open, and enough of them make
// the TSE refuse new ones. So the start finishes them itself.
#include "operator/OpenTransactions.h"

#include "shell/MainForm.h"

#include <QPushButton>

void FinishOpenTransactionsUnattended(TMainForm& form)
{
    if (!form.Unattended) return;
    FinishOpenTransactions(form);
    // The notice and the button tell what is open now, not what the start found.
    form.Btn_TAFree->setEnabled(RefreshOpenTransactionNotice(form));
}
