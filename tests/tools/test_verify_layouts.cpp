// verify on archives of other makers' layouts, built with OpenSSL: correct
// ones pass, and a changed byte, a gap, a late start, a clock going back or a
// second message under one counter is found in every layout.
#include "tools/ExportBuilder.h"
#include "vok-tse-client/LogMemberCheck.h"
#include "vok-tse-client/Verify.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace export_builder;
using vokclient::RunResult;

namespace {

constexpr int64_t kTime = 1765000000;  // December 2025

RunResult RunVerify(const std::vector<std::string>& args)
{
    std::vector<QByteArray> a;
    for (const std::string& s : args) a.emplace_back(s.c_str());
    return vokclient::RunVerify(a);
}

std::string Out(const RunResult& r) { return r.out.toStdString(); }
bool Has(const RunResult& r, const std::string& text) { return Out(r).find(text) != std::string::npos; }

struct Case {
    const char* title;
    Layout layout;
};

const Case kLayouts[] = {
    {"2 certificates, NIST P-256, lower-case names, utcTime, SHA-256",
     {"prime256v1", 2, true, Time::Utc, Hash::Sha256}},
    {"3 certificates, brainpoolP384r1, unixTime, SHA-384", {"brainpoolP384r1", 3, false, Time::Unix, Hash::Sha384}},
    {"4 certificates, brainpoolP512r1, generalizedTime, SHA-512",
     {"brainpoolP512r1", 4, false, Time::Generalized, Hash::Sha512}},
    {"3 certificates, NIST P-384, lower-case names, unixTime, SHA3-256",
     {"secp384r1", 3, true, Time::Unix, Hash::Sha3_256}},
    {"2 certificates, brainpoolP256r1, generalizedTime, SHA-224",
     {"brainpoolP256r1", 2, false, Time::Generalized, Hash::Sha224}},
    {"3 certificates, NIST P-521, utcTime, SHA3-512", {"secp521r1", 3, false, Time::Utc, Hash::Sha3_512}},
};

class VerifyLayouts : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/verify-layouts-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const std::vector<Member>& members) const
    {
        EXPECT_TRUE(WriteArchive(Path(name), members));
        return Path(name);
    }

    std::filesystem::path dir_;
};

std::vector<Member> Changed(std::vector<Member> members, size_t index, size_t byte)
{
    members[index].data[byte] ^= 0x01;
    return members;
}

}  // namespace

TEST_F(VerifyLayouts, CorrectArchivesOfEveryLayoutPass)
{
    for (const Case& c : kLayouts) {
        SCOPED_TRACE(c.title);
        Tse tse(c.layout);
        const RunResult r = RunVerify({Write("good.tar", TypicalExport(tse, 3, kTime))});
        EXPECT_EQ(0, r.exitCode) << Out(r);
        EXPECT_TRUE(Has(r, "11 log messages, 3 transactions, signature counters 1 to 11: OK")) << Out(r);
    }
}

TEST_F(VerifyLayouts, AChangedByteInAnyMessageIsFoundInEveryLayout)
{
    for (const Case& c : kLayouts) {
        SCOPED_TRACE(c.title);
        Tse tse(c.layout);
        const std::vector<Member> good = TypicalExport(tse, 1, kTime);
        vokclient::KeyRing keys;
        std::vector<std::unique_ptr<vokclient::ExportCertificate>> certificates;
        for (const Member& m : good)
            if (m.name.ends_with("_X509.cer")) {
                certificates.push_back(vokclient::ExportCertificate::FromDer(m.data));
                keys[certificates.back()->KeyHashHex()] = certificates.back().get();
            }
        vokclient::PlainSignatureChecker checker;
        for (size_t i = 0; i < good.size(); ++i) {
            if (!good[i].name.ends_with(".log")) continue;
            SCOPED_TRACE(good[i].name);
            const vokclient::LogMemberResult clean = vokclient::CheckLogMember(good[i].name, good[i].data, keys, checker);
            ASSERT_TRUE(clean.findings.empty()) << clean.findings.front();
            ASSERT_TRUE(clean.keyKnown);
            // Every byte of the message, each on its own: a finding, or a
            // serial number without a key (reported for the archive).
            for (size_t b = 0; b < good[i].data.size(); ++b) {
                const Bytes changed = Changed(good, i, b)[i].data;
                const vokclient::LogMemberResult r = vokclient::CheckLogMember(good[i].name, changed, keys, checker);
                EXPECT_TRUE(!r.findings.empty() || (r.parsed && !r.keyKnown)) << "byte " << b;
            }
            // And through a whole archive, in the middle of the signed part.
            const RunResult r = RunVerify({Write("changed.tar", Changed(good, i, good[i].data.size() / 2))});
            EXPECT_EQ(1, r.exitCode) << Out(r);
            EXPECT_TRUE(Has(r, good[i].name + ": ")) << Out(r);
        }
    }
}

TEST_F(VerifyLayouts, SeriesFaultsAreReported)
{
    Tse tse({"prime256v1", 2, true, Time::Generalized, Hash::Sha256});
    std::vector<Member> m{{"info.csv", {}}};
    for (Member& c : tse.Certificates()) m.push_back(std::move(c));
    // Counters 1..4, 6; the clock goes back at 4; transaction 2 is finished twice.
    m.push_back(tse.Sign(Log::Start, 1, kTime));
    m.push_back(tse.Sign(Log::Finish, 1, kTime + 5));
    m.push_back(tse.Sign(Log::Start, 2, kTime + 6));
    m.push_back(tse.Sign(Log::Finish, 2, kTime - 3600));
    tse.Sign(Log::System, 0, kTime);  // counter 5, not in the archive
    m.push_back(tse.Sign(Log::Finish, 2, kTime + 7));
    const RunResult r = RunVerify({Write("faults.tar", m)});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(Has(r, "logTime goes back from " + std::to_string(kTime + 6) + " at signature counter 3 to " +
                           std::to_string(kTime - 3600) + " at signature counter 4"))
        << Out(r);
    EXPECT_TRUE(Has(r, "signature counter 5 missing before signature counter 6")) << Out(r);
    EXPECT_TRUE(Has(r, "transaction 2 finished twice")) << Out(r);
    EXPECT_TRUE(Has(r, ": 3 findings")) << Out(r);
}

