// Checks an answer's signature the way an auditor would: the signed log
// message is rebuilt from the answer's values (the TSE's stored message
// supplies only the parts the answer does not carry: version, type,
// serial, algorithm) and verified against the TSE's public key.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QTimeZone>
#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

namespace jobtest {

struct Tlv {
    uint8_t tag = 0;
    QByteArray whole;    // tag, length and content
    QByteArray content;
};

// The elements of a DER SEQUENCE's content.
inline QList<Tlv> DerElements(const QByteArray& der)
{
    QList<Tlv> out;
    int pos = 0;
    while (pos + 2 <= der.size()) {
        const int start = pos;
        Tlv t;
        t.tag = uint8_t(der[pos++]);
        int len = uint8_t(der[pos++]);
        if (len & 0x80) {
            const int n = len & 0x7F;
            len = 0;
            for (int i = 0; i < n && pos < der.size(); ++i) len = (len << 8) | uint8_t(der[pos++]);
        }
        t.content = der.mid(pos, len);
        pos += len;
        t.whole = der.mid(start, pos - start);
        out << t;
    }
    return out;
}

inline QByteArray DerTlv(uint8_t tag, const QByteArray& content)
{
    QByteArray out(1, char(tag));
    const int n = int(content.size());
    if (n < 0x80) {
        out += char(n);
    } else if (n < 0x100) {
        out += char(0x81);
        out += char(n);
    } else {
        out += char(0x82);
        out += char(n >> 8);
        out += char(n & 0xFF);
    }
    return out + content;
}

inline QByteArray DerUInt(uint64_t v)
{
    QByteArray c;
    do {
        c.prepend(char(v & 0xFF));
        v >>= 8;
    } while (v);
    if (uint8_t(c[0]) & 0x80) c.prepend('\0');
    return c;
}

inline bool VerifyPlainEcdsa(const QByteArray& point, const QByteArray& data, const QByteArray& plain)
{
    using Bld = std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)>;
    using Params = std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)>;
    using PCtx = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
    using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
    using Sig = std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)>;
    using Md = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

    if (plain.size() != 96) return false;
    Bld bld(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "brainpoolP384r1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.constData(), size_t(point.size()));
    Params params(OSSL_PARAM_BLD_to_param(bld.get()), OSSL_PARAM_free);
    PCtx pctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_fromdata_init(pctx.get()) != 1 ||
        EVP_PKEY_fromdata(pctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return false;
    Key key(raw, EVP_PKEY_free);

    Sig sig(ECDSA_SIG_new(), ECDSA_SIG_free);
    const auto* p = reinterpret_cast<const unsigned char*>(plain.constData());
    ECDSA_SIG_set0(sig.get(), BN_bin2bn(p, 48, nullptr), BN_bin2bn(p + 48, 48, nullptr));
    unsigned char* der = nullptr;
    const int derLen = i2d_ECDSA_SIG(sig.get(), &der);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(der, [](unsigned char* d) { OPENSSL_free(d); });

    Md md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha384(), nullptr, key.get()) == 1 &&
           EVP_DigestVerify(md.get(), der, size_t(derLen), reinterpret_cast<const unsigned char*>(data.constData()),
                            size_t(data.size())) == 1;
}

// answer: the values of a BON or TEXT answer; pubKeyB64: STATUS's PUBKEY.
inline ::testing::AssertionResult SignatureVerifies(const QString& stateFolder, const QMap<QByteArray, QByteArray>& answer,
                                                    const QByteArray& processType, const QByteArray& pubKeyB64)
{
    const QStringList stored = QDir(stateFolder).entryList(
        {"*_Sig-" + answer["SIGNR"] + "_Log-Tra_No-" + answer["TRANR"] + "_Finish_*"}, QDir::Files);
    if (stored.size() != 1) return ::testing::AssertionFailure() << "stored messages: " << stored.size();
    QFile f(stateFolder + "/" + stored[0]);
    if (!f.open(QIODevice::ReadOnly)) return ::testing::AssertionFailure() << "unreadable";
    const QList<Tlv> outer = DerElements(f.readAll());
    if (outer.size() != 1) return ::testing::AssertionFailure() << "no single SEQUENCE";
    const QList<Tlv> el = DerElements(outer[0].content);

    const QString ende = QString::fromLatin1(answer["ENDE"]);
    const QDateTime end(QDate::fromString(ende.left(10), "yyyy-MM-dd"), QTime::fromString(ende.mid(11, 8), "HH:mm:ss"),
                        Qt::UTC);
    QByteArray signedPart;
    int integersAfterAlgorithm = 0;
    bool afterAlgorithm = false;
    for (int i = 0; i + 1 < el.size(); ++i) {  // the last element is the signature
        const Tlv& t = el[i];
        switch (t.tag) {
        case 0x81: signedPart += DerTlv(0x81, answer["KASID"]); break;
        case 0x82: signedPart += DerTlv(0x82, answer["SIGTEXT"]); break;
        case 0x83: signedPart += DerTlv(0x83, processType); break;
        case 0x85: signedPart += DerTlv(0x85, DerUInt(answer["TRANR"].toULongLong())); break;
        case 0x30: afterAlgorithm = true; signedPart += t.whole; break;
        case 0x02:
            if (!afterAlgorithm) {
                signedPart += t.whole;  // version
            } else if (integersAfterAlgorithm++ == 0) {
                signedPart += DerTlv(0x02, DerUInt(answer["SIGNR"].toULongLong()));
            } else {
                signedPart += DerTlv(0x02, DerUInt(uint64_t(end.toSecsSinceEpoch())));
            }
            break;
        default: signedPart += t.whole;
        }
    }
    const QByteArray sig = QByteArray::fromBase64(answer["SIG"]);
    if (el.isEmpty() || el.last().content != sig) return ::testing::AssertionFailure() << "SIG differs from the TSE's";
    if (!VerifyPlainEcdsa(QByteArray::fromBase64(pubKeyB64), signedPart, sig))
        return ::testing::AssertionFailure() << "signature does not verify for TRANR=" << answer["TRANR"].constData();
    return ::testing::AssertionSuccess();
}

}  // namespace jobtest
