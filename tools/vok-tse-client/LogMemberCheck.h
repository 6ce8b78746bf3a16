// The checks of one log message member on its own: it parses, its name
// agrees with its content, and its signature verifies with the key of the
// certificate whose serial number (SHA-256 of the key) it names. Runs on the
// check pool's threads: everything it reads is shared read-only.
#pragma once

#include "vok-tse-client/ExportCertificate.h"
#include "vok-tse-client/ExportSeries.h"
#include "vok-tse-client/PlainSignature.h"

#include <map>
#include <string>
#include <vector>

namespace vokclient {

// Every TSE certificate of the run by the serial number its key gives (hex, upper case).
using KeyRing = std::map<std::string, const ExportCertificate*>;

struct LogMemberResult {
    std::vector<std::string> findings;
    bool parsed = false;      // the content is a log message; the fields below are set
    bool keyKnown = false;    // a certificate for its serial number is in the run
    std::string serialHex;
    MessageRecord record;     // archive left to the caller
};

LogMemberResult CheckLogMember(const std::string& name, const ByteString& data, const KeyRing& keys,
                               PlainSignatureChecker& checker);

std::string UpperHex(const ByteString& bytes);

}  // namespace vokclient