TEST_F(VerifyLayouts, ASeriesStartingLaterNeedsFrom)
{
    Tse tse({"prime256v1", 3, false, Time::Unix, Hash::Sha256});
    std::vector<Member> m{{"info.csv", {}}};
    for (Member& c : tse.Certificates()) m.push_back(std::move(c));
    for (uint64_t counter = 17; counter <= 20; counter += 2) {
        m.push_back(tse.SignAt(counter, Log::Start, counter, kTime));
        m.push_back(tse.SignAt(counter + 1, Log::Finish, counter, kTime));
    }
    m.push_back(tse.SignAt(21, Log::Finish, 3, kTime));  // its start lies before the series
    const std::string archive = Write("late.tar", m);
    const RunResult r = RunVerify({archive});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(Has(r, "the series starts at signature counter 17, not at 1")) << Out(r);
    const RunResult allowed = RunVerify({"--from", "17", archive});
    EXPECT_EQ(0, allowed.exitCode) << Out(allowed);
    EXPECT_TRUE(Has(allowed, "info: " + archive + ": transaction 3 finished without its start (it lies before"))
        << Out(allowed);
    const RunResult earlier = RunVerify({"--from", "15", archive});
    EXPECT_EQ(1, earlier.exitCode);
    EXPECT_TRUE(Has(earlier, "signature counters 15 to 16 missing")) << Out(earlier);
    EXPECT_EQ(0, RunVerify({"--from", "19", archive}).exitCode) << "a series may hold more than it must";
}

TEST_F(VerifyLayouts, OverlappingArchivesCountOnceAndDifferentMessagesUnderOneCounterDoNot)
{
    Tse tse({"brainpoolP256r1", 3, false, Time::Utc, Hash::Sha256});
    std::vector<Member> certs = tse.Certificates();
    std::vector<Member> first{{"info.csv", {}}}, second{{"info.csv", {}}};
    first.insert(first.end(), certs.begin(), certs.end());
    second.insert(second.end(), certs.begin(), certs.end());
    const Member s1 = tse.Sign(Log::Start, 1, kTime), f1 = tse.Sign(Log::Finish, 1, kTime);
    const Member s2 = tse.Sign(Log::Start, 2, kTime), f2 = tse.Sign(Log::Finish, 2, kTime);
    first.insert(first.end(), {s1, f1, s2});  // transaction 2 open at the first export
    second.insert(second.end(), {s2, f2});    // the next export repeats from its start
    const std::string a = Write("first.tar", first), b = Write("second.tar", second);
    const RunResult r = RunVerify({a, b});
    EXPECT_EQ(0, r.exitCode) << Out(r);
    EXPECT_TRUE(Has(r, "4 log messages, 2 transactions, signature counters 1 to 4: OK")) << Out(r);

    // Another message signed under counter 3 (a real signature: a second TSE state).
    std::vector<Member> forked = second;
    forked[forked.size() - 2] = tse.SignAt(3, Log::Start, 2, kTime, "", "Kasse 2");
    forked[forked.size() - 2].name = s2.name;
    const RunResult fork = RunVerify({a, Write("forked.tar", forked)});
    EXPECT_EQ(1, fork.exitCode);
    EXPECT_TRUE(Has(fork, "forked.tar: signature counter 3 also has a different message in " + a)) << Out(fork);
}

TEST_F(VerifyLayouts, MessagesOfAnUnknownAlgorithmOrKeyAreNotPassed)
{
    Tse tse({"prime256v1", 2, false, Time::Unix, Hash::Sha256});
    std::vector<Member> m = TypicalExport(tse, 1, kTime);
    // ecdsa-with-SHA256 (X9.62) in place of ecdsa-plain-SHA256: same length, another OID.
    std::vector<Member> x962 = m;
    for (Member& member : x962) {
        if (!member.name.ends_with(".log")) continue;
        const Bytes plain = {0x06, 0x0A, 0x04, 0x00, 0x7F, 0x00, 0x07, 0x01, 0x01, 0x04, 0x01, 0x03};
        auto at = std::search(member.data.begin(), member.data.end(), plain.begin(), plain.end());
        ASSERT_NE(member.data.end(), at);
        const Bytes other = {0x06, 0x0A, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x04, 0x03, 0x02, 0x00, 0x00};
        std::copy(other.begin(), other.end(), at);
        break;
    }
    const RunResult r = RunVerify({Write("x962.tar", x962)});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_TRUE(Has(r, "is not an ecdsa-plain algorithm")) << Out(r);

    // Without the TSE certificate in any archive nothing can be checked: a finding, not a pass.
    std::vector<Member> noKey;
    for (const Member& member : m)
        if (member.name.find(tse.SerialHex()) == std::string::npos) noKey.push_back(member);
    ASSERT_EQ(m.size() - 1, noKey.size());
    const RunResult unchecked = RunVerify({Write("nokey.tar", noKey)});
    EXPECT_EQ(1, unchecked.exitCode);
    EXPECT_TRUE(Has(unchecked, "5 log message(s) from this one on name serial number " + tse.SerialHex() +
                                   ", whose certificate is in no archive: their signatures cannot be checked"))
        << Out(unchecked);
}
