// The wrappers against a scripted library: what reaches the library, what
// comes back, and that every library buffer is released exactly once.
#include "FakeSeApi.h"

#include "platform/DateTime.h"
#include "tse/TseLib.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>

using fakese::Bytes;
using fakese::Call;
using fakese::Calls;
using fakese::FreeReport;
using fakese::Only;
using fakese::script;

namespace {

std::string Unhex(const std::string& hex)
{
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string Repeat(const std::string& s, int n)
{
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

class Wrappers : public testing::Test {
protected:
    void SetUp() override
    {
        fakese::Reset();
        TseRes = 0x7777;  // a success must overwrite it
    }
    void TearDown() override
    {
        const auto frees = FreeReport();
        EXPECT_TRUE(frees.misfrees.empty()) << frees.misfrees.front();
        fakese::Reset();
        plat::SetNowOverride({});
    }
};

// Every wrapper that calls the library, with its result made printable.
struct Entry {
    const char* fn;
    std::function<std::string()> call;
};

std::vector<Entry> AllWrappers()
{
    auto n = [](auto v) { return std::to_string(v); };
    auto trans = [](const TTransResult& r) {
        return r.logTime + r.serialNumber + r.signatureValue + (r.signatureCounter ? "c" : "");
    };
    return {
        {"se_openDirect", [] { tse_openDirect("E:\\", 5000); return std::string(); }},
        {"se_close", [] { tse_close(); return std::string(); }},
        {"se_authenticateUser", [] { int32_t a = 0; int16_t r = 0; tse_authenticateUser("Admin", "1", a, r); return std::string(); }},
        {"se_logOut", [] { tse_logOut("Admin"); return std::string(); }},
        {"se_activateTSE", [] { tse_activateTSE(); return std::string(); }},
        {"se_deactivateTSE", [] { tse_deactivateTSE(); return std::string(); }},
        {"se_initializePinValues", [] { tse_initializePinValues("a", "b", "c", "d"); return std::string(); }},
        {"se_initialize", [] { tse_initialize(); return std::string(); }},
        {"se_updateTime", [] { tse_updateTime(); return std::string(); }},
        {"se_getTimeSyncInterval", [=] { return n(tse_getTimeSyncInterval()); }},
        {"se_getTimeSyncVariant", [] { return tse_getTimeSyncVariant(); }},
        {"se_getLifeCycleState", [] { return tse_getLifeCycleState(); }},
        {"se_getCertificationId", [] { return tse_getCertificationId(); }},
        {"se_getCertificateExpirationDate", [] { return tse_getCertificateExpirationDate("AB"); }},
        {"se_getERSMappings", [] { return tse_getERSMappings(); }},
        {"se_exportSerialNumbers", [] { return tse_exportSerialNumbers(); }},
        {"se_getMaxNumberOfClients", [=] { return n(tse_getMaxNumberOfClients()); }},
        {"se_getCurrentNumberOfClients", [=] { return n(tse_getCurrentNumberOfClients()); }},
        {"se_getMaxNumberOfTransactions", [=] { return n(tse_getMaxNumberOfTransactions()); }},
        {"se_getCurrentNumberOfTransactions", [=] { return n(tse_getCurrentNumberOfTransactions()); }},
        {"se_getTransactionCounter", [=] { return n(tse_getTransactionCounter()); }},
        {"se_getTotalLogMemory", [=] { return n(tse_getTotalLogMemory()); }},
        {"se_getAvailableLogMemory", [=] { return n(tse_getAvailableLogMemory()); }},
        {"se_getSignatureCounter", [=] { return n(tse_getSignatureCounter("AB")); }},
        {"se_getSignatureAlgorithm", [] { return tse_getSignatureAlgorithm(); }},
        {"se_exportPublicKey", [] { return tse_exportPublicKey("AB"); }},
        {"se_mapERStoKey", [] { tse_mapERStoKey("K1", "AB"); return std::string(); }},
        {"se_startTransaction", [=] { TTransResult r; tse_startTransaction("K1", "x", "T", "", r); return trans(r) + n(r.transactionNumber); }},
        {"se_finishTransaction", [=] { TTransResult r; tse_finishTransaction("K1", 1, "x", "T", "", r); return trans(r); }},
        {"se_getOpenTransactions", [] { return tse_getOpenTransactions(); }},
        {"se_exportDataToFile", [] { tse_exportDataToFile("", 0, 0, 0, 0, "f.tar"); return std::string(); }},
        {"se_exportCertificates", [] { return tse_exportCertificates(); }},
    };
}

}  // namespace

TEST(ErgStr, FourHexDigitsOfTheLowSixteenBits)
{
    TseRes = 0x12345;
    EXPECT_EQ(ErgStr(), "2345h");
    TseRes = 0;
    EXPECT_EQ(ErgStr(), "0000h");
    EXPECT_EQ(ErgStrOf(0x3007), "3007h");
    EXPECT_EQ(ErgStrOf(TseResNoUniqueId), "5001h");
    EXPECT_EQ(ErgStrOf(-1), "FFFFh");
}

// The fake hands out values even when it fails: a failing wrapper must give
// empty or 0 and release nothing; a succeeding one must reset TseRes.
TEST_F(Wrappers, EveryCallLeavesTheLibraryResultAndFailsWithEmptyOrZero)
{
    int32_t code = 0x3000;
    for (const Entry& e : AllWrappers()) {
        SCOPED_TRACE(e.fn);
        fakese::Reset();
        script().u32 = 42;
        script().u64 = 42;
        script().i32 = 3;
        script().buffer = Unhex("300306010500");
        // The open-transactions length counts 4-byte entries: one fits the six bytes.
        script().bufferLength = std::string(e.fn) == "se_getOpenTransactions" ? std::optional<uint32_t>(1) : std::nullopt;
        script().trans = {90000, std::string("\x01"), 5, std::string("\x02"), 9};
        script().results[e.fn] = ++code;
        const std::string result = e.call();
        EXPECT_EQ(TseRes, code);
        EXPECT_TRUE(result.empty() || result == "0") << result;
        EXPECT_TRUE(FreeReport().released.empty());
        EXPECT_EQ(fakese::Calls().size(), 1u);

        script().results.clear();
        TseRes = 0x7777;
        e.call();
        EXPECT_EQ(TseRes, 0);
        EXPECT_EQ(FreeReport().live, 0u);
    }
}

TEST_F(Wrappers, TextsReachTheLibraryWithTheirLengthAndEmptyOnesAsNull)
{
    script().i32 = 1;
    script().i16 = 3;
    int32_t authResult = 0;
    int16_t retries = 0;
    tse_authenticateUser("Admin", "", authResult, retries);
    const auto& auth = Only("se_authenticateUser");
    EXPECT_EQ(auth.data, (std::vector<Bytes>{"Admin", std::nullopt}));
    EXPECT_EQ(auth.nums, (std::vector<uint64_t>{5, 0}));
    EXPECT_EQ(authResult, 1);
    EXPECT_EQ(retries, 3);

    tse_initializePinValues("RubXen58", "RUBXnPk58!", "", "RUBToLPkq!");
    const auto& pins = Only("se_initializePinValues");
    EXPECT_EQ(pins.data, (std::vector<Bytes>{"RubXen58", "RUBXnPk58!", std::nullopt, "RUBToLPkq!"}));
    EXPECT_EQ(pins.nums, (std::vector<uint64_t>{8, 10, 0, 10}));

    tse_logOut("TimeAdmin");
    EXPECT_EQ(Only("se_logOut").data, (std::vector<Bytes>{"TimeAdmin"}));

    tse_openDirect("E:\\", 10000);
    EXPECT_EQ(Only("se_openDirect").data, (std::vector<Bytes>{"E:\\"}));
    EXPECT_EQ(Only("se_openDirect").nums, (std::vector<uint64_t>{10000}));
}

TEST_F(Wrappers, SerialArgumentsDropAnOddLastDigit)
{
    tse_mapERStoKey("Kasse 1", "ABCDE");
    EXPECT_EQ(Only("se_mapERStoKey").data, (std::vector<Bytes>{"Kasse 1", Unhex("ABCD")}));
    EXPECT_EQ(Only("se_mapERStoKey").nums, (std::vector<uint64_t>{7, 2}));

    tse_getSignatureCounter("0A1B2");
    EXPECT_EQ(Only("se_getSignatureCounter").nums, (std::vector<uint64_t>{2}));
    tse_exportPublicKey("F");
    EXPECT_EQ(Only("se_exportPublicKey").data, (std::vector<Bytes>{std::nullopt}));
}

// The TSE gets true UTC; TSE_ZEIT=LOKAL gives it the wall clock as if it were UTC.
TEST_F(Wrappers, UpdateTimeSendsUtcOrWithTheLocalSettingTheWallClock)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    plat::SetNowOverride([] { return plat::EncodeDateTime(2024, 1, 1, 12, 30, 15, 900); });  // 11:30:15 UTC
    tse_updateTime();
    TseLocalClock = true;
    tse_updateTime();
    TseLocalClock = false;
    if (oldTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldTz);
    tzset();
    std::vector<uint64_t> sent;
    for (const Call& c : Calls())
        if (c.fn == "se_updateTime") sent.push_back(c.nums.at(0));
    EXPECT_EQ(sent, (std::vector<uint64_t>{1704108615, 1704112215}));
}

TEST_F(Wrappers, TimeSyncVariantAndLifeCycleTexts)
{
    const std::vector<std::pair<int32_t, std::string>> variants = {
        {0, "noInput/undefined"}, {1, "utcTime"}, {2, "generalizedTime"}, {3, "unixTime"}, {7, "7"}, {-1, "-1"}};
    for (const auto& [value, text] : variants) {
        script().i32 = value;
        EXPECT_EQ(tse_getTimeSyncVariant(), text);
    }
    const std::vector<std::string> states = {"unbekannt",   "nicht initialisiert",   "keine Zeit gesetzt", "aktiv",
                                             "deaktiviert", "dauerhaft deaktiviert", "unbekannt"};
    for (int32_t state = 0; state < int32_t(states.size()); ++state) {
        script().i32 = state;
        EXPECT_EQ(tse_getLifeCycleState(), states[size_t(state)]);
    }
}

TEST_F(Wrappers, ApiVersionIsCopiedNotReleasedAndKeepsTseRes)
{
    TseRes = ErrorNoERS;
    script().version = "SE-API 2.1";
    EXPECT_EQ(tse_getApiVersionString(), "SE-API 2.1");
    EXPECT_EQ(TseRes, ErrorNoERS);
    EXPECT_EQ(FreeReport().nullFrees + FreeReport().released.size(), 0u);
}

TEST_F(Wrappers, UniqueIdIsNotReleasedAndAMissingOneIs5001)
{
    script().uniqueId = Unhex("01FE7F");
    EXPECT_EQ(tse_getUniqueId(), "01FE7F");
    EXPECT_EQ(TseRes, 0);

    script().uniqueId.reset();
    EXPECT_EQ(tse_getUniqueId(), "");
    EXPECT_EQ(ErgStr(), "5001h");
    EXPECT_TRUE(FreeReport().released.empty());
}

TEST_F(Wrappers, NumberGettersKeepTheirFullWidth)
{
    script().u32 = 4000000000u;
    script().u64 = 0x100000005ull;
    EXPECT_EQ(tse_getTransactionCounter(), 4000000000u);
    EXPECT_EQ(tse_getTimeSyncInterval(), 4000000000u);
    EXPECT_EQ(tse_getTotalLogMemory(), 0x100000005ull);
    EXPECT_EQ(tse_getAvailableLogMemory(), 0x100000005ull);
}

TEST_F(Wrappers, BuffersBecomeUpperCaseHexAndAreReleasedOnce)
{
    script().buffer = Unhex("00AB0FFF");
    EXPECT_EQ(tse_getERSMappings(), "00AB0FFF");
    EXPECT_EQ(tse_exportPublicKey("AB"), "00AB0FFF");
    EXPECT_EQ(tse_exportCertificates(), "00AB0FFF");
    EXPECT_EQ(FreeReport().released, std::vector<std::string>(3, Unhex("00AB0FFF")));
    EXPECT_EQ(FreeReport().live, 0u);

    script().buffer = std::string("BSI-K-TR-0000\0xy", 16);
    EXPECT_EQ(tse_getCertificationId(), "BSI-K-TR-0000");
    EXPECT_EQ(FreeReport().live, 0u);
}

TEST_F(Wrappers, ZeroLengthBufferOnSuccessGivesEmptyResults)
{
    script().buffer = std::string();
    EXPECT_EQ(tse_getERSMappings(), "");
    EXPECT_EQ(tse_exportPublicKey("AB"), "");
    EXPECT_EQ(tse_exportCertificates(), "");
    EXPECT_EQ(tse_exportSerialNumbers(), "");
    EXPECT_EQ(tse_getCertificationId(), "");
    EXPECT_EQ(tse_getOpenTransactions(), "");
    EXPECT_EQ(TseRes, 0);
    EXPECT_EQ(FreeReport().released.size(), 6u);
    EXPECT_EQ(FreeReport().live, 0u);
}

TEST_F(Wrappers, CertificateExpiryUsesTheLowThirtyTwoBitsAsWallClock)
{
    script().u64 = (5ull << 32) | 1830297599u;
    EXPECT_EQ(tse_getCertificateExpirationDate("0A1B"), "31.12.27 23:59:59");
    EXPECT_EQ(Only("se_getCertificateExpirationDate").data, (std::vector<Bytes>{Unhex("0A1B")}));
}

TEST_F(Wrappers, SerialNumbersAndSignatureAlgorithmGoThroughTheDerStructure)
{
    script().buffer = Unhex("300F300D0402ABCD0101FF0101FF010100");
    EXPECT_EQ(tse_exportSerialNumbers(), "ABCD|FF|FF|00");
    script().buffer = Unhex("0402ABCD");
    EXPECT_EQ(tse_exportSerialNumbers(), "");

    const std::vector<std::pair<std::string, std::string>> algorithms = {
        {"300C060A04007F00070101040103", "ecdsa-plain-SHA256"},
        {"300C060A04007F000701010401040500", "ecdsa-plain-SHA384"},
        {"300C060A04007F00070101040105", "ecdsa-plain-SHA512"},
        {"300A06082A8648CE3D040303", "ecdsa-with-SHA384"},
        {"300A060804007F0007010101", "04007F0007010101"},
    };
    for (const auto& [der, name] : algorithms) {
        script().buffer = Unhex(der);
        EXPECT_EQ(tse_getSignatureAlgorithm(), name) << der;
    }
    EXPECT_EQ(FreeReport().live, 0u);
}

TEST_F(Wrappers, StartFillsTheRecordAndReleasesSignatureThenSerial)
{
    const std::string serial(32, '\xA5'), signature(64, '\x3C');
    script().trans = {(1ull << 32) | 90000, serial, 17, signature, 42};
    TTransResult r;
    const std::string data("\x00\xE4|x", 4);
    tse_startTransaction("Kasse1", data, "Kassenbeleg-V1", "zusatz", r);

    EXPECT_EQ(r.logTime, "1970-01-02T01:00:00.000Z");
    EXPECT_EQ(r.serialNumber, Repeat("A5", 32));
    EXPECT_EQ(r.signatureValue, Repeat("3C", 64));
    EXPECT_EQ(r.signatureCounter, 17u);
    EXPECT_EQ(r.transactionNumber, 42u);
    EXPECT_EQ(FreeReport().released, (std::vector<std::string>{signature, serial}));

    const auto& call = Only("se_startTransaction");
    EXPECT_EQ(call.data, (std::vector<Bytes>{"Kasse1", data, "Kassenbeleg-V1", std::nullopt}));
    EXPECT_EQ(call.nums, (std::vector<uint64_t>{6, 4, 14, 0}));
}

TEST_F(Wrappers, FailedStartLeavesEveryFieldCleared)
{
    script().trans = {90000, std::string("\x01"), 5, std::string("\x02"), 9};
    script().results["se_startTransaction"] = ErrorNoERS;
    TTransResult r{"old", "AB", 3, "CD", 4};
    tse_startTransaction("Kasse1", "x", "Kassenbeleg-V1", "", r);
    EXPECT_EQ(r.logTime + r.serialNumber + r.signatureValue, "");
    EXPECT_EQ(r.signatureCounter + r.transactionNumber, 0u);
    EXPECT_EQ(TseRes, ErrorNoERS);
}

TEST_F(Wrappers, FinishKeepsTheCallersTransactionNumber)
{
    script().trans = {90000, std::string("\x01"), 5, std::string("\x02"), 777};
    TTransResult r{"old", "AB", 3, "CD", 99};
    tse_finishTransaction("Kasse1", 42, "", "SonstigerVorgang", "zusatz", r);
    EXPECT_EQ(r.transactionNumber, 99u);
    EXPECT_EQ(r.serialNumber + "|" + r.signatureValue, "01|02");
    const auto& call = Only("se_finishTransaction");
    EXPECT_EQ(call.data, (std::vector<Bytes>{"Kasse1", std::nullopt, "SonstigerVorgang", std::nullopt}));
    EXPECT_EQ(call.nums, (std::vector<uint64_t>{6, 42, 0, 16, 0}));

    script().results["se_finishTransaction"] = ErrorFinishTransactionFailed;
    tse_finishTransaction("Kasse1", 42, "x", "T", "", r);
    EXPECT_EQ(r.logTime + r.serialNumber + r.signatureValue, "");
    EXPECT_EQ(r.signatureCounter, 0u);
    EXPECT_EQ(r.transactionNumber, 99u);
}

TEST_F(Wrappers, RecordWithoutBuffersGivesEmptyTexts)
{
    script().trans = {0, std::nullopt, 1, std::nullopt, 2};
    TTransResult r;
    tse_startTransaction("K", "x", "T", "", r);
    EXPECT_EQ(r.serialNumber + r.signatureValue, "");
    EXPECT_EQ(r.logTime, "1970-01-01T00:00:00.000Z");
}

TEST_F(Wrappers, OpenTransactionsAreDecimalsEachFollowedByABlank)
{
    script().buffer = Unhex("050000002C010000");
    script().bufferLength = 2;  // a count of entries, not of bytes
    EXPECT_EQ(tse_getOpenTransactions(), "5 300 ");
    EXPECT_EQ(FreeReport().released.size(), 1u);

    script().buffer = Unhex("FFFFFFFF");
    script().bufferLength = 1;
    EXPECT_EQ(tse_getOpenTransactions(), "4294967295 ");
}

TEST_F(Wrappers, ExportOpensZeroUpperBoundsAndAllClients)
{
    tse_exportDataToFile("", 0, 0, 0, 0, "/x/EXP_1-5.TAR");
    const auto& open = fakese::Calls().back();
    EXPECT_EQ(open.data, (std::vector<Bytes>{std::nullopt, "/x/EXP_1-5.TAR"}));
    EXPECT_EQ(open.nums, (std::vector<uint64_t>{0, SE_MAX_UINT32, 0, SE_MAX_UINT32, 0, SE_MAX_TIME, 0}));

    tse_exportDataToFile("K1", 3, 9, 100, 200, "f");
    const auto& bounded = fakese::Calls().back();
    EXPECT_EQ(bounded.data, (std::vector<Bytes>{"K1", "f"}));
    EXPECT_EQ(bounded.nums, (std::vector<uint64_t>{2, SE_MAX_UINT32, 3, 9, 100, 200, 0}));
}

// tse_Log and the one wrapper that writes through it, in a program directory
// of their own.
class TseLogFile : public Wrappers {
protected:
    void SetUp() override
    {
        Wrappers::SetUp();
        ASSERT_TRUE(dir_.isValid());
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        plat::SetNowOverride([] { return plat::EncodeDateTime(2026, 12, 9, 5, 7, 8); });
    }
    void TearDown() override
    {
        QDir::setCurrent(oldCwd_);
        Wrappers::TearDown();
    }
    std::string LogText() const
    {
        QFile f(dir_.filePath("Vok_TSE.LOG"));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<none>");
    }
    QTemporaryDir dir_;
    QString oldCwd_;
};

TEST_F(TseLogFile, CreatesTheFileWithAStartLineThenAppends)
{
    tse_Log("Hallo \xE4");
    EXPECT_EQ(LogText(), "09.12.26 05:07:08  Log-Datei erstellt\r\n09.12.26 05:07:08  Hallo \xE4\r\n");
    tse_Log("zwei");
    EXPECT_EQ(LogText(), "09.12.26 05:07:08  Log-Datei erstellt\r\n09.12.26 05:07:08  Hallo \xE4\r\n"
                         "09.12.26 05:07:08  zwei\r\n");
}

TEST_F(TseLogFile, ALogThatCannotBeWrittenLosesTheLineQuietly)
{
    ASSERT_TRUE(QDir(dir_.path()).mkdir("Vok_TSE.LOG"));
    TseRes = ErrorIO;
    EXPECT_NO_THROW(tse_Log("verloren"));
    EXPECT_EQ(TseRes, ErrorIO);
}

TEST_F(TseLogFile, SignatureAlgorithmWithoutSequenceLogsAFormatError)
{
    script().buffer = Unhex("0500");
    EXPECT_EQ(tse_getSignatureAlgorithm(), "0500");
    EXPECT_EQ(TseRes, 0);
    script().buffer = std::string();
    EXPECT_EQ(tse_getSignatureAlgorithm(), "");
    EXPECT_EQ(LogText(), "09.12.26 05:07:08  Log-Datei erstellt\r\n"
                         "09.12.26 05:07:08  tse_getSignatureAlgorithm  FORMAT-FEHLER\r\n"
                         "09.12.26 05:07:08    05-00\r\n"
                         "09.12.26 05:07:08  tse_getSignatureAlgorithm  FORMAT-FEHLER\r\n"
                         "09.12.26 05:07:08    \r\n");
    EXPECT_EQ(FreeReport().released.size(), 2u);
}
