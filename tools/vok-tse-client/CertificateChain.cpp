#include "vok-tse-client/CertificateChain.h"

#include <algorithm>

namespace vokclient {

namespace {

// Longer than any chain a TSE has; ends a loop of certificates naming each other.
constexpr size_t kLongestChain = 16;

}  // namespace

void CheckChain(const std::vector<CertificateFile>& certs, size_t tse, bool hasTimes, int64_t earliest,
                int64_t latest, std::vector<bool>& used, std::vector<ChainFinding>& findings)
{
    const std::string of = " (chain of " + certs[tse].member + ")";
    size_t at = tse;
    std::vector<size_t> chain{tse};
    while (!certs[at].certificate->SelfSigned()) {
        size_t issuer = certs.size();
        bool named = false;
        for (size_t i = 0; i < certs.size() && issuer == certs.size(); ++i) {
            if (i == at || !certs[at].certificate->IssuedBy(*certs[i].certificate)) continue;
            named = true;
            if (certs[at].certificate->SignedBy(*certs[i].certificate)) issuer = i;
        }
        if (issuer == certs.size()) {
            findings.push_back({certs[at].member, named ? "signature does not verify with its issuer's key" + of
                                                        : "its issuer's certificate is not in the archive: the chain "
                                                          "does not reach a root" + of});
            break;
        }
        if (chain.size() >= kLongestChain || std::find(chain.begin(), chain.end(), issuer) != chain.end()) {
            findings.push_back({certs[at].member, "the chain loops" + of});
            break;
        }
        chain.push_back(issuer);
        at = issuer;
    }
    for (size_t i : chain) {
        used[i] = true;
        if (!hasTimes) continue;
        std::vector<int64_t> times{earliest};
        if (latest != earliest) times.push_back(latest);
        for (int64_t t : times)
            if (!certs[i].certificate->ValidAt(t))
                findings.push_back({certs[i].member, "not valid at logTime " + std::to_string(t) + of});
    }
}

std::vector<size_t> LeafCertificates(const std::vector<CertificateFile>& certs)
{
    std::vector<size_t> leaves;
    for (size_t i = 0; i < certs.size(); ++i) {
        bool issues = false;
        for (size_t j = 0; j < certs.size() && !issues; ++j)
            issues = j != i && certs[j].certificate->SignedBy(*certs[i].certificate);
        if (!issues) leaves.push_back(i);
    }
    return leaves;
}

}  // namespace vokclient
