#include "jobs/TseWatch.h"

#include "platform/DateTime.h"
#include "platform/Host.h"
#include "platform/Version.h"
#include "core/Core.h"
#include "tse/TseLib.h"

#include <cmath>

namespace {

// As the start-up's first opening: one attempt blocks the window at most
// this long.
constexpr int32_t kReopenTimeout = 5000;
const QString kLostNotice = QStringLiteral("TSE nicht erreichbar seit ");

void RemoveLostNotice(TCore& core)
{
    core.Shown.RemoveNotices(kLostNotice);
}

// The TSE answers again: its clock is set before the next transaction, and
// the window shows its counters as they are now.
void Reconnected(TCore& core, TJobPassState& st, uint32_t transactionCounter)
{
    core.Tse.Reconnected();
    core.Log(QStringLiteral("TSE wieder verbunden"));
    core.NextTimeSet = 0;
    core.Shown.SetTaNr(transactionCounter);
    const uint32_t signatureCounter = tse_getSignatureCounter(TseSN);
    if (TseRes == 0) core.Shown.SetSigNr(signatureCounter);
    RemoveLostNotice(core);
    st.HealthFactsStale = true;
}

void TryReconnect(TCore& core, TJobPassState& st, bool jobWaiting)
{
    if (!core.Tse.AttemptDue(jobWaiting)) return;
    core.ReOpenTSE(kReopenTimeout);
    // ReOpenTSE leaves the result of its logout; whether the TSE really
    // answers again shows in a plain query.
    const uint32_t transactionCounter = tse_getTransactionCounter();
    const int32_t res = TseRes;
    if (res != 0) {
        core.Tse.AttemptFailed(res);
        return;
    }
    Reconnected(core, st, transactionCounter);
}

uint32_t CountOpenTransactions(std::string list)
{
    uint32_t n = 0;
    size_t pos = 0;
    while ((pos = list.find_first_not_of(' ', pos)) != std::string::npos) {
        ++n;
        pos = list.find(' ', pos);
    }
    return n;
}

// The TSE's figures for the status file. Read only while the TSE is online:
// a lost TSE keeps its last known figures.
void ReadTseFacts(TCore& core, TJobPassState& st)
{
    THealthInputs& h = st.Health;
    const uint32_t transactionCounter = tse_getTransactionCounter();
    if (TseRes != 0) {
        NoteTseLoss(core, core.Tse, TseRes);
        return;
    }
    h.transactionCounter = transactionCounter;
    h.serial = QString::fromStdString(TseSN);
    const uint32_t signatureCounter = tse_getSignatureCounter(TseSN);
    if (TseRes == 0) h.signatureCounter = signatureCounter;
    h.certificateExpires = ParseTseDate(tse_getCertificateExpirationDate(TseSN));
    if (h.certificateExpires)
        h.certificateDaysLeft = static_cast<int64_t>(std::floor(*h.certificateExpires - plat::Now()));
    const std::string open = tse_getOpenTransactions();
    if (TseRes == 0) h.openTransactions = CountOpenTransactions(open);
    const uint32_t clients = tse_getCurrentNumberOfClients();
    if (TseRes == 0) h.clients = clients;
    const uint32_t clientSlots = tse_getMaxNumberOfClients();
    if (TseRes == 0) h.clientSlots = clientSlots;
    const uint64_t total = tse_getTotalLogMemory();
    const uint64_t available = total ? tse_getAvailableLogMemory() : 0;
    if (total && TseRes == 0) h.logMemoryFreePercent = static_cast<int>(available * 100 / total);
}

void UpdateHealth(TCore& core, TJobPassState& st, int jobsFound)
{
    const plat::TDateTime now = plat::Now();
    const bool factsDue = st.HealthFactsStale || now - st.HealthFactsAt >= THealthWriter::kRefresh ||
                          now < st.HealthFactsAt;
    THealthInputs& h = st.Health;
    if (factsDue) {
        if (!core.Tse.Lost()) ReadTseFacts(core, st);
        int64_t free = 0;
        if (plat::DiskFreeBytes(core.DatenVerz, free) == 0) h.diskFreeBytes = free;
        st.HealthFactsAt = now;
        st.HealthFactsStale = false;
    }
    h.tseOnline = !core.Tse.Lost();
    h.tseError = core.Tse.LastError() ? QString::fromStdString(ErgStrOf(core.Tse.LastError())) : QString();
    h.jobsWaiting = jobsFound;
    if (h.pid == 0) {
        h.pid = plat::ProcessId();
        h.host = plat::HostName();
        h.version = plat::ProgramVersion();
    }
    const int err = st.HealthWriter.Update(plat::FsPath(core.DatenVerz + "\\" + kHealthFileName), h);
    if (err != 0 && err != st.HealthWriteError)
        core.Log(QStringLiteral("%1 konnte nicht geschrieben werden, Err=%2").arg(kHealthFileName).arg(err));
    st.HealthWriteError = err;
}

}  // namespace

void NoteTseLoss(TCore& core, TTseConnection& conn, int32_t code)
{
    if (!conn.NoteFailure(code)) return;
    core.Log("TSE nicht erreichbar, Err=" + QString::fromStdString(ErgStrOf(code)));
    core.Shown.AddNotice(kLostNotice + plat::FormatDateTime(QStringLiteral("hh:nn"), conn.LostSince()));
}

void TseBeforeJob(TCore& core, TJobPassState& st)
{
    TryReconnect(core, st, true);
}

void TseAfterJob(TCore& core, TJobPassState& st, const TJobContext& ctx)
{
    if (!ctx.AnswerStarted) return;  // no command reached the TSE
    NoteJobForHealth(core, st, TseRes == 0);
    const int32_t res = TseRes;
    if (core.Tse.Lost() && res == 0) {
        // The job's own calls found the TSE again (an export opens it anew).
        const uint32_t transactionCounter = tse_getTransactionCounter();
        if (TseRes == 0) Reconnected(core, st, transactionCounter);
        return;
    }
    NoteTseLoss(core, core.Tse, res);
}

void NoteJobForHealth(TCore& core, TJobPassState& st, bool fine)
{
    THealthInputs& h = st.Health;
    h.lastJob = plat::Now();
    if (!fine || !core.Shown.CountersKnown()) {
        st.HealthFactsStale = true;
        return;
    }
    h.transactionCounter = core.Shown.TaNrValue();
    h.signatureCounter = core.Shown.SigNrValue();
}

void TseAfterPass(TCore& core, TJobPassState& st, int jobsFound)
{
    // Also when jobs were found: a job that waits (incomplete, locked, held
    // by the journal) or only has its file work left never reached the
    // attempt before a job.
    TryReconnect(core, st, false);
    UpdateHealth(core, st, jobsFound);
}
