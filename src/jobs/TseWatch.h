// The job pass's watch over the TSE: it notices when the TSE can no longer
// be reached, opens it again as soon as it answers, and keeps the status
// file current. The pass only calls these four.
#pragma once

#include "core/TseConnection.h"
#include "jobs/JobContext.h"
#include "jobs/JobPassState.h"

class TCore;

// Before a job: a lost TSE is opened again when the backoff allows.
void TseBeforeJob(TCore& core, TJobPassState& st);
// After a job: a TSE call that found the TSE unreachable marks it lost.
void TseAfterJob(TCore& core, TJobPassState& st, const TJobContext& ctx);
// At the end of every pass: without jobs a lost TSE is tried on the
// backoff; then the status file is brought up to date.
void TseAfterPass(TCore& core, TJobPassState& st, int jobsFound);

// A job went through: the status file's counters and last job follow from
// what the job itself got. The TSE's other figures (memory, client places,
// open transactions) are read again with the next refresh, or at once when
// the job may have changed them (fine == false: a call failed). Each is a
// call to the TSE, which on a USB TSE takes milliseconds.
void NoteJobForHealth(TCore& core, TJobPassState& st, bool fine);

// A TSE call gave `code`: when it says the TSE cannot be reached and the
// TSE was online, the loss is logged and shown in liErr.
void NoteTseLoss(TCore& core, TTseConnection& conn, int32_t code);
