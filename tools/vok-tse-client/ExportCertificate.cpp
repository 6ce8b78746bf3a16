#include "vok-tse-client/ExportCertificate.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

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

struct SigFree {
    void operator()(ECDSA_SIG* s) const { ECDSA_SIG_free(s); }
};

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

ExportCertificate::~ExportCertificate()
{
    EVP_PKEY_CTX_free(static_cast<EVP_PKEY_CTX*>(verify_));
    X509_free(X(cert_));
}

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

bool ExportCertificate::SignedBy(const ExportCertificate& issuer) const
{
    if (X509_NAME_cmp(X509_get_issuer_name(X(cert_)), X509_get_subject_name(X(issuer.cert_))) != 0) return false;
    EVP_PKEY* key = X509_get0_pubkey(X(issuer.cert_));
    return key && X509_verify(X(cert_), key) == 1;
}

bool ExportCertificate::ValidAt(uint64_t unixTime) const
{
    time_t t = static_cast<time_t>(unixTime);
    // X509_cmp_time: -1 when the certificate's time is before t.
    return X509_cmp_time(X509_get0_notBefore(X(cert_)), &t) <= 0 &&
           X509_cmp_time(X509_get0_notAfter(X(cert_)), &t) >= 0;
}

bool ExportCertificate::VerifiesPlainSignature(const std::vector<uint8_t>& data,
                                               const std::vector<uint8_t>& signature) const
{
    EVP_PKEY* key = X509_get0_pubkey(X(cert_));
    if (!key || signature.empty() || signature.size() % 2 != 0) return false;
    const int half = static_cast<int>(signature.size() / 2);
    std::unique_ptr<ECDSA_SIG, SigFree> sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), half, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + half, half, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLength <= 0) return false;
    if (!verify_) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        if (ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha384()) == 1)
            verify_ = ctx;
        else
            EVP_PKEY_CTX_free(ctx);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool ok = verify_ && EVP_Digest(data.data(), data.size(), digest, &digestLength, EVP_sha384(), nullptr) == 1 &&
                    EVP_PKEY_verify(static_cast<EVP_PKEY_CTX*>(verify_), der, static_cast<size_t>(derLength), digest,
                                    digestLength) == 1;
    OPENSSL_free(der);
    return ok;
}

}  // namespace vokclient
