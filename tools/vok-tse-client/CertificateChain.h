// The certificates of one archive and the chain from a TSE certificate up to
// a self-signed root, of any length. A broken or incomplete chain is a
// finding of its own; the log messages are checked with the TSE key anyway.
#pragma once

#include "vok-tse-client/ExportCertificate.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vokclient {

struct CertificateFile {
    std::string member;
    std::unique_ptr<ExportCertificate> certificate;
    std::string keyHash;  // upper-case hex
};

struct ChainFinding {
    std::string member;  // empty when about the archive
    std::string text;
};

// Walks from certs[tse] to a root. used marks every certificate on the way;
// the chain is checked valid at the earliest and latest log time when
// hasTimes.
void CheckChain(const std::vector<CertificateFile>& certs, size_t tse, bool hasTimes, int64_t earliest,
                int64_t latest, std::vector<bool>& used, std::vector<ChainFinding>& findings);

// Certificates that issue no other one of the archive: the TSE certificates
// when no log message names one.
std::vector<size_t> LeafCertificates(const std::vector<CertificateFile>& certs);

}  // namespace vokclient
