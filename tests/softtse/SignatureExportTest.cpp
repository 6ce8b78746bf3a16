// What standard tools see: signatures that verify with the exported key,
// certificates, and TAR exports that GNU tar and openssl can read.
#include "DerReader.h"
#include "SoftTseFixture.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>

using namespace softtse_test;

namespace {

struct Free {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
    void operator()(EVP_PKEY_CTX *p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_MD_CTX *p) const { EVP_MD_CTX_free(p); }
    void operator()(OSSL_PARAM_BLD *p) const { OSSL_PARAM_BLD_free(p); }
    void operator()(OSSL_PARAM *p) const { OSSL_PARAM_free(p); }
    void operator()(ECDSA_SIG *p) const { ECDSA_SIG_free(p); }
    void operator()(X509 *p) const { X509_free(p); }
};
template <class T> using Owned = std::unique_ptr<T, Free>;

Owned<EVP_PKEY> keyFromPoint(const Bytes &point)
{
    Owned<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
    OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "brainpoolP384r1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld.get()));
    Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY *key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) != 1)
        return nullptr;
    return Owned<EVP_PKEY>(key);
}

// ecdsa-plain-SHA384: r || s, 48 bytes each.
bool verifyPlain(const Bytes &point, const Bytes &data, const Bytes &signature)
{
    Owned<EVP_PKEY> key = keyFromPoint(point);
    if (!key || signature.size() != 96)
        return false;
    Owned<ECDSA_SIG> sig(ECDSA_SIG_new());
    ECDSA_SIG_set0(sig.get(), BN_bin2bn(signature.data(), 48, nullptr), BN_bin2bn(signature.data() + 48, 48, nullptr));
    unsigned char *der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    Owned<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    const bool ok = derLength > 0 && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha384(), nullptr, key.get()) == 1 &&
                    EVP_DigestVerify(ctx.get(), der, static_cast<size_t>(derLength), data.data(), data.size()) == 1;
    OPENSSL_free(der);
    return ok;
}

Bytes publicKey()
{
    const Bytes serial = serialNumber();
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    if (se_exportPublicKey(serial.data(), 32, &buffer, &length) != ExecutionOk)
        return {};
    return take(buffer, length);
}

Bytes sha256(const Bytes &data)
{
    Bytes out(32);
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, EVP_sha256(), nullptr);
    return out;
}

