// BON and TEXT: one TSE transaction per job, started and at once finished
// with the job's data; the signature goes back in the answer.
#include "jobs/Jobs.h"

#include "shell/MainForm.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QLabel>
#include <QListWidget>

namespace {

enum class SignKind { Bon, Text };

QString Erg()
{
    return QString::fromLatin1(ErgStr());
}

// Registers a client the TSE does not know yet. None of the results is
// looked at: a failed registration shows as a failure of the next start.
void RegisterClient(TMainForm& form, TJobContext& ctx)
{
    tse_authenticateUser(TseAdminUser, TseAdminPin, ctx.LoginRes, ctx.MaxLogins);
    tse_mapERStoKey(ctx.KasID, TseSN);
    tse_logOut(TseAdminUser);
    form.liKas->addItem(Txt(ctx.KasID));
    form.Log("Neue Kasse registriert: " + Txt(ctx.KasID));
}

void LogOperation(TMainForm& form, const TJobContext& ctx, SignKind kind, uint32_t taNr)
{
    const QString head = Txt(ctx.KasID) + "  TA=" + QString::number(taNr) + "  ";
    if (kind == SignKind::Text)
        form.Log(head + Txt(ctx.KasData));
    else if (TseDebug)
        form.Log(head + "Bon=" + Txt(ctx.KasBonNr) + "  " + Txt(ctx.KasData));
    else
        form.Log(head + "Bon=" + Txt(ctx.KasBonNr));
}

void LogSignature(TMainForm& form, const TTransResult& r)
{
    form.Log("°  Time: " + Txt(r.logTime));
    form.Log("°  S/N:  " + Txt(InsTZ(r.serialNumber, '-')));
    form.Log("°  SigC: " + QString::number(r.signatureCounter));
    form.Log("°  SigV: " + Txt(InsTZ(r.signatureValue, '-')));
}

void WriteAnswer(TJobContext& ctx, SignKind kind, int32_t finishRes, const std::string& StartTime,
                 const TTransResult& r)
{
    const std::string cmd = kind == SignKind::Bon ? "CMD=BON" : "CMD=TEXT";
    WriteSigLine(ctx, finishRes == 0 ? cmd + " OK" : cmd + " ERR " + ErgStrOf(finishRes));
    WriteSigLine(ctx, "KASID=" + ctx.KasID);
    if (kind == SignKind::Bon) WriteSigLine(ctx, "BONID=" + ctx.KasBonNr);
    WriteSigLine(ctx, "SIGTEXT=" + ctx.KasData);
    WriteSigLine(ctx, "START=" + StartTime);
    WriteSigLine(ctx, "ENDE=" + r.logTime);
    WriteSigLine(ctx, "TRANR=" + std::to_string(r.transactionNumber));
    WriteSigLine(ctx, "SIGNR=" + std::to_string(r.signatureCounter));
    WriteSigLine(ctx, "SIG=" + HexToBase64(r.signatureValue));
    WriteSigLine(ctx, "*EOF*");
}

void SignJob(TMainForm& form, TJobContext& ctx, SignKind kind)
{
    TTransResult TransRes;
    tse_startTransaction(ctx.KasID, {}, {}, {}, TransRes);
    if (TseRes == ErrorNoERS) {
        RegisterClient(form, ctx);
        tse_startTransaction(ctx.KasID, {}, {}, {}, TransRes);
    }
    if (TseRes != 0) form.Log("StartTransaction nicht möglich, E=" + Erg());

    const std::string StartTime = TransRes.logTime;
    form.lbTANr->setText(QString::number(TransRes.transactionNumber));
    LogOperation(form, ctx, kind, TransRes.transactionNumber);

    // Also after a failed start (number 0): the answer reports the finish.
    tse_finishTransaction(ctx.KasID, TransRes.transactionNumber, ctx.KasData,
                          kind == SignKind::Bon ? "Kassenbeleg-V1" : "SonstigerVorgang", {}, TransRes);
    const int32_t finishRes = TseRes;
    if (finishRes != 0) {
        form.Log("FinishTransaction nicht möglich, Err=" + Erg() + "  TA-Nr=" +
                 QString::number(TransRes.transactionNumber));
    } else {
        if (TseDebug) LogSignature(form, TransRes);
        form.lbSigNr->setText(QString::number(TransRes.signatureCounter));
    }

    // Written also when the file could not be created: the answer is kept
    // and written again on later passes.
    Rewrite_SigFile(form, ctx);
    WriteAnswer(ctx, kind, finishRes, StartTime, TransRes);
    Close_SigFile(form, ctx);
}

}  // namespace

void Cmd_Bon_an_TSE(TMainForm& form, TJobContext& ctx)
{
    SignJob(form, ctx, SignKind::Bon);
}

void Cmd_Text_an_TSE(TMainForm& form, TJobContext& ctx)
{
    SignJob(form, ctx, SignKind::Text);
}
