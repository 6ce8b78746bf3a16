// The values the job pass holds for the job in hand and shares with the
// four command handlers. One context lives for one pass; the values that
// come from the job file are reset before each job is read.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class TJournal;

struct TJobContext {
    // Job files of the pass's scan not yet taken, as the directory listed
    // them, byte for byte. The job name is the file name less its
    // four-character extension; the file itself is always reached under its
    // listed name, so a job written as "x.tse" is opened and deleted as such,
    // and a name in another encoding is answered under its own bytes.
    QList<QByteArray> JobDateien;
    QByteArray JobDatei;    // listed file name of the job in hand

    QByteArray AktKasRaw;   // job name of the job in hand, as its bytes
    QString AktKas;         // the same as text, for log lines and the window
    std::string KasCmd;     // "CMD=", at most 10 bytes
    std::string KasID;      // "KASID=", at most 30
    std::string KasBonNr;   // "BONID=", at most 10
    std::string KasData;    // "SIGTEXT=", at most 100
    std::string ExpVonTA;   // "VONTA=", at most 30
    std::string ExpBisTA;   // "BISTA=", at most 30
    bool KasEOF = false;    // the line "*EOF*" was found
    // Values longer than the protocol allows, cut to it: the key and the
    // length the job gave.
    struct Cut {
        std::string key;
        size_t given = 0;
        size_t kept = 0;
    };
    std::vector<Cut> Cuts;
    bool TooLarge = false;  // the job file is beyond what any job needs
    plat::FileId JobId;     // the job file as it was read
    std::string JobSha256;  // of the job file's content, hex

    TJournal* Journal = nullptr;  // the service's job journal, when it has one
    uint64_t JournalId = 0;       // the job's journal entry, once the TSE began it
    int JournalErr = 0;           // first failure writing it
    bool JournalBlocked = false;  // the journal could not take the job's records: not begun

    int32_t IORes = 0;      // last file operation on the job or signature file

    // The answer as the handler wrote it, kept whole even when the signature
    // file could not be created or written: a job the TSE has carried out is
    // never carried out again, only its answer is written again.
    std::vector<std::string> Answer;
    bool AnswerStarted = false;  // a handler has begun an answer
    // The pass flushes the answers of signed jobs together: a signed job's
    // answer is closed unflushed (AnswerUnflushed) and joins the pass's
    // batch. Set for the pass's whole life.
    bool BatchAnswers = false;
    bool AnswerUnflushed = false;  // written whole and closed, not yet on the disk
    int32_t AnswerErr = 0;       // first failure creating, writing or closing it
    bool FDatOk = false;
    plat::TDateTime DT = 0.0;
    QString DatStr;         // DT as "hh:nn:ss:zzz", for trace lines

    int32_t LoginRes = 0;
    int16_t MaxLogins = 0;
    int32_t Versuch = 0;

    plat::File F;           // the job file, then the signature file

    void ResetJobValues()
    {
        KasCmd.clear();
        KasID.clear();
        KasBonNr.clear();
        KasData.clear();
        ExpVonTA.clear();
        ExpBisTA.clear();
        KasEOF = false;
        Cuts.clear();
        TooLarge = false;
        JobId = {};
        JobSha256.clear();
        JournalId = 0;
        JournalErr = 0;
        JournalBlocked = false;
        Answer.clear();
        AnswerStarted = false;
        AnswerUnflushed = false;
        AnswerErr = 0;
    }
};
