// What the job pass remembers from one pass to the next: answers the TSE has
// given that are not yet whole on the disk (or whose job file would not go),
// and the errors already reported.
#pragma once

#include "jobs/ClientAdmission.h"
#include "jobs/HealthStatus.h"
#include "jobs/Journal.h"
#include "jobs/RepeatedErrors.h"
#include "platform/Files.h"
#include "platform/ScanGate.h"

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct TPendingAnswer {
    QByteArray jobFile;   // listed name of the job file
    QByteArray jobName;   // job name as its bytes
    QString name;         // job name as text
    plat::FileId jobId;   // the job file as it was read
    std::vector<std::string> lines;  // the whole answer, "*EOF*" last
    bool answerWritten = false;      // only the job file's deletion is left
    uint64_t journalId = 0;          // the job's journal entry, if it has one
};

struct TJobPassState {
    TRepeatedErrors Errors;
    TRefusedClients RefusedClients;  // registrations the TSE refused lately
    TJournal Journal;             // every BON and TEXT job the TSE has begun
    int JournalWriteError = 0;    // last failure writing the journal, reported once
    std::map<uint64_t, plat::TDateTime> HeldSince;  // journal entries that could not be settled yet
    std::map<QByteArray, TPendingAnswer> Pending;  // by listed job file name
    int LastScanError = 0;
    // Spares reading the job directory while nothing has come into it since
    // a scan that found no job; made by the first scan.
    std::unique_ptr<plat::ScanGate> JobDirGate;
    THealthInputs Health;         // what the status file says
    THealthWriter HealthWriter;
    plat::TDateTime HealthFactsAt = 0.0;  // when the TSE's figures were last read
    bool HealthFactsStale = true;         // a job or a reconnection changed them
    int HealthWriteError = 0;             // last failure writing the status file, reported once
};
