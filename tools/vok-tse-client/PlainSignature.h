// ecdsa-plain signatures (r || s, TR-03111) of log messages, checked with
// OpenSSL. One checker per thread: it keeps a verification context per key,
// because setting one up checks the key anew and costs more than the check.
#pragma once

#include "vok-tse-client/ExportCertificate.h"
#include "vok-tse-client/ExportLogMessage.h"

#include <map>

namespace vokclient {

class PlainSignatureChecker {
public:
    PlainSignatureChecker() = default;
    ~PlainSignatureChecker();
    PlainSignatureChecker(const PlainSignatureChecker&) = delete;
    PlainSignatureChecker& operator=(const PlainSignatureChecker&) = delete;

    // False when the signature does not verify, the hash is unknown or the
    // signature is not r || s of equal halves.
    bool Verifies(const ExportCertificate& key, PlainHash hash, const ByteString& data, const ByteString& signature);

private:
    std::map<const ExportCertificate*, void*> contexts_;  // EVP_PKEY_CTX, initialised for verification
};

}  // namespace vokclient