std::string hex(const Bytes &b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string findLog(const TempDevice &device, uint32_t signatureCounter)
{
    const std::string key = "_Sig-" + std::to_string(signatureCounter) + "_";
    for (const std::string &name : storedLogs(device)) {
        if (name.find(key) != std::string::npos)
            return name;
    }
    return {};
}

struct TarMember {
    std::string name;
    Bytes data;
};

// Reads ustar headers the way the service does: 512-byte blocks.
std::vector<TarMember> tarMembers(const Bytes &tar)
{
    std::vector<TarMember> members;
    size_t pos = 0;
    while (pos + 512 <= tar.size() && tar[pos] != 0) {
        TarMember m;
        m.name.assign(reinterpret_cast<const char *>(&tar[pos]), strnlen(reinterpret_cast<const char *>(&tar[pos]), 100));
        const size_t size = std::stoul(std::string(reinterpret_cast<const char *>(&tar[pos + 124]), 11), nullptr, 8);
        m.data.assign(tar.begin() + static_cast<long>(pos + 512), tar.begin() + static_cast<long>(pos + 512 + size));
        members.push_back(m);
        pos += 512 + (size + 511) / 512 * 512;
    }
    return members;
}

Owned<X509> parseCertificate(const Bytes &der)
{
    const unsigned char *p = der.data();
    return Owned<X509>(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

Bytes certificatePoint(X509 *cert)
{
    Bytes point(200);
    size_t n = 0;
    EVP_PKEY_get_octet_string_param(X509_get0_pubkey(cert), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(),
                                    point.size(), &n);
    point.resize(n);
    return point;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find('\n', begin);
        out.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    return out;
}

class SignaturesAndExports : public SoftTseTest {
protected:
    void SetUp() override
    {
        initialiseDevice(device);
        ASSERT_EQ(ExecutionOk, mapClient("KASSE 1"));
        ASSERT_EQ(ExecutionOk, mapClient("K2"));
    }

    se_result_t exportRange(const std::string &file, uint32_t from, uint32_t to, const std::string &client = "",
                            uint32_t maxRecords = 0, uint32_t single = SE_MAX_UINT32)
    {
        return se_exportDataToFile(client.empty() ? nullptr : client.data(), len(client), single, from, to, 0,
                                   SE_MAX_TIME, maxRecords, file.c_str());
    }

    std::vector<std::string> tarList(const std::string &file)
    {
        int status = -1;
        const std::string out = runCommand("tar -tf '" + file + "' 2>&1", &status);
        EXPECT_EQ(0, status) << out;
        return lines(out);
    }
};

TEST_F(SignaturesAndExports, FinishSignatureVerifiesAgainstTheStoredLogMessage)
{
    const Signed s = start("KASSE 1");
    const Signed f = finish("KASSE 1", s.transactionNumber, "Beleg^12.50_0.00^12.50:Bar", "Kassenbeleg-V1");
    ASSERT_EQ(ExecutionOk, f.rc);
    const std::string name = findLog(device, f.signatureCounter);
    ASSERT_EQ("Unixt_" + std::to_string(f.logTime) + "_Sig-" + std::to_string(f.signatureCounter) + "_Log-Tra_No-" +
                  std::to_string(s.transactionNumber) + "_Finish_Client-KASSE%201.log",
              name);
    const Bytes message = readBytes(device.stateFolder() / name);
    const std::vector<DerElement> e = derChildren(message);
    ASSERT_EQ(12u, e.size());
    // Signed: every element from version to logTime; then the signature.
    const Bytes signedData(message.begin() + static_cast<long>(e[0].offset),
                           message.begin() + static_cast<long>(e[10].end()));
    EXPECT_EQ(f.signature, derContent(message, e[11]));
    const Bytes point = publicKey();
    EXPECT_TRUE(verifyPlain(point, signedData, f.signature));

    Bytes tampered = signedData;
    tampered[tampered.size() - 1] ^= 1;
    EXPECT_FALSE(verifyPlain(point, tampered, f.signature));
}

TEST_F(SignaturesAndExports, TransactionLogHoldsTheFieldsInOrder)
{
    const Signed s = start("KASSE 1");
    const Bytes message = readBytes(device.stateFolder() / findLog(device, s.signatureCounter));
    const std::vector<DerElement> e = derChildren(message);
    ASSERT_EQ(12u, e.size());
    const std::vector<uint8_t> tags{0x02, 0x06, 0x80, 0x81, 0x82, 0x83, 0x85, 0x04, 0x30, 0x02, 0x02, 0x04};
    for (size_t i = 0; i < tags.size(); ++i)
        EXPECT_EQ(tags[i], e[i].tag) << "element " << i;
    EXPECT_EQ((Bytes{0x02}), derContent(message, e[0]));
    EXPECT_EQ((Bytes{0x04, 0x00, 0x7F, 0x00, 0x07, 0x03, 0x07, 0x01, 0x01}), derContent(message, e[1]));
    const Bytes op = derContent(message, e[2]);
    EXPECT_EQ("StartTransaction", std::string(op.begin(), op.end()));
    const Bytes client = derContent(message, e[3]);
    EXPECT_EQ("KASSE 1", std::string(client.begin(), client.end()));
    EXPECT_TRUE(derContent(message, e[4]).empty());
    EXPECT_TRUE(derContent(message, e[5]).empty());
    EXPECT_EQ((Bytes{static_cast<uint8_t>(s.transactionNumber)}), derContent(message, e[6]));
    EXPECT_EQ(serialNumber(), derContent(message, e[7]));
    const Bytes signedData(message.begin() + static_cast<long>(e[0].offset),
                           message.begin() + static_cast<long>(e[10].end()));
    EXPECT_TRUE(verifyPlain(publicKey(), signedData, s.signature));
}

TEST_F(SignaturesAndExports, AdditionalExternalDataIsSignedAndExportedInItsField)
{
    // additionalExternalData [4] sits between processType [3] and
    // transactionNumber [5]; binary bytes go in as they are.
    const Bytes extra{'Z', 0x00, 0xFF, 0x30, 0x80};
    se_StartTransactionResult_t started{};
    ASSERT_EQ(ExecutionOk, se_startTransaction("K2", 2, nullptr, 0, "", 0, extra.data(),
                                               static_cast<uint32_t>(extra.size()), &started));
    const uint32_t number = started.transactionNumber;
    const Bytes startSignature = take(started.signatureValue, started.signatureValueLength);
    se_free(started.serialNumber);
    const Bytes finishExtra{'F'};
    se_FinishTransactionResult_t finished{};
    ASSERT_EQ(ExecutionOk, se_finishTransaction("K2", 2, number, u8("Beleg"), 5, "Kassenbeleg-V1", 14,
                                                finishExtra.data(), 1, &finished));
    const uint32_t finishCounter = finished.signatureCounter;
    se_free(finished.serialNumber);
    se_free(finished.signatureValue);

    const std::string startName = findLog(device, started.signatureCounter);
    const Bytes message = readBytes(device.stateFolder() / startName);
    const std::vector<DerElement> e = derChildren(message);
    ASSERT_EQ(13u, e.size());
    EXPECT_EQ(0x83, e[5].tag);
    EXPECT_EQ(0x84, e[6].tag);
    EXPECT_EQ(extra, derContent(message, e[6]));
    EXPECT_EQ(0x85, e[7].tag);
    const Bytes signedData(message.begin() + static_cast<long>(e[0].offset),
                           message.begin() + static_cast<long>(e[11].end()));
    EXPECT_TRUE(verifyPlain(publicKey(), signedData, startSignature));
    const Bytes finishMessage = readBytes(device.stateFolder() / findLog(device, finishCounter));
    EXPECT_EQ(finishExtra, derContent(finishMessage, derChildren(finishMessage)[6]));

    const std::string file = (device.path() / "extra.tar").string();
    ASSERT_EQ(ExecutionOk, exportRange(file, number, number));
    bool exported = false;
    for (const TarMember &m : tarMembers(readBytes(file)))
        exported = exported || (m.name == startName && m.data == message);
    EXPECT_TRUE(exported);
}

TEST_F(SignaturesAndExports, IdentityMatchesKeyAndCertificate)
{
    const Bytes point = publicKey();
    ASSERT_EQ(97u, point.size());
    EXPECT_EQ(0x04, point[0]);
    const Bytes serial = serialNumber();
    EXPECT_EQ(sha256(point), serial);

    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ExecutionOk, se_getSignatureAlgorithm(&buffer, &length));
    EXPECT_EQ((Bytes{0x30, 0x0C, 0x06, 0x0A, 0x04, 0x00, 0x7F, 0x00, 0x07, 0x01, 0x01, 0x04, 0x01, 0x04}),
              take(buffer, length));

    ASSERT_EQ(ExecutionOk, se_exportCertificates(&buffer, &length));
    const std::vector<TarMember> certs = tarMembers(take(buffer, length));
    ASSERT_EQ(3u, certs.size());
    std::vector<Owned<X509>> chain;
    for (const TarMember &m : certs) {
        chain.push_back(parseCertificate(m.data));
        ASSERT_TRUE(chain.back());
        EXPECT_EQ(hex(sha256(certificatePoint(chain.back().get()))) + "_X509.cer", m.name);
    }
    // Root, sub-CA, TSE: each signed by the one before.
    EXPECT_EQ(1, X509_verify(chain[0].get(), X509_get0_pubkey(chain[0].get())));
    EXPECT_EQ(1, X509_verify(chain[1].get(), X509_get0_pubkey(chain[0].get())));
    EXPECT_EQ(1, X509_verify(chain[2].get(), X509_get0_pubkey(chain[1].get())));
    EXPECT_EQ(hex(serial) + "_X509.cer", certs[2].name);
    char cn[128] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(chain[2].get()), NID_commonName, cn, sizeof cn);
    EXPECT_EQ(hex(serial), cn);

    uint64_t expiry = 0;
    ASSERT_EQ(ExecutionOk, se_getCertificateExpirationDate(serial.data(), 32, &expiry));
    ASN1_TIME *expected = ASN1_TIME_new();
    ASN1_TIME_set(expected, static_cast<time_t>(expiry));
    EXPECT_EQ(0, ASN1_TIME_compare(expected, X509_get0_notAfter(chain[2].get())));
    ASN1_TIME_free(expected);
    EXPECT_GT(expiry, nowUnix() + 4 * 365 * 86400ULL);
}

TEST_F(SignaturesAndExports, CertificateArchiveListsWithGnuTar)
{
    uint8_t *buffer = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ExecutionOk, se_exportCertificates(&buffer, &length));
    const Bytes tar = take(buffer, length);
    EXPECT_EQ(0u, tar.size() % 512);
    const fs::path file = device.path() / "Cer.TAR";
    writeText(file, std::string(tar.begin(), tar.end()));
    const std::vector<std::string> names = tarList(file.string());
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ(hex(serialNumber()) + "_X509.cer", names[2]);
}

