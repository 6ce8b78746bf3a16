#include "vok-tse-client/PlainSignature.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>

#include <memory>

namespace vokclient {

namespace {

struct SigFree {
    void operator()(ECDSA_SIG* s) const { ECDSA_SIG_free(s); }
};

const EVP_MD* Digest(PlainHash hash)
{
    switch (hash) {
    case PlainHash::Sha224: return EVP_sha224();
    case PlainHash::Sha256: return EVP_sha256();
    case PlainHash::Sha384: return EVP_sha384();
    case PlainHash::Sha512: return EVP_sha512();
    case PlainHash::Sha3_224: return EVP_sha3_224();
    case PlainHash::Sha3_256: return EVP_sha3_256();
    case PlainHash::Sha3_384: return EVP_sha3_384();
    case PlainHash::Sha3_512: return EVP_sha3_512();
    case PlainHash::Unknown: break;
    }
    return nullptr;
}

// r || s as the DER ECDSA-Sig-Value OpenSSL verifies.
std::vector<unsigned char> DerSignature(const ByteString& plain)
{
    if (plain.empty() || plain.size() % 2 != 0) return {};
    const int half = static_cast<int>(plain.size() / 2);
    std::unique_ptr<ECDSA_SIG, SigFree> sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(plain.data(), half, nullptr);
    BIGNUM* s = BN_bin2bn(plain.data() + half, half, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return {};
    }
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    if (length <= 0) return {};
    std::vector<unsigned char> out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

PlainSignatureChecker::~PlainSignatureChecker()
{
    for (auto& [key, ctx] : contexts_) EVP_PKEY_CTX_free(static_cast<EVP_PKEY_CTX*>(ctx));
}

bool PlainSignatureChecker::Verifies(const ExportCertificate& key, PlainHash hash, const ByteString& data,
                                     const ByteString& signature)
{
    const EVP_MD* md = Digest(hash);
    EVP_PKEY* pkey = static_cast<EVP_PKEY*>(key.PublicKey());
    if (!md || !pkey || EVP_PKEY_get_base_id(pkey) != EVP_PKEY_EC) return false;
    // Plain signatures have halves of the group order's length.
    const int bits = EVP_PKEY_get_bits(pkey);
    if (bits <= 0 || signature.size() != 2 * static_cast<size_t>((bits + 7) / 8)) return false;
    const std::vector<unsigned char> der = DerSignature(signature);
    if (der.empty()) return false;
    auto found = contexts_.find(&key);
    if (found == contexts_.end()) {
        // No digest is set on the context: the caller hashes, so that every
        // hash of the list works on every curve, as ECDSA defines it.
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
        if (!ctx || EVP_PKEY_verify_init(ctx) != 1) {
            EVP_PKEY_CTX_free(ctx);
            return false;
        }
        found = contexts_.emplace(&key, ctx).first;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    return EVP_Digest(data.data(), data.size(), digest, &digestLength, md, nullptr) == 1 &&
           EVP_PKEY_verify(static_cast<EVP_PKEY_CTX*>(found->second), der.data(), der.size(), digest, digestLength) ==
               1;
}

}  // namespace vokclient
