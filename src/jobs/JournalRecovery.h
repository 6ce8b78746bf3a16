// Settling the journal's open entries: a job whose transaction the TSE has
// begun is answered from what the TSE already did, never signed again.
#pragma once

#include "jobs/Journal.h"
#include "jobs/TransactionLogs.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"
#include "jobs/JobContext.h"
#include "jobs/JobPlace.h"
#include "platform/DateTime.h"

#include <QString>
#include <functional>
#include <map>
#include <set>
#include <vector>

class TCore;

// What settling an entry asks of the TSE.
class TRecoveryTse {
public:
    virtual ~TRecoveryTse() = default;
    // Numbers of the transactions the TSE holds open; false when it cannot tell.
    virtual bool OpenTransactions(std::set<uint32_t>& numbers) = 0;
    // Finishes the entry's transaction; the TSE's result code.
    virtual int32_t Finish(const TJournalEntry& e, const std::string& processData, const std::string& processType,
                           TTransResult& r) = 0;
    // The transaction's log messages, read back from the TSE; 0 or an error code.
    virtual int32_t ReadBack(uint32_t taNr, TTransactionLogs& logs) = 0;
    // Serial number of the TSE in use, hex.
    virtual std::string Serial() = 0;
};

// An answer given from the journal, for what every answer gets besides the
// file: the operation's log line, the window's counters, the "/F" copy.
struct TJournalAnswer {
    const TJournalEntry& entry;
    const TJobContext& job;
    const std::vector<std::string>& lines;
};

struct TRecoveryEnv {
    QString jobDir;
    QString spoolDir;  // the HTTP door's jobs ("HTTP/..."); empty: none
    TJobDirs Dirs() const { return {jobDir, spoolDir}; }
    std::function<void(const QString&)> log;  // also the job's repeated errors
    std::function<void(const TJournalAnswer&)> answered;  // optional
    // When each entry that could not be settled was first held; an entry
    // held longer than kHoldLimit is answered as failed.
    std::map<uint64_t, plat::TDateTime>* heldSince = nullptr;
    std::function<plat::TDateTime()> now = plat::Now;
};

// How long a job the journal holds waits for its transaction to become
// known before its client is told that it failed: 5 minutes, in days.
inline constexpr double kHoldLimit = 5.0 / (24 * 60);

enum class TSettled {
    Answered,        // answer written, job file deleted, entry done
    AnsweredKept,    // answer written, the job file would not go: only its deletion is left
    Abandoned,       // the job file is gone, changed or another file: nothing to answer, entry done
    SignAnew,        // what the TSE holds for the transaction is not this job's: entry done,
                     // the job is signed as a new one
    Held,            // not settled now; the job stays and is never signed anew
};

// Result codes of a job that the journal gave up holding, in its ERR answer.
inline constexpr int32_t kHeldOtherTse = ErrorTransactionNumberNotFound;  // begun at another TSE
inline constexpr int32_t kHeldUnknownFinish = ErrorReadingLogMessage;     // its finish cannot be read back
inline constexpr int32_t kHeldNoOpenList = ErrorNoTransaction;            // the TSE does not tell its open ones
inline constexpr int32_t kHeldUnreadableJob = ErrorIO;                    // the job file cannot be read

// Settles one open entry of the journal. For AnsweredKept, keptJob (if
// given) receives the job file whose deletion is left.
TSettled SettleJournalEntry(TJournal& journal, const TJournalEntry& entry, TRecoveryTse& tse,
                            const TRecoveryEnv& env, plat::FileId* keptJob = nullptr);

// Whether a finish read back from the TSE signed this job: its process
// type, process data and client are the job's.
bool FinishIsTheJobs(const TTransactionLogs& logs, const TJournalEntry& e, const TJobContext& job);

// The service's own surroundings for settling: its job directory, answers
// noted as every answer is, held entries timed in the pass state.
struct TJobPassState;
TRecoveryEnv ServiceRecoveryEnv(TCore& core, TJobPassState& st, std::function<void(const QString&)> log);

// At the start, after the start-up sequence and before the first job pass:
// opens the journal in the program directory, puts back what a deletion had
// set aside, and settles the journal's open entries.
void RecoverFromJournal(TCore& core);

// The service's TSE through the wrappers; exports land beside the journal.
class TServiceRecoveryTse : public TRecoveryTse {
public:
    explicit TServiceRecoveryTse(QString workDir) : workDir_(std::move(workDir)) {}
    bool OpenTransactions(std::set<uint32_t>& numbers) override;
    int32_t Finish(const TJournalEntry& e, const std::string& processData, const std::string& processType,
                   TTransResult& r) override;
    int32_t ReadBack(uint32_t taNr, TTransactionLogs& logs) override;
    std::string Serial() override;

private:
    QString workDir_;
};

inline const char* const JournalFileName = "Vok_TSE.journal";
