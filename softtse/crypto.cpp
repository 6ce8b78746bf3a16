#include "crypto.h"

#include <memory>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace softtse {

namespace {

struct Free {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
    void operator()(BIO *p) const { BIO_free(p); }
    void operator()(X509 *p) const { X509_free(p); }
    void operator()(X509_EXTENSION *p) const { X509_EXTENSION_free(p); }
    void operator()(ECDSA_SIG *p) const { ECDSA_SIG_free(p); }
};
template <class T> using Owned = std::unique_ptr<T, Free>;

EVP_PKEY *pkey(const SigningKey &k) { return static_cast<EVP_PKEY *>(k.handle()); }

Owned<EVP_PKEY> generateKey()
{
    return Owned<EVP_PKEY>(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "brainpoolP384r1"));
}

bool pointOf(EVP_PKEY *key, Bytes &point)
{
    size_t len = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, nullptr, 0, &len) != 1)
        return false;
    point.resize(len);
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), len, &len) != 1)
        return false;
    point.resize(len);
    return true;
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    Owned<X509_EXTENSION> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

bool setName(X509_NAME *name, const std::string &commonName)
{
    return X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("DE"), -1,
                                      -1, 0) == 1 &&
           X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char *>("VOKTAR SoftTSE"), -1, -1, 0) == 1 &&
           X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                      reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0) == 1;
}

// Builds and signs one certificate. issuerCert null means self-signed.
Owned<X509> makeCertificate(EVP_PKEY *subjectKey, const std::string &commonName, X509 *issuerCert,
                            EVP_PKEY *issuerKey, bool isCa, time_t notBefore, time_t notAfter)
{
    Owned<X509> cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1)
        return nullptr;
    Bytes serial;
    if (!randomBytes(16, serial))
        return nullptr;
    serial[0] &= 0x7F; // positive
    BIGNUM *bn = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    if (!serialSet)
        return nullptr;
    if (!ASN1_TIME_set(X509_getm_notBefore(cert.get()), notBefore) ||
        !ASN1_TIME_set(X509_getm_notAfter(cert.get()), notAfter))
        return nullptr;
    if (!setName(X509_get_subject_name(cert.get()), commonName))
        return nullptr;
    X509 *issuer = issuerCert ? issuerCert : cert.get();
    if (X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) != 1 ||
        X509_set_pubkey(cert.get(), subjectKey) != 1)
        return nullptr;
    const bool extensionsOk =
        addExtension(cert.get(), issuer, NID_basic_constraints, isCa ? "critical,CA:TRUE" : "critical,CA:FALSE") &&
        addExtension(cert.get(), issuer, NID_key_usage,
                     isCa ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature") &&
        addExtension(cert.get(), issuer, NID_subject_key_identifier, "hash") &&
        (issuerCert == nullptr || addExtension(cert.get(), issuer, NID_authority_key_identifier, "keyid:always"));
    if (!extensionsOk)
        return nullptr;
    if (X509_sign(cert.get(), issuerKey, EVP_sha384()) <= 0)
        return nullptr;
    return cert;
}

bool toDer(X509 *cert, Bytes &der)
{
    const int len = i2d_X509(cert, nullptr);
    if (len <= 0)
        return false;
    der.resize(static_cast<size_t>(len));
    unsigned char *p = der.data();
    return i2d_X509(cert, &p) == len;
}

} // namespace

SigningKey::~SigningKey() { EVP_PKEY_free(static_cast<EVP_PKEY *>(key_)); }

SigningKey::SigningKey(SigningKey &&other) noexcept : key_(other.key_) { other.key_ = nullptr; }

SigningKey &SigningKey::operator=(SigningKey &&other) noexcept
{
    if (this != &other) {
        EVP_PKEY_free(static_cast<EVP_PKEY *>(key_));
        key_ = other.key_;
        other.key_ = nullptr;
    }
    return *this;
}

bool SigningKey::generate()
{
    Owned<EVP_PKEY> k = generateKey();
    if (!k)
        return false;
    EVP_PKEY_free(static_cast<EVP_PKEY *>(key_));
    key_ = k.release();
    return true;
}

