// The job protocol with the cash-register clients: reading job files,
// the signature file, the "/F" copies and the four command handlers. All of
// it runs inside the job pass (Abarbeiten_TseJobs) on the core's thread and
// works on the pass's job context.
#pragma once

#include "jobs/JobContext.h"
#include "jobs/JobPassState.h"
#include "jobs/JobPlace.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class TCore;

// No real job comes near this; a larger file is not read whole.
inline constexpr size_t kJobFileLimit = 1024 * 1024;

// ---- Job file (JobFile.cpp) ----------------------------------------------
// Takes one line of a job file into the context by the protocol's rules.
void ApplyJobLine(TJobContext& ctx, const std::string& line);
// Splits a job file's bytes into lines (LF or CR LF) and takes each into the
// context. A text cut at the size bound loses its unfinished last line.
void ApplyJobText(TJobContext& ctx, const std::string& text, bool cut);
// Opens (a plain file only, never through a link), reads at most
// kJobFileLimit bytes of, and closes the job file of the job in hand; the
// bytes read are left in `text`. ctx.IORes holds the result of the open, or
// else of the close. False when the job cannot be taken this pass; what
// went wrong is logged.
bool ReadJobFile(TCore& core, TJobContext& ctx, TJobPassState& st, std::string& text);

// The job directory and the HTTP door's spool directory.
TJobDirs JobDirs(const TCore& core);
// Paths of the job in hand, under the bytes of its listed name.
plat::FsPath JobFilePath(const TCore& core, const TJobContext& ctx);
plat::FsPath SigFilePath(const TCore& core, const TJobContext& ctx);
plat::FsPath SigFilePath(const TCore& core, const QByteArray& jobName);

// Logs a job's error the first time, then while it persists at most once a
// minute with how often it recurred.
void LogRepeated(TCore& core, TJobPassState& st, const QByteArray& jobFile, const QString& line);

// ---- Signature file and copies (SigFile.cpp) -----------------------------
// Creates the signature file in ctx.F (four attempts); sets ctx.IORes.
void Rewrite_SigFile(TCore& core, TJobContext& ctx);
// Takes one answer line into ctx.Answer and writes it; the first failure is
// kept in ctx.AnswerErr and later lines are only kept.
void WriteSigLine(TJobContext& ctx, const std::string& line);
// Brings the answer onto the disk and closes it; sets ctx.IORes.
void Close_SigFile(TCore& core, TJobContext& ctx);
// Closes the answer without its flush, which the pass makes for its whole
// batch of answers (ctx.AnswerUnflushed); sets ctx.IORes.
void Close_SigFileForBatch(TCore& core, TJobContext& ctx);
// One attempt at a whole answer: created, written, on the disk, closed.
int32_t WriteAnswerFile(const plat::FsPath& path, const std::vector<std::string>& lines);
// The "/F" copy of a job's or answer's lines, made from what was read or
// written, never by opening the name again: job name + "_hh-nn-ss-zzz_" +
// Ext + ".txt" with the source's modification time. 0 or the error number.
int32_t SaveFile(TCore& core, const QByteArray& FNameOhneExt, const QString& Ext,
                 const std::vector<std::string>& lines, plat::TDateTime modTime);
// The lines of a job file's text, for its copy.
std::vector<std::string> SplitLines(const std::string& text);

// ---- The job pass (JobPass.cpp) -------------------------------------------
// One pass: scans the job directory and carries out the jobs it found, one
// after the other; answers kept from earlier passes are written again first.
void Abarbeiten_TseJobs(TCore& core);

// ---- Answers kept for later passes (JobPass.cpp) -----------------------
// Sets the TSE's clock (Admin login, time update, logout) and when it is due
// again.
void Zeit_setzen(TCore& core, TJobContext& ctx);
// Logs the lines of an answer that never reached the disk.
void LogLostAnswer(TCore& core, const TPendingAnswer& p);
// At the end of the program: every answer still not written goes to the log.
void LogPendingAnswers(TCore& core);
// An answer from the journal gets what every answer gets: the operation's
// line in the log and the list, the counters, the "/F" copy.
struct TJournalAnswer;
void NoteJournalAnswer(TCore& core, TJobPassState& st, const TJournalAnswer& a);
// A job answered from the journal whose file would not go: later passes
// only delete it (if it is still that file), then close the entry.
void KeepForDeletion(TJobPassState& st, const TJournalEntry& e, const plat::FileId& jobId);

// ---- Command handlers (Commands*.cpp) ------------------------------------
void Cmd_Bon_an_TSE(TCore& core, TJobContext& ctx);
// The log line of a signed operation: client, transaction, receipt or text.
void LogOperation(TCore& core, const TJobContext& ctx, char cmd, uint32_t taNr);
// The answer of a BON ('B') or TEXT ('T') job from the job's values and
// what the TSE gave for its transaction; "*EOF*" last.
std::vector<std::string> SignAnswerLines(char cmd, int32_t finishRes, const TJobContext& job,
                                         const std::string& startTime, const std::string& endTime,
                                         uint32_t taNr, uint32_t sigCounter, const std::string& signatureHex);
void Cmd_Text_an_TSE(TCore& core, TJobContext& ctx);
void Cmd_Export_von_TSE(TCore& core, TJobContext& ctx);
void Cmd_Status_der_TSE(TCore& core, TJobContext& ctx);
// The name of the TSE's first certificate, from its certificate export.
QString GetFirstCert();

// A transaction number as a job gives it: an optional sign and decimal
// digits within the signed 32-bit range; a negative number stands for its
// unsigned 32-bit equivalent. False for anything else.
bool ParseTANr(const std::string& text, uint32_t& value);

// 8-bit text as 16-bit text for log and trace lines.
QString Txt(const std::string& bytes);