TEST_F(SignaturesAndExports, DataExportListsWithTarAndItsLogsParseWithOpenssl)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(ExecutionOk, finish("KASSE 1", start("KASSE 1").transactionNumber).rc);
    const std::string file = (device.path() / "EXP_1-3.TAR").string();
    ASSERT_EQ(ExecutionOk, exportRange(file, 0, SE_MAX_UINT32));
    EXPECT_FALSE(fs::exists(file + ".part"));
    const std::vector<std::string> names = tarList(file);
    ASSERT_FALSE(names.empty());
    EXPECT_EQ("info.csv", names.front());
    EXPECT_EQ(6, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_Log-Tra_") != std::string::npos; }));
    // Every system log from the initialisation on belongs to a full export.
    EXPECT_EQ(storedLogs(device).size(),
              static_cast<size_t>(std::count_if(names.begin(), names.end(), [](const std::string &n) {
                  return n.find("_Log-") != std::string::npos;
              })));
    EXPECT_EQ(3, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_X509.cer") != std::string::npos; }));

    const fs::path out = device.path() / "unpacked";
    fs::create_directories(out);
    int status = -1;
    runCommand("tar -xf '" + file + "' -C '" + out.string() + "'", &status);
    ASSERT_EQ(0, status);
    const std::string finishLog = *std::find_if(names.begin(), names.end(), [](const std::string &n) {
        return n.find("_Finish_") != std::string::npos;
    });
    const std::string parsed =
        runCommand("openssl asn1parse -inform DER -in '" + (out / finishLog).string() + "' 2>&1", &status);
    EXPECT_EQ(0, status) << parsed;
    EXPECT_NE(std::string::npos, parsed.find("0.4.0.127.0.7.3.7.1.1")) << parsed;
    EXPECT_EQ(readBytes(device.stateFolder() / finishLog), readBytes(out / finishLog));
}

TEST_F(SignaturesAndExports, ExportHoldsOnlyTheAskedRange)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(ExecutionOk, finish("KASSE 1", start("KASSE 1").transactionNumber).rc);
    ASSERT_EQ(ExecutionOk, finish("K2", start("K2").transactionNumber).rc);
    const std::string file = (device.path() / "part.tar").string();

    ASSERT_EQ(ExecutionOk, exportRange(file, 2, 3));
    std::vector<std::string> names = tarList(file);
    for (const std::string &n : names) {
        EXPECT_EQ(std::string::npos, n.find("_No-1_")) << n;
        EXPECT_EQ(std::string::npos, n.find("_No-4_")) << n;
        EXPECT_EQ(std::string::npos, n.find("_Log-Sys_")) << n; // none between them
    }
    EXPECT_EQ(4, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_Log-Tra_") != std::string::npos; }));

    ASSERT_EQ(ExecutionOk, exportRange(file, 0, SE_MAX_UINT32, "K2"));
    names = tarList(file); // replaces the older file
    EXPECT_EQ(2, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_Client-K2.log") != std::string::npos; }));
    EXPECT_EQ(0, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_Client-KASSE") != std::string::npos; }));

    ASSERT_EQ(ExecutionOk, exportRange(file, 0, 0, "", 0, 3));
    names = tarList(file);
    EXPECT_EQ(2, std::count_if(names.begin(), names.end(),
                               [](const std::string &n) { return n.find("_No-3_") != std::string::npos; }));

    EXPECT_EQ(ErrorTooManyRecords, exportRange(file, 1, 3, "", 5));
    const std::string none = (device.path() / "none.tar").string();
    EXPECT_EQ(ErrorNoDataAvailable, exportRange(none, 5, SE_MAX_UINT32));
    EXPECT_FALSE(fs::exists(none));
    EXPECT_FALSE(fs::exists(none + ".part"));
}

TEST_F(SignaturesAndExports, ClientIdsWithUnsafeBytesStayInsideTheStateFolder)
{
    // 30 bytes, the longest id: its log's name no longer fits a ustar header.
    // The directory it aims at is named after this test's device, so that no
    // other test run can have made it.
    const std::string unique = device.path().filename().string().substr(std::string("softtse-test-").size());
    const std::string client = "../../" + unique + "/KASSE" + std::string(12, ' ');
    ASSERT_EQ(ExecutionOk, mapClient(client));
    const Signed s = start(client);
    ASSERT_EQ(ExecutionOk, s.rc);
    const std::string name = findLog(device, s.signatureCounter);
    EXPECT_NE(std::string::npos, name.find("_Client-..%2F..%2F" + unique + "%2FKASSE%20%20")) << name;
    EXPECT_GT(name.size(), 100u);
    EXPECT_FALSE(fs::exists(device.path().parent_path() / unique));
    const std::string file = (device.path() / "one.tar").string();
    ASSERT_EQ(ExecutionOk, exportRange(file, 0, SE_MAX_UINT32, client));
    const std::vector<std::string> names = tarList(file);
    EXPECT_EQ(1, std::count(names.begin(), names.end(), name));
}

} // namespace
