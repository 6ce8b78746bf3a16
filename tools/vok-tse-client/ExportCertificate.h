// The certificates of an export and the checks an auditor's tool makes with
// them (OpenSSL): who signed whom, validity at a time, the key's hash, and
// ecdsa-plain-SHA384 signatures of log messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vokclient {

class ExportCertificate {
public:
    // Null when the bytes are not a DER X.509 certificate.
    static std::unique_ptr<ExportCertificate> FromDer(const std::vector<uint8_t>& der);
    ~ExportCertificate();
    ExportCertificate(const ExportCertificate&) = delete;
    ExportCertificate& operator=(const ExportCertificate&) = delete;

    // SHA-256 of the uncompressed public point, upper-case hex: the serial
    // number of a TSE key and the name of its certificate file.
    std::string KeyHashHex() const;
    bool SelfSigned() const;
    bool SignedBy(const ExportCertificate& issuer) const;  // names match and the signature verifies
    bool ValidAt(uint64_t unixTime) const;
    // r || s over data with SHA-384.
    bool VerifiesPlainSignature(const std::vector<uint8_t>& data, const std::vector<uint8_t>& signature) const;

private:
    ExportCertificate() = default;
    void* cert_ = nullptr;       // X509
    mutable void* verify_ = nullptr;  // EVP_PKEY_CTX, set up once: a set-up checks the key anew
};

std::string Sha256Hex(const std::vector<uint8_t>& data);

}  // namespace vokclient