bool SigningKey::loadPem(const std::string &pem)
{
    Owned<BIO> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        return false;
    EVP_PKEY *k = PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
    if (!k)
        return false;
    EVP_PKEY_free(static_cast<EVP_PKEY *>(key_));
    key_ = k;
    return true;
}

bool SigningKey::toPem(std::string &pem) const
{
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || !key_ ||
        PEM_write_bio_PrivateKey(bio.get(), pkey(*this), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    if (len <= 0)
        return false;
    pem.assign(data, static_cast<size_t>(len));
    return true;
}

bool SigningKey::publicPoint(Bytes &point) const { return key_ && pointOf(pkey(*this), point); }

bool SigningKey::signPlain(const uint8_t *data, size_t size, Bytes &signature) const
{
    if (!key_)
        return false;
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha384(), nullptr, pkey(*this)) != 1)
        return false;
    size_t derLen = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &derLen, data, size) != 1)
        return false;
    Bytes der(derLen);
    if (EVP_DigestSign(ctx.get(), der.data(), &derLen, data, size) != 1)
        return false;
    const unsigned char *p = der.data();
    Owned<ECDSA_SIG> sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLen)));
    if (!sig)
        return false;
    const BIGNUM *r = nullptr;
    const BIGNUM *s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    signature.assign(kSignatureSize, 0);
    return BN_bn2binpad(r, signature.data(), 48) == 48 && BN_bn2binpad(s, signature.data() + 48, 48) == 48;
}

bool makeCertificateChain(const SigningKey &tseKey, const std::string &serialHex, time_t notBefore,
                          time_t notAfter, CertificateChain &chain)
{
    Owned<EVP_PKEY> rootKey = generateKey();
    Owned<EVP_PKEY> subKey = generateKey();
    if (!rootKey || !subKey || !tseKey.valid())
        return false;
    // The CAs outlive the TSE certificate by a year, as issuing CAs do.
    const time_t caNotAfter = notAfter + 366L * 86400L;
    Owned<X509> root =
        makeCertificate(rootKey.get(), "VOKTAR SoftTSE Root CA", nullptr, rootKey.get(), true, notBefore, caNotAfter);
    if (!root)
        return false;
    Owned<X509> sub = makeCertificate(subKey.get(), "VOKTAR SoftTSE Sub CA", root.get(), rootKey.get(), true,
                                      notBefore, caNotAfter);
    if (!sub)
        return false;
    Owned<X509> tse = makeCertificate(pkey(tseKey), serialHex, sub.get(), subKey.get(), false, notBefore, notAfter);
    if (!tse)
        return false;
    return toDer(root.get(), chain.root) && toDer(sub.get(), chain.subCa) && toDer(tse.get(), chain.tse);
}

bool certificatePublicPoint(const Bytes &certificate, Bytes &point)
{
    const unsigned char *p = certificate.data();
    Owned<X509> cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
    if (!cert)
        return false;
    EVP_PKEY *key = X509_get0_pubkey(cert.get());
    return key && pointOf(key, point);
}

namespace {

bool unixSecondsOf(const ASN1_TIME *time, uint64_t &seconds)
{
    struct tm t {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &t) != 1)
        return false;
    const time_t s = timegm(&t);
    if (s < 0)
        return false;
    seconds = static_cast<uint64_t>(s);
    return true;
}

} // namespace

bool certificateValidity(const Bytes &certificate, uint64_t &notBefore, uint64_t &notAfter)
{
    const unsigned char *p = certificate.data();
    Owned<X509> cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
    return cert && unixSecondsOf(X509_get0_notBefore(cert.get()), notBefore) &&
           unixSecondsOf(X509_get0_notAfter(cert.get()), notAfter);
}

Bytes sha256(const Bytes &data)
{
    Bytes out(32);
    unsigned int len = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sha256(), nullptr) != 1)
        out.clear();
    return out;
}

bool randomBytes(size_t count, Bytes &out)
{
    out.resize(count);
    return count == 0 || RAND_bytes(out.data(), static_cast<int>(count)) == 1;
}

std::string toHex(const uint8_t *data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

bool fromHex(const std::string &hex, Bytes &out)
{
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = nibble(hex[i]);
        const int lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

} // namespace softtse
