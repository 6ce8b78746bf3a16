#include "tools/ExportBuilder.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <stdexcept>

namespace export_builder {

namespace {

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes Tlv(uint8_t tag, const Bytes& content)
{
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        Bytes length;
        for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>(0x80 | length.size()));
        Append(out, length);
    }
    Append(out, content);
    return out;
}

Bytes IntegerContent(uint64_t v)
{
    Bytes b;
    do {
        b.insert(b.begin(), static_cast<uint8_t>(v & 0xFF));
        v >>= 8;
    } while (v);
    if (b.front() & 0x80) b.insert(b.begin(), 0);
    return b;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

const Bytes kTransactionLog = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x01};
const Bytes kSystemLog = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x02};
const Bytes kAuditLog = {0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x03};

uint8_t HashArc(Hash h)
{
    switch (h) {
    case Hash::Sha224: return 2;
    case Hash::Sha256: return 3;
    case Hash::Sha384: return 4;
    case Hash::Sha512: return 5;
    case Hash::Sha3_256: return 9;
    case Hash::Sha3_512: return 11;
    }
    return 0;
}

const EVP_MD* Md(Hash h)
{
    switch (h) {
    case Hash::Sha224: return EVP_sha224();
    case Hash::Sha256: return EVP_sha256();
    case Hash::Sha384: return EVP_sha384();
    case Hash::Sha512: return EVP_sha512();
    case Hash::Sha3_256: return EVP_sha3_256();
    case Hash::Sha3_512: return EVP_sha3_512();
    }
    return nullptr;
}

std::string TimeText(Time form, int64_t t)
{
    const time_t tt = static_cast<time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, form == Time::Utc ? "%y%m%d%H%M%SZ" : "%Y%m%d%H%M%SZ", &tm);
    return buffer;
}

std::string Hex(const Bytes& b, bool lower)
{
    const char* digits = lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 0x0F];
    }
    return s;
}

void Check(bool ok, const char* what)
{
    if (!ok) throw std::runtime_error(std::string("export builder: ") + what);
}

X509* MakeCertificate(EVP_PKEY* key, EVP_PKEY* issuerKey, X509* issuer, const std::string& name, bool ca, long serial)
{
    X509* x = X509_new();
    Check(x != nullptr, "X509_new");
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -10L * 365 * 24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 10L * 365 * 24 * 3600);
    X509_NAME* subject = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : subject);
    X509_set_pubkey(x, key);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    Check(ext != nullptr, "basic constraints");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    Check(X509_sign(x, issuerKey, EVP_sha256()) > 0, "X509_sign");
    return x;
}

Bytes Der(X509* x)
{
    unsigned char* p = nullptr;
    const int n = i2d_X509(x, &p);
    Bytes b(p, p + n);
    OPENSSL_free(p);
    return b;
}

}  // namespace

struct Tse::Keys {
    std::vector<EVP_PKEY*> keys;  // root first
    std::vector<X509*> certificates;
    EVP_PKEY_CTX* sign = nullptr;
    Bytes serial;
    size_t half = 0;  // bytes of r and of s
    ~Keys()
    {
        EVP_PKEY_CTX_free(sign);
        for (X509* x : certificates) X509_free(x);
        for (EVP_PKEY* k : keys) EVP_PKEY_free(k);
    }
};

Tse::Tse(const Layout& layout) : keys_(std::make_unique<Keys>()), layout_(layout)
{
    for (int i = 0; i < layout.chainLength; ++i) {
        EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", layout.curve.c_str());
        Check(key != nullptr, "key generation");
        keys_->keys.push_back(key);
        const bool tse = i + 1 == layout.chainLength;
        X509* issuer = i == 0 ? nullptr : keys_->certificates.back();
        EVP_PKEY* issuerKey = i == 0 ? key : keys_->keys[static_cast<size_t>(i - 1)];
        keys_->certificates.push_back(
            MakeCertificate(key, issuerKey, issuer, tse ? "Test TSE" : "Test CA " + std::to_string(i), !tse, i + 1));
    }
    EVP_PKEY* tseKey = keys_->keys.back();
    unsigned char point[256];
    size_t n = 0;
    Check(EVP_PKEY_get_octet_string_param(tseKey, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &n) == 1, "point");
    unsigned char md[32];
    unsigned int mdLength = 0;
    EVP_Digest(point, n, md, &mdLength, EVP_sha256(), nullptr);
    keys_->serial.assign(md, md + mdLength);
    keys_->half = static_cast<size_t>((EVP_PKEY_get_bits(tseKey) + 7) / 8);
    keys_->sign = EVP_PKEY_CTX_new(tseKey, nullptr);
    Check(keys_->sign && EVP_PKEY_sign_init(keys_->sign) == 1, "sign init");
}

Tse::~Tse() = default;

std::string Tse::SerialHex() const { return Hex(keys_->serial, false); }

std::vector<Member> Tse::Certificates() const
{
    std::vector<Member> out;
    for (X509* x : keys_->certificates) {
        EVP_PKEY* key = X509_get0_pubkey(x);
        unsigned char point[256];
        size_t n = 0;
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &n);
        unsigned char md[32];
        unsigned int mdLength = 0;
        EVP_Digest(point, n, md, &mdLength, EVP_sha256(), nullptr);
        out.push_back({Hex(Bytes(md, md + mdLength), layout_.lowerCaseNames) + "_X509.cer", Der(x)});
    }
    return out;
}

Member Tse::Sign(Log kind, uint64_t transactionNumber, int64_t logTime, const std::string& processData,
                 const std::string& client)
{
    return SignAt(++counter_, kind, transactionNumber, logTime, processData, client);
}

