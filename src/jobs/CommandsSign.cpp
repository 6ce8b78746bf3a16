// BON and TEXT: one TSE transaction per job, started and at once finished
// with the job's data; the signature goes back in the answer.
#include "jobs/ClientAdmission.h"
#include "jobs/Jobs.h"
#include "jobs/Journal.h"

#include "platform/CrashPoint.h"
#include "platform/LogText.h"
#include "platform/Monotonic.h"
#include "core/Core.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"


namespace {

enum class SignKind { Bon, Text };

// The answer to a client the INI's KASSEN= does not name: the code the TSE
// itself gives a client it does not know, since such a client is never
// registered.
constexpr int32_t kNotAllowedClient = ErrorNoERS;

QString Erg()
{
    return QString::fromLatin1(ErgStr());
}

QString RegistrationRefusedLine(const TJobContext& ctx, int32_t code)
{
    return Txt(ctx.KasID) + "  Kasse nicht registriert, Err=" + QString::fromStdString(ErgStrOf(code));
}

// Registers a client the TSE does not know yet: 0, or the TSE's answer to
// the registration. A failed login shows in the registration's answer.
int32_t RegisterClient(TCore& core, TJobContext& ctx)
{
    int32_t res = 0;
    {
        TAdminSession admin(core, TAdminSession::Clock::Leave);
        ctx.LoginRes = admin.loginResult;
        ctx.MaxLogins = admin.remainingRetries;
        tse_mapERStoKey(ctx.KasID, TseSN);
        res = TseRes;
    }
    if (res != 0) return res;
    // The list shows what a register sent as the log does: no control byte raw.
    core.Shown.AddClient(plat::VisibleControls(Txt(ctx.KasID)));
    if (core.JobState) core.JobState->HealthFactsStale = true;  // one client place fewer
    core.Log("Neue Kasse registriert: " + Txt(ctx.KasID));
    return 0;
}

// A job whose client may not or cannot sign is answered with the reason's
// code in the layout of any refused transaction; the TSE never sees it.
void AnswerRefused(TCore& core, TJobContext& ctx, SignKind kind, int32_t code)
{
    Rewrite_SigFile(core, ctx);
    for (const std::string& line : SignAnswerLines(kind == SignKind::Bon ? 'B' : 'T', code, ctx, {}, {}, 0, 0, {}))
        WriteSigLine(ctx, line);
    Close_SigFile(core, ctx);
}

// Logs a refusal of the id once a minute at most, as any repeating error.
void LogRefusal(TCore& core, TRefusedClients& refused, const std::string& kasId, const QString& line)
{
    const QString shown = refused.LogLine(kasId, line, plat::MonotonicMs());
    if (!shown.isEmpty()) core.Log(shown);
}

// Whether the job's client may reach the TSE: it is on the administrator's
// list, and the TSE has not just refused to register it. Otherwise the job
// is answered here.
bool ClientAdmitted(TCore& core, TJobContext& ctx, SignKind kind, TRefusedClients& refused)
{
    if (!ClientAllowed(core.AllowedClients, Txt(ctx.KasID))) {
        LogRefusal(core, refused, ctx.KasID, Txt(ctx.KasID) + "  Kasse nicht zugelassen (KASSEN=)");
        AnswerRefused(core, ctx, kind, kNotAllowedClient);
        return false;
    }
    if (const int32_t code = refused.Refusal(ctx.KasID, plat::MonotonicMs())) {
        LogRefusal(core, refused, ctx.KasID, RegistrationRefusedLine(ctx, code));
        AnswerRefused(core, ctx, kind, code);
        return false;
    }
    return true;
}

}  // namespace

void LogOperation(TCore& core, const TJobContext& ctx, char cmd, uint32_t taNr)
{
    const QString head = Txt(ctx.KasID) + "  TA=" + QString::number(taNr) + "  ";
    if (cmd == 'T')
        core.Log(head + Txt(ctx.KasData));
    else if (TseDebug)
        core.Log(head + "Bon=" + Txt(ctx.KasBonNr) + "  " + Txt(ctx.KasData));
    else
        core.Log(head + "Bon=" + Txt(ctx.KasBonNr));
}

