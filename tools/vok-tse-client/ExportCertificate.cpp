#include "vok-tse-client/ExportCertificate.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vokclient {

namespace {

X509* X(void* p) { return static_cast<X509*>(p); }

std::string Hex(const unsigned char* d, size_t n)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 0x0F];
    }
    return s;
}

}  // namespace

std::string Sha256Hex(const std::vector<uint8_t>& data)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr) != 1) return {};
    return Hex(md, n);
}

std::unique_ptr<ExportCertificate> ExportCertificate::FromDer(const std::vector<uint8_t>& der)
{
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (!cert) return nullptr;
    if (p != der.data() + der.size()) {  // trailing bytes
        X509_free(cert);
        return nullptr;
    }
    std::unique_ptr<ExportCertificate> c(new ExportCertificate());
    c->cert_ = cert;
    return c;
}

ExportCertificate::~ExportCertificate() { X509_free(X(cert_)); }

std::string ExportCertificate::KeyHashHex() const
{
    EVP_PKEY* key = X509_get0_pubkey(X(cert_));
    if (!key) return {};
    // The point as the key holds it, uncompressed.
    unsigned char point[256];
    size_t n = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &n) != 1) return {};
    return Sha256Hex(std::vector<uint8_t>(point, point + n));
}

bool ExportCertificate::SelfSigned() const { return SignedBy(*this); }

bool ExportCertificate::IssuedBy(const ExportCertificate& issuer) const
{
    return X509_NAME_cmp(X509_get_issuer_name(X(cert_)), X509_get_subject_name(X(issuer.cert_))) == 0;
}

bool ExportCertificate::SignedBy(const ExportCertificate& issuer) const
{
    if (!IssuedBy(issuer)) return false;
    EVP_PKEY* key = X509_get0_pubkey(X(issuer.cert_));
    return key && X509_verify(X(cert_), key) == 1;
}

bool ExportCertificate::ValidAt(int64_t unixTime) const
{
    time_t t = static_cast<time_t>(unixTime);
    // X509_cmp_time: -1 when the certificate's time is before t.
    return X509_cmp_time(X509_get0_notBefore(X(cert_)), &t) <= 0 &&
           X509_cmp_time(X509_get0_notAfter(X(cert_)), &t) >= 0;
}

bool ExportCertificate::IsCa() const { return X509_check_ca(X(cert_)) != 0; }

void* ExportCertificate::PublicKey() const { return X509_get0_pubkey(X(cert_)); }

}  // namespace vokclient
