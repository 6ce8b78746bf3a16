// Exit codes of vok-tse-client. 64 and 74 follow the BSD sysexits values so
// that shell scripts can tell a wrong call and a local I/O failure from an
// answer of the service.
#pragma once

namespace vokclient {

enum ExitCode : int {
    ExitOk = 0,          // the service answered OK (STATUS: and the TSE is online)
    ExitRefused = 1,     // an ERR answer, "TSE=OFFLINE", or an answer of the wrong kind
    ExitNoAnswer = 2,    // no complete answer within the timeout
    ExitUsage = 64,      // wrong call
    ExitIoError = 74,    // the job could not be written or the answer not read
};

}  // namespace vokclient