Member Tse::SignAt(uint64_t counter, Log kind, uint64_t transactionNumber, int64_t logTime,
                   const std::string& processData, const std::string& client)
{
    Bytes body;
    Append(body, Tlv(0x02, IntegerContent(2)));
    const bool transaction = kind == Log::Start || kind == Log::Update || kind == Log::Finish;
    const char* operation = kind == Log::Start ? "StartTransaction" : kind == Log::Update ? "UpdateTransaction"
                            : kind == Log::Finish ? "FinishTransaction" : "updateTime";
    if (transaction) {
        Append(body, Tlv(0x06, kTransactionLog));
        Append(body, Tlv(0x80, Text(operation)));
        Append(body, Tlv(0x81, Text(client)));
        Append(body, Tlv(0x82, Text(processData)));
        Append(body, Tlv(0x83, Text(kind == Log::Start ? "" : "Kassenbeleg-V1")));
        Append(body, Tlv(0x85, IntegerContent(transactionNumber)));
    } else if (kind == Log::System) {
        Append(body, Tlv(0x06, kSystemLog));
        Append(body, Tlv(0x80, Text(operation)));
        Append(body, Tlv(0x81, Text("time set")));
    } else {
        Append(body, Tlv(0x06, kAuditLog));
    }
    Append(body, Tlv(0x04, keys_->serial));
    Bytes algorithm = Tlv(0x06, {0x04, 0x00, 0x7F, 0x00, 0x07, 0x01, 0x01, 0x04, 0x01, HashArc(layout_.hash)});
    Append(body, Tlv(0x30, algorithm));
    if (kind == Log::Audit) Append(body, Tlv(0x04, Text("audit: self test passed")));
    Append(body, Tlv(0x02, IntegerContent(counter)));
    std::string timeName;
    if (layout_.time == Time::Unix) {
        Append(body, Tlv(0x02, IntegerContent(static_cast<uint64_t>(logTime))));
        timeName = "Unixt_" + std::to_string(logTime);
    } else {
        const std::string t = TimeText(layout_.time, logTime);
        Append(body, Tlv(layout_.time == Time::Utc ? 0x17 : 0x18, Text(t)));
        timeName = (layout_.time == Time::Utc ? "Utc_" : "Gent_") + t;
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    Check(EVP_Digest(body.data(), body.size(), digest, &digestLength, Md(layout_.hash), nullptr) == 1, "digest");
    unsigned char der[256];
    size_t derLength = sizeof der;
    Check(EVP_PKEY_sign(keys_->sign, der, &derLength, digest, digestLength) == 1, "sign");
    const unsigned char* p = der;
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derLength));
    Check(sig != nullptr, "signature");
    Bytes plain(2 * keys_->half);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), plain.data(), static_cast<int>(keys_->half));
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), plain.data() + keys_->half, static_cast<int>(keys_->half));
    ECDSA_SIG_free(sig);
    Append(body, Tlv(0x04, plain));

    std::string name = timeName + "_Sig-" + std::to_string(counter);
    if (transaction)
        name += "_Log-Tra_No-" + std::to_string(transactionNumber) +
                (kind == Log::Start ? "_Start" : kind == Log::Update ? "_Update" : "_Finish") + "_Client-" +
                // a space is not safe in a file name: %20, as a name must be one spelling
                [&] {
                    std::string c;
                    for (char ch : client) c += ch == ' ' ? std::string("%20") : std::string(1, ch);
                    return c;
                }();
    else if (kind == Log::System)
        name += "_Log-Sys_" + std::string(operation);
    else
        name += "_Log-Aud";
    return {name + ".log", Tlv(0x30, body)};
}

ArchiveWriter::ArchiveWriter(const std::string& path) : archive_(archive_write_new())
{
    archive_write_set_format_pax_restricted(archive_);
    ok_ = archive_write_open_filename(archive_, path.c_str()) == ARCHIVE_OK;
}

ArchiveWriter::~ArchiveWriter()
{
    Close();
    archive_write_free(archive_);
}

bool ArchiveWriter::Add(const Member& m)
{
    if (!ok_) return false;
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, m.name.c_str());
    archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
    archive_entry_set_filetype(e, AE_IFREG);
    archive_entry_set_perm(e, 0644);
    ok_ = archive_write_header(archive_, e) == ARCHIVE_OK &&
          archive_write_data(archive_, m.data.data(), m.data.size()) == static_cast<la_ssize_t>(m.data.size());
    archive_entry_free(e);
    return ok_;
}

bool ArchiveWriter::Close()
{
    if (!archive_) return ok_;
    ok_ = archive_write_close(archive_) == ARCHIVE_OK && ok_;
    return ok_;
}

bool WriteArchive(const std::string& path, const std::vector<Member>& members)
{
    ArchiveWriter writer(path);
    for (const Member& m : members)
        if (!writer.Add(m)) return false;
    return writer.Close();
}

std::vector<Member> TypicalExport(Tse& tse, int transactions, int64_t firstTime)
{
    std::vector<Member> m{{"info.csv", Text("description;another maker's layout\r\n")}};
    int64_t t = firstTime;
    m.push_back(tse.Sign(Log::Audit, 0, t));
    m.push_back(tse.Sign(Log::System, 0, t));
    for (int i = 1; i <= transactions; ++i) {
        m.push_back(tse.Sign(Log::Start, static_cast<uint64_t>(i), t));
        m.push_back(tse.Sign(Log::Update, static_cast<uint64_t>(i), ++t, "Beleg^0.50:Bar"));
        m.push_back(tse.Sign(Log::Finish, static_cast<uint64_t>(i), ++t));
    }
    for (Member& c : tse.Certificates()) m.push_back(std::move(c));
    return m;
}

}  // namespace export_builder
