// The verify subcommand: vok-tse-client verify [--json] FILE.TAR...
#pragma once

#include "vok-tse-client/Client.h"

#include <QByteArray>
#include <vector>

namespace vokclient {

// Arguments after "verify": [--json] [--from N] [--threads N] FILE.TAR...
// Exit 0 nothing wrong, 1 findings, 64 wrong call,
// 74 an archive that cannot be read.
RunResult RunVerify(const std::vector<QByteArray>& args);

}  // namespace vokclient
