// One run of vok-tse-client: the job (or, for bon --qr, a status job and then
// the bon job) from parsed options to exit code.
#pragma once

#include "vok-tse-client/ClientOptions.h"

#include <QByteArray>
#include <QString>

namespace vokclient {

struct RunResult {
    int exitCode = 0;
    QByteArray out;  // for standard output
    QString error;   // one line for standard error; empty on success
};

RunResult Run(const Options& options);

// The whole program: arguments (without the program name) to result.
RunResult RunCommandLine(const std::vector<QByteArray>& args);

}  // namespace vokclient
