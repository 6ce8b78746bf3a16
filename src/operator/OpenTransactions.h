// Finishing the transactions the TSE still holds open ("TA freigeben").
#pragma once

class TMainForm;

// Finishes every open transaction under the first registered client, as the
// button does; holds TSE_running meanwhile and enables the button again.
void FinishOpenTransactions(TMainForm& form);

// With nobody at the window (--unattended), transactions left open by a
// crash are finished at the start as the operator would with the button;
// otherwise they are left to the operator.
void FinishOpenTransactionsUnattended(TMainForm& form);
