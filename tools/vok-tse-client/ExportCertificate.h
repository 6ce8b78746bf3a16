// The certificates of an export and the checks an auditor's tool makes with
// them (OpenSSL): who signed whom, validity at a time, the key's hash. The
// log messages' signatures are checked with the key in PlainSignature.h.
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
    bool IssuedBy(const ExportCertificate& issuer) const;  // its issuer name is the other's subject
    bool SignedBy(const ExportCertificate& issuer) const;  // names match and the signature verifies
    bool ValidAt(int64_t unixTime) const;
    bool IsCa() const;  // may issue certificates
    // The public key, owned by the certificate; EVP_PKEY.
    void* PublicKey() const;

private:
    ExportCertificate() = default;
    void* cert_ = nullptr;  // X509
};

std::string Sha256Hex(const std::vector<uint8_t>& data);

}  // namespace vokclient
