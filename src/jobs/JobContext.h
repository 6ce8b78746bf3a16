// The values the job pass holds for the job in hand and shares with the
// four command handlers. One context lives for one pass; the values that
// come from the job file are reset before each job is read.
#pragma once

#include "platform/DateTime.h"
#include "platform/Files.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

struct TJobContext {
    // Job files of the pass's scan not yet taken, as the directory listed
    // them. The job name is the file name less its four-character extension;
    // the file itself is always reached under its listed name, so a job
    // written as "x.tse" is opened and deleted as such.
    QStringList JobDateien;
    QString JobDatei;  // listed file name of the job in hand

    QString AktKas;         // job name of the job in hand
    std::string KasCmd;     // "CMD=", at most 10 bytes
    std::string KasID;      // "KASID=", at most 30
    std::string KasBonNr;   // "BONID=", at most 10
    std::string KasData;    // "SIGTEXT=", at most 100
    std::string ExpVonTA;   // "VONTA=", at most 30
    std::string ExpBisTA;   // "BISTA=", at most 30
    bool KasEOF = false;    // the line "*EOF*" was found

    int32_t IORes = 0;      // last file operation on the job or signature file
    int32_t SigWriteErr = 0;  // first failed write into the signature file
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
        SigWriteErr = 0;
    }
};
