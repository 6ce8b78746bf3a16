// Finishing the transactions the TSE still holds open ("TA freigeben").
#pragma once

class TCore;

// Finishes every open transaction, as the button does: one that a waiting
// job began with that job's data (the job is answered), any other under
// the client that began it. Holds TSE_running meanwhile and enables the
// button again.
void FinishOpenTransactions(TCore& core);

// Shows in the notices which transactions the TSE holds open now; true
// when there are any.
bool RefreshOpenTransactionNotice(TCore& core);

// With nobody at the window (--unattended), transactions left open by a
// crash are finished at the start as the operator would with the button;
// otherwise they are left to the operator.
void FinishOpenTransactionsUnattended(TCore& core);
