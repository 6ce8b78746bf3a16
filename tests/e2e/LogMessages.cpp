#include "LogMessages.h"

#include "softtse/DerReader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

namespace e2e {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM, OSSL_PARAM_free>>;
using Sig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

// One TLV at pos: sets the content's start and length and the end of the TLV.
bool ReadTlv(const QByteArray& d, int pos, int& tag, int& contentStart, int& contentLength)
{
    if (pos + 2 > d.size()) return false;
    tag = static_cast<unsigned char>(d[pos]);
    if ((tag & 0x1F) == 0x1F) return false;  // multi-byte tags do not occur in log messages
    int p = pos + 1;
    int len = static_cast<unsigned char>(d[p++]);
    if (len & 0x80) {
        const int n = len & 0x7F;
        if (n == 0 || n > 3 || p + n > d.size()) return false;
        len = 0;
        for (int i = 0; i < n; ++i) len = (len << 8) | static_cast<unsigned char>(d[p++]);
    }
    if (p + len > d.size()) return false;
    contentStart = p;
    contentLength = len;
    return true;
}

PKey KeyFromPoint(const QByteArray& point)
{
    const char* curve = point.size() == 97 ? "brainpoolP384r1" : point.size() == 65 ? "brainpoolP256r1" : nullptr;
    if (!curve) return nullptr;
    ParamBld bld(OSSL_PARAM_BLD_new());
    if (!bld || !OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.constData(),
                                          static_cast<size_t>(point.size())))
        return nullptr;
    Params params(OSSL_PARAM_BLD_to_param(bld.get()));
    PKeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* key = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) <= 0 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0)
        return nullptr;
    return PKey(key);
}

}  // namespace

bool ParseLogMessage(const QByteArray& der, LogMessage& out, QString* why)
{
    int tag = 0, start = 0, length = 0;
    if (!ReadTlv(der, 0, tag, start, length) || tag != 0x30 || start + length != der.size()) {
        if (why) *why = QStringLiteral("no DER SEQUENCE");
        return false;
    }
    const int end = start + length;
    int pos = start, last = -1, lastTag = 0, lastStart = 0, lastLength = 0;
    int prevTag = 0, prevStart = 0, prevLength = 0;
    while (pos < end) {
        int t = 0, s = 0, l = 0;
        if (!ReadTlv(der, pos, t, s, l) || s + l > end) {
            if (why) *why = QStringLiteral("broken element at %1").arg(pos);
            return false;
        }
        prevTag = lastTag;
        prevStart = lastStart;
        prevLength = lastLength;
        last = pos;
        lastTag = t;
        lastStart = s;
        lastLength = l;
        pos = s + l;
    }
    if (last < 0 || lastTag != 0x04) {
        if (why) *why = QStringLiteral("the last element is no OCTET STRING");
        return false;
    }
    out.signedPart = der.mid(start, last - start);
    out.signature = der.mid(lastStart, lastLength);
    // The log time stands right before the signature.
    out.logTime = -1;
    if (prevTag == 0x02 && prevLength >= 1 && prevLength <= 8) {
        qint64 v = 0;
        for (int i = 0; i < prevLength; ++i) v = (v << 8) | static_cast<unsigned char>(der[prevStart + i]);
        out.logTime = v;
    }
    return true;
}

bool VerifyPlainEcdsa(const QByteArray& publicKey, const QByteArray& algorithm, const QByteArray& data,
                      const QByteArray& signature, QString* why)
{
    auto fail = [why](const QString& text) {
        if (why) *why = text;
        return false;
    };
    const EVP_MD* md = algorithm == "ecdsa-plain-SHA256"   ? EVP_sha256()
                       : algorithm == "ecdsa-plain-SHA384" ? EVP_sha384()
                       : algorithm == "ecdsa-plain-SHA512" ? EVP_sha512()
                                                           : nullptr;
    if (!md) return fail(QStringLiteral("unknown algorithm ") + QString::fromLatin1(algorithm));

    PKey key;
    if (publicKey.startsWith('\x30')) {
        const auto* p = reinterpret_cast<const unsigned char*>(publicKey.constData());
        key.reset(d2i_PUBKEY(nullptr, &p, publicKey.size()));
    } else {
        key = KeyFromPoint(publicKey);
    }
    if (!key) return fail(QStringLiteral("the public key cannot be read"));

    // Plain form: r and s of equal length, one after the other.
    if (signature.isEmpty() || signature.size() % 2 != 0) return fail(QStringLiteral("signature of odd length"));
    const int half = signature.size() / 2;
    const auto* raw = reinterpret_cast<const unsigned char*>(signature.constData());
    Sig sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(raw, half, nullptr);
    BIGNUM* s = BN_bin2bn(raw + half, half, nullptr);
    if (!sig || !r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return fail(QStringLiteral("signature cannot be converted"));
    }
    unsigned char* derSig = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig.get(), &derSig);
    if (derLen <= 0) return fail(QStringLiteral("signature cannot be converted"));
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(derSig, [](unsigned char* p) { OPENSSL_free(p); });

    MdCtx ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key.get()) != 1)
        return fail(QStringLiteral("verification cannot start"));
    const int rc = EVP_DigestVerify(ctx.get(), derSig, static_cast<size_t>(derLen),
                                    reinterpret_cast<const unsigned char*>(data.constData()),
                                    static_cast<size_t>(data.size()));
    if (rc != 1) return fail(QStringLiteral("the signature does not verify"));
    return true;
}

QMultiMap<QByteArray, FinishMessage> FinishesIn(const QString& dir)
{
    QMultiMap<QByteArray, FinishMessage> out;
    QDirIterator it(dir, {"*_Finish_*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly)) continue;
        FinishMessage fin;
        fin.der = f.readAll();
        const std::vector<uint8_t> der(fin.der.begin(), fin.der.end());
        QByteArray data;
        for (const softtse_test::DerElement& e : softtse_test::derChildren(der)) {
            const std::vector<uint8_t> content = softtse_test::derContent(der, e);
            if (e.tag == 0x82) data = QByteArray(reinterpret_cast<const char*>(content.data()), qsizetype(content.size()));
            if (e.tag == 0x85)
                for (uint8_t b : content) fin.taNr = fin.taNr << 8 | b;
        }
        out.insert(data, fin);
    }
    return out;
}

}  // namespace e2e
