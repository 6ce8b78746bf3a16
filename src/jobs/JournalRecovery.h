// Settling the journal's open entries: a job whose transaction the TSE has
// begun is answered from what the TSE already did, never signed again.
#pragma once

#include "jobs/Journal.h"
#include "jobs/TransactionLogs.h"
#include "tse/TseLib.h"

#include <QString>
#include <functional>
#include <set>

class TMainForm;

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

struct TRecoveryEnv {
    QString jobDir;
    std::function<void(const QString&)> log;  // also the job's repeated errors
};

enum class TSettled {
    Answered,   // answer written, job file deleted, entry done
    Abandoned,  // the job file is gone or changed: nothing to answer, entry done
    Held,       // not settled now; the job stays and is never signed anew
};

// Settles one open entry of the journal.
TSettled SettleJournalEntry(TJournal& journal, const TJournalEntry& entry, TRecoveryTse& tse,
                            const TRecoveryEnv& env);

// At the start, after the start-up sequence and before the first job pass:
// opens the journal in the program directory and settles its open entries.
void RecoverFromJournal(TMainForm& form);

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