namespace {

void LogSignature(TCore& core, const TTransResult& r)
{
    core.Log("°  Time: " + Txt(r.logTime));
    core.Log("°  S/N:  " + Txt(InsTZ(r.serialNumber, '-')));
    core.Log("°  SigC: " + QString::number(r.signatureCounter));
    core.Log("°  SigV: " + Txt(InsTZ(r.signatureValue, '-')));
}

// A TSE whose time ran out between two updates (the computer slept, or the
// TSE counts its interval otherwise than we do) refuses with "time not set":
// its time is set and the call is made once more before the job is answered.
bool SetTimeAfterRefusal(TCore& core, TJobContext& ctx, const char* call)
{
    if (TseRes != ErrorTimeNotSet) return false;
    core.Log(QString::fromLatin1(call) + ": Zeit der TSE nicht gesetzt (" + Erg() + "), neuer Versuch");
    Zeit_setzen(core, ctx);
    return true;
}

void SignJob(TCore& core, TJobContext& ctx, SignKind kind)
{
    // The pass made its state before the first job; a context without one
    // still refuses as the INI says.
    TRefusedClients fallback;
    TRefusedClients& refused = core.JobState ? core.JobState->RefusedClients : fallback;
    if (!ClientAdmitted(core, ctx, kind, refused)) return;

    // A transaction the journal could not record could be signed a second
    // time after a restart: the job waits until the journal takes records.
    if (ctx.Journal) {
        ctx.JournalErr = ctx.Journal->ReadyForJob();
        if (ctx.JournalErr != 0) {
            ctx.JournalBlocked = true;
            return;
        }
    }
    TTransResult TransRes;
    tse_startTransaction(ctx.KasID, {}, {}, {}, TransRes);
    // Before the registration: a TSE without time may not tell yet that it
    // does not know the client.
    if (SetTimeAfterRefusal(core, ctx, "StartTransaction")) tse_startTransaction(ctx.KasID, {}, {}, {}, TransRes);
    if (TseRes == ErrorNoERS) {
        if (const int32_t code = RegisterClient(core, ctx)) {
            // A TSE that went away has refused nothing: the reconnection
            // decides, not a minute's wait.
            if (!TTseConnection::IsUnreachable(code)) refused.NoteRefusal(ctx.KasID, code, plat::MonotonicMs());
            LogRefusal(core, refused, ctx.KasID, RegistrationRefusedLine(ctx, code));
            AnswerRefused(core, ctx, kind, code);
            return;
        }
        tse_startTransaction(ctx.KasID, {}, {}, {}, TransRes);
    }
    const int32_t startRes = TseRes;
    if (startRes == 0) plat::CrashPoint("tse-start");
    if (startRes != 0) core.Log("StartTransaction nicht möglich, E=" + Erg());

    const std::string StartTime = TransRes.logTime;
    const uint32_t taNr = TransRes.transactionNumber;
    core.Shown.SetTaNr(taNr);
    LogOperation(core, ctx, kind == SignKind::Bon ? 'B' : 'T', taNr);

    // From here on the job is the TSE's: the journal keeps it from ever
    // being signed again, should the service die before its answer is out.
    if (startRes == 0 && ctx.Journal) {
        TJournalEntry entry;
        entry.jobFile = ctx.JobDatei;
        entry.sha256 = ctx.JobSha256;
        entry.jobId = ctx.JobId;
        entry.kasId = ctx.KasID;
        entry.cmd = kind == SignKind::Bon ? 'B' : 'T';
        entry.taNr = taNr;
        entry.startTime = StartTime;
        entry.serial = TseSN;
        ctx.JournalErr = ctx.Journal->Started(entry);
        ctx.JournalId = entry.id;
        plat::CrashPoint("journal-start");
    }

    // Also after a failed start (number 0): the answer reports the finish.
    const char* processType = kind == SignKind::Bon ? "Kassenbeleg-V1" : "SonstigerVorgang";
    tse_finishTransaction(ctx.KasID, taNr, ctx.KasData, processType, {}, TransRes);
    if (SetTimeAfterRefusal(core, ctx, "FinishTransaction"))
        tse_finishTransaction(ctx.KasID, taNr, ctx.KasData, processType, {}, TransRes);
    const int32_t finishRes = TseRes;
    if (finishRes == 0) plat::CrashPoint("tse-finish");
    if (finishRes != 0) {
        core.Log("FinishTransaction nicht möglich, Err=" + Erg() + "  TA-Nr=" + QString::number(taNr));
    } else {
        if (TseDebug) LogSignature(core, TransRes);
        core.Shown.SetSigNr(TransRes.signatureCounter);
    }
    if (ctx.JournalId != 0) {
        const int err = ctx.Journal->Finished(ctx.JournalId, finishRes, TransRes.logTime,
                                              TransRes.signatureCounter, TransRes.signatureValue);
        if (ctx.JournalErr == 0) ctx.JournalErr = err;
        plat::CrashPoint("journal-finish");
    }

    // Written also when the file could not be created: the answer is kept
    // and written again on later passes.
    Rewrite_SigFile(core, ctx);
    for (const std::string& line :
         SignAnswerLines(kind == SignKind::Bon ? 'B' : 'T', finishRes, ctx, StartTime, TransRes.logTime, taNr,
                         TransRes.signatureCounter, TransRes.signatureValue))
        WriteSigLine(ctx, line);
    // The pass brings it onto the disk with the other answers of its batch,
    // and only then deletes the job.
    if (ctx.BatchAnswers) {
        Close_SigFileForBatch(core, ctx);
        return;
    }
    Close_SigFile(core, ctx);
    if (ctx.AnswerErr == 0) plat::CrashPoint("answer-flush");
}

}  // namespace

std::vector<std::string> SignAnswerLines(char cmd, int32_t finishRes, const TJobContext& job,
                                         const std::string& startTime, const std::string& endTime,
                                         uint32_t taNr, uint32_t sigCounter, const std::string& signatureHex)
{
    const std::string head = cmd == 'B' ? "CMD=BON" : "CMD=TEXT";
    std::vector<std::string> lines;
    lines.push_back(finishRes == 0 ? head + " OK" : head + " ERR " + ErgStrOf(finishRes));
    lines.push_back("KASID=" + job.KasID);
    if (cmd == 'B') lines.push_back("BONID=" + job.KasBonNr);
    lines.push_back("SIGTEXT=" + job.KasData);
    lines.push_back("START=" + startTime);
    lines.push_back("ENDE=" + endTime);
    lines.push_back("TRANR=" + std::to_string(taNr));
    lines.push_back("SIGNR=" + std::to_string(sigCounter));
    lines.push_back("SIG=" + HexToBase64(signatureHex));
    lines.push_back("*EOF*");
    return lines;
}

void Cmd_Bon_an_TSE(TCore& core, TJobContext& ctx)
{
    SignJob(core, ctx, SignKind::Bon);
}

void Cmd_Text_an_TSE(TCore& core, TJobContext& ctx)
{
    SignJob(core, ctx, SignKind::Text);
}
