// A service without an operator has nobody to press "TA freigeben": a
// transaction left open by a crash would stay open, and enough of them make
// the TSE refuse new ones. So the start finishes them itself.
#include "operator/OpenTransactions.h"

#include "core/Core.h"


void FinishOpenTransactionsUnattended(TCore& core)
{
    if (!core.Unattended) return;
    FinishOpenTransactions(core);
    // The notice and the button tell what is open now, not what the start found.
    core.Shown.Enable(TShownState::Button::TaFree, RefreshOpenTransactionNotice(core));
}
