// The TSE's cryptography: its brainpoolP384r1 key, the certificate chain,
// ecdsa-plain-SHA384 signatures, hashes and random bytes.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace softtse {

using Bytes = std::vector<uint8_t>;

constexpr size_t kPublicPointSize = 97;  // uncompressed point 04 || X || Y
constexpr size_t kSignatureSize = 96;    // r || s, 48 bytes each
constexpr size_t kSerialSize = 32;       // SHA-256 of the public point

class SigningKey {
public:
    SigningKey() = default;
    ~SigningKey();
    SigningKey(SigningKey &&other) noexcept;
    SigningKey &operator=(SigningKey &&other) noexcept;
    SigningKey(const SigningKey &) = delete;
    SigningKey &operator=(const SigningKey &) = delete;

    bool generate();
    bool loadPem(const std::string &pem);
    bool toPem(std::string &pem) const;
    bool valid() const { return key_ != nullptr; }

    bool publicPoint(Bytes &point) const;
    // ecdsa-plain-SHA384 over data: r and s, each left-padded to 48 bytes.
    bool signPlain(const uint8_t *data, size_t size, Bytes &signature) const;

    void *handle() const { return key_; } // the EVP_PKEY, for crypto.cpp only

private:
    void *key_ = nullptr;
};

struct CertificateChain {
    Bytes root;   // DER, self-signed
    Bytes subCa;  // DER, signed by the root
    Bytes tse;    // DER, signed by the sub-CA, subject CN = serial in hex
};

bool makeCertificateChain(const SigningKey &tseKey, const std::string &serialHex, time_t notBefore,
                          time_t notAfter, CertificateChain &chain);

// The uncompressed public point of a DER certificate.
bool certificatePublicPoint(const Bytes &certificate, Bytes &point);

// notBefore and notAfter of a DER certificate, Unix seconds.
bool certificateValidity(const Bytes &certificate, uint64_t &notBefore, uint64_t &notAfter);

Bytes sha256(const Bytes &data);
bool randomBytes(size_t count, Bytes &out);

std::string toHex(const uint8_t *data, size_t size); // upper case
inline std::string toHex(const Bytes &b) { return toHex(b.data(), b.size()); }
bool fromHex(const std::string &hex, Bytes &out);

} // namespace softtse
