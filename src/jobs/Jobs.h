// The job protocol with the cash-register clients: reading job files,
// the signature file, the "/F" copies and the four command handlers. All of
// it runs inside the job pass (TMainForm::Abarbeiten_TseJobs) on the
// window's thread and works on the pass's job context.
#pragma once

#include "jobs/JobContext.h"

#include <QString>
#include <cstdint>
#include <string>

class TMainForm;

// ---- Job file (JobFile.cpp) ----------------------------------------------
// Takes one line of a job file into the context by the protocol's rules.
void ApplyJobLine(TJobContext& ctx, const std::string& line);
// Opens, reads and closes the job file of the job in hand. ctx.IORes holds
// the result of the open, or else of the close. Returns the error of a read
// that failed midway (0 otherwise): the job must then not be carried out.
int32_t ReadJobFile(TMainForm& form, TJobContext& ctx);

// Paths of the job in hand in the system's form.
QString JobFilePath(const TMainForm& form, const TJobContext& ctx);
QString SigFilePath(const TMainForm& form, const TJobContext& ctx);

// ---- Signature file and copies (SigFile.cpp) -----------------------------
// Creates the signature file in ctx.F (four attempts); sets ctx.IORes.
void Rewrite_SigFile(TMainForm& form, TJobContext& ctx);
// Writes one answer line; the first failure is kept in ctx.SigWriteErr and
// later lines are not written.
void WriteSigLine(TJobContext& ctx, const std::string& line);
// Brings the answer onto the disk and closes it; sets ctx.IORes.
void Close_SigFile(TMainForm& form, TJobContext& ctx);
// The "/F" copy of FNameOhneExt + "." + Ext. Returns 0 or the error number.
// SrcExt, when given, is the extension as the source file really spells it
// (the scan ignores letter case); the copy's name always carries Ext.
int32_t SaveFile(TMainForm& form, TJobContext& ctx, const QString& FNameOhneExt, const QString& Ext,
                 const QString& SrcExt = {});

// ---- Command handlers (Commands*.cpp) ------------------------------------
void Cmd_Bon_an_TSE(TMainForm& form, TJobContext& ctx);
void Cmd_Text_an_TSE(TMainForm& form, TJobContext& ctx);
void Cmd_Export_von_TSE(TMainForm& form, TJobContext& ctx);
void Cmd_Status_der_TSE(TMainForm& form, TJobContext& ctx);

// A transaction number as a job gives it: an optional sign and decimal
// digits within the signed 32-bit range; a negative number stands for its
// unsigned 32-bit equivalent. False for anything else.
bool ParseTANr(const std::string& text, uint32_t& value);

// 8-bit text as 16-bit text for log and trace lines.
QString Txt(const std::string& bytes);
