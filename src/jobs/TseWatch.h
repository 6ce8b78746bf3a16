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

// A TSE call gave `code`: when it says the TSE cannot be reached and the
// TSE was online, the loss is logged and shown in liErr.
void NoteTseLoss(TCore& core, TTseConnection& conn, int32_t code);
