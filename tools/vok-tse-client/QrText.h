// The receipt's QR-code text as DSFinV-K defines it:
//   V0;<client id>;Kassenbeleg-V1;<process data>;<transaction number>;
//   <signature counter>;<start>;<end>;<signature algorithm>;<time format>;
//   <signature>;<public key>
// from a BON answer and a STATUS answer of the same TSE.
#pragma once

#include "vok-tse-client/Answer.h"

#include <QByteArray>
#include <QString>

namespace vokclient {

struct QrResult {
    QByteArray text;
    QString error;  // empty on success
    bool ok() const { return error.isEmpty(); }
};

// The time format is the form of the TSE's log times (STATUS "LOGTIFO=")
// when it is one that DSFinV-K names, else "unixTime" (a TSE without a
// transaction yet, an older service); the start and end times are taken as
// the answer gives them.
QrResult BuildQrText(const Answer& bon, const Answer& status);

}  // namespace vokclient
