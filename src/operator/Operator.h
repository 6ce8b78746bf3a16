// What the operator can do with the TSE, as procedures on the core: none of
// them asks a question or knows a window; the window's buttons ask first
// and then call these.
#pragma once

#include <cstdint>

class TCore;

// ---- Technical data (TseDaten.cpp) ----------------------------------------
// Reads what the TSE reports about itself into the shown state (technical
// data, registered clients, counters, capacity notices, the state of "TA
// freigeben") and sets the TSE's clock.
void TSE_Daten_abfragen(TCore& core);
// The same facts as a record in the program log.
void Log_TSE_Daten(TCore& core);

// ---- Certificates (CertExport.cpp) ----------------------------------------
// Saves the TSE's certificate archive as Cer.TAR and the names of its
// certificates in Cer.txt, both in the export directory. 0, or the error
// (TSE result or error number); the failure is logged.
int32_t ExpCert(TCore& core);

// ---- Manual export (ManualExport.cpp) -------------------------------------
// Exports all the TSE's data on a worker thread while no job is taken; the
// shown state says that the export runs. Starts once no other operation
// holds the TSE.
void StartManualExport(TCore& core);

// ---- Deactivation (OpenTransactions.cpp) ------------------------------------
// Deactivates the TSE; true when the TSE took it.
bool DeactivateTse(TCore& core);
// "TA freigeben" as the button asks for it: once no other operation holds
// the TSE, every open transaction is finished.
void RequestFinishOpenTransactions(TCore& core);
