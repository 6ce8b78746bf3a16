// `vok-tse-client verify`: checks a shop's series of export archives as a tax
// auditor's tool would, each archive on its own and the series of every TSE
// in them as a whole. Reads each archive twice, member by member: first its
// certificates, then its log messages, which a pool of threads checks.
#pragma once

#include "vok-tse-client/VerifyReport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vokclient {

struct VerifyOptions {
    uint64_t from = 1;     // the signature counter a series may start at
    unsigned threads = 0;  // 0: one per processor
};

class ExportVerifier {
public:
    explicit ExportVerifier(VerifyOptions options = {}) : options_(options) {}
    void AddArchive(const std::string& path);
    VerifyReport Finish();

private:
    VerifyOptions options_;
    std::vector<std::string> archives_;
};

}  // namespace vokclient
