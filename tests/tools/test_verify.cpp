// vok-tse-client verify on archives the software TSE exports: a good series
// passes, overlapping exports and two TSEs in one run too, and each kind of
// damage an auditor would flag is reported by the name of the member it
// concerns, also when the chain is incomplete or the names are in lower case.
#include "softtse/SoftTseFixture.h"
#include "vok-tse-client/ExportArchive.h"
#include "vok-tse-client/ExportCertificate.h"
#include "vok-tse-client/Verify.h"

#include <archive.h>
#include <archive_entry.h>
#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>

using namespace softtse_test;
using vokclient::ArchiveMember;
using vokclient::RunResult;

namespace {

RunResult RunVerify(const std::vector<std::string>& args)
{
    std::vector<QByteArray> a;
    for (const std::string& s : args) a.emplace_back(s.c_str());
    return vokclient::RunVerify(a);
}

std::string Out(const RunResult& r) { return r.out.toStdString(); }

// Writes src's members to dst as a TSE would, after edit: nullopt drops a
// member, otherwise the member as edit returns it.
using Edit = std::function<std::optional<ArchiveMember>(const ArchiveMember&)>;
void RewriteArchive(const std::string& src, const std::string& dst, const Edit& edit)
{
    const vokclient::ArchiveContents in = vokclient::ReadExportArchive(src);
    ASSERT_TRUE(in.readable) << in.error;
    archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    ASSERT_EQ(ARCHIVE_OK, archive_write_open_filename(a, dst.c_str()));
    for (const ArchiveMember& m : in.members) {
        const std::optional<ArchiveMember> out = edit(m);
        if (!out) continue;
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, out->name.c_str());
        archive_entry_set_size(e, static_cast<la_int64_t>(out->data.size()));
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_write_header(a, e);
        archive_write_data(a, out->data.data(), out->data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

std::string SerialHex()
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t c : serialNumber()) {
        s += digits[c >> 4];
        s += digits[c & 0x0F];
    }
    return s;
}

class Verify : public ::testing::Test {
protected:
    // Two consecutive exports of one TSE: transactions 1..3 and 4 onwards,
    // transaction 5 still open, a restart's system logs between them.
    static void SetUpTestSuite()
    {
        dir_ = new TempDevice();
        other_ = new TempDevice();
        // Another TSE's certificates, for the test that swaps one in.
        initialiseDevice(*other_);
        otherSerial_ = SerialHex();
        uint8_t* certs = nullptr;
        uint32_t length = 0;
        ASSERT_EQ(ExecutionOk, se_exportCertificates(&certs, &length));
        writeText(other_->path() / "certs.tar", std::string(reinterpret_cast<char*>(certs), length));
        se_free(certs);
        ASSERT_EQ(ExecutionOk, mapClient("K9"));
        for (int i = 1; i <= 2; ++i) {
            const Signed s = start("K9");
            ASSERT_EQ(ExecutionOk, finish("K9", s.transactionNumber, "Andere-" + std::to_string(i)).rc);
        }
        ASSERT_EQ(ExecutionOk, se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 1, SE_MAX_UINT32, 0, SE_MAX_TIME, 0,
                                                   OtherTse().c_str()));
        se_close();

        initialiseDevice(*dir_);
        serial_ = SerialHex();
        ASSERT_EQ(ExecutionOk, mapClient("K1"));
        for (int i = 1; i <= 3; ++i) {
            const Signed s = start("K1");
            ASSERT_EQ(ExecutionOk, s.rc);
            ASSERT_EQ(ExecutionOk, finish("K1", s.transactionNumber, "Beleg-" + std::to_string(i) + "^9.99").rc);
        }
        ASSERT_EQ(ExecutionOk, se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 1, 3, 0, SE_MAX_TIME, 0,
                                                   First().c_str()));
        se_close();
        ASSERT_EQ(ExecutionOk, se_openDirect(dir_->str().c_str(), 5000));
        ASSERT_EQ(ExecutionOk, login("TimeAdmin", kTimeAdminPin));
        ASSERT_EQ(ExecutionOk, se_updateTime(nowUnix()));
        ASSERT_EQ(ExecutionOk, logout("TimeAdmin"));
        const Signed s = start("K1");
        ASSERT_EQ(ExecutionOk, finish("K1", s.transactionNumber, "Beleg-4^1.00:Bar").rc);
        ASSERT_EQ(ExecutionOk, start("K1").rc);
        ASSERT_EQ(ExecutionOk, se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 4, SE_MAX_UINT32, 0, SE_MAX_TIME, 0,
                                                   Second().c_str()));
        ASSERT_EQ(ExecutionOk, se_exportDataToFile(nullptr, 0, SE_MAX_UINT32, 1, SE_MAX_UINT32, 0, SE_MAX_TIME, 0,
                                                   Everything().c_str()));
        se_close();
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        delete other_;
    }

    static std::string First() { return (dir_->path() / "EXP_1-3.TAR").string(); }
    static std::string Second() { return (dir_->path() / "EXP_4-5.TAR").string(); }
    static std::string Everything() { return (dir_->path() / "EXP_1-5.TAR").string(); }
    static std::string OtherTse() { return (other_->path() / "EXP_OTHER.TAR").string(); }
    std::string Damaged() const { return (dir_->path() / "damaged.tar").string(); }

    static inline TempDevice* dir_ = nullptr;
    static inline TempDevice* other_ = nullptr;
    static inline std::string serial_;
    static inline std::string otherSerial_;
};

}  // namespace

TEST_F(Verify, AGoodSeriesPasses)
{
    const RunResult r = RunVerify({First(), Second()});
    EXPECT_EQ(0, r.exitCode) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("2 archives")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("5 transactions")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("info: " + Second())) << Out(r);  // transaction 5 is open
    EXPECT_NE(std::string::npos, Out(r).find("transaction 5 is still open")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("signature counters 1 to ")) << Out(r);

    const RunResult json = RunVerify({"--json", First(), Second()});
    EXPECT_EQ(0, json.exitCode);
    EXPECT_EQ(0u, Out(json).find("{\"ok\":true,\"archives\":2,")) << Out(json);

    // The same archive twice is no conflict; the second alone starts after a gap-free first counter.
    EXPECT_EQ(0, RunVerify({First(), First(), Second()}).exitCode);
}

TEST_F(Verify, MissingArchiveOfTheSeriesIsAGap)
{
    // Without the first archive the series starts late: a finding unless
    // --from allows it. Without a middle part it has a gap, reported with
    // the counter after it.
    const RunResult alone = RunVerify({Second()});
    EXPECT_EQ(1, alone.exitCode);
    EXPECT_NE(std::string::npos, Out(alone).find("the series starts at signature counter ")) << Out(alone);
    const std::string firstOfSecond = Out(alone).substr(Out(alone).find("signature counters ") + 19);
    const std::string from = firstOfSecond.substr(0, firstOfSecond.find(' '));
    EXPECT_EQ(0, RunVerify({"--from", from, Second()}).exitCode) << Out(alone);

    RewriteArchive(First(), Damaged(), [](const ArchiveMember& m) -> std::optional<ArchiveMember> {
        if (m.name.find("_Sig-7_") != std::string::npos) return std::nullopt;
        return m;
    });
    const RunResult r = RunVerify({Damaged(), Second()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find("signature counter 7 missing before signature counter 8")) << Out(r);
}

TEST_F(Verify, OverlappingExportsCountEachMessageOnce)
{
    // A default export that repeats from an open transaction holds messages
    // of the one before it: no finding, each counted once.
    const RunResult r = RunVerify({First(), Everything(), Second()});
    EXPECT_EQ(0, r.exitCode) << Out(r);
    const RunResult alone = RunVerify({Everything()});
    EXPECT_NE(std::string::npos, Out(r).find(Out(alone).substr(Out(alone).find(" log messages")))) << Out(r);

    // The same counter with a different message is reported, once per copy that differs.
    std::string changed;
    RewriteArchive(Everything(), Damaged(), [&](const ArchiveMember& m) {
        ArchiveMember out = m;
        if (changed.empty() && m.name.find("_Start_") != std::string::npos && m.name.find("_No-2_") != std::string::npos) {
            out.data[out.data.size() - 1] ^= 0x01;  // last byte of the signature
            changed = m.name;
        }
        return std::optional<ArchiveMember>(out);
    });
    ASSERT_FALSE(changed.empty());
    const RunResult fork = RunVerify({First(), Damaged()});
    EXPECT_EQ(1, fork.exitCode);
    EXPECT_NE(std::string::npos, Out(fork).find(changed + ": signature does not verify")) << Out(fork);
    EXPECT_NE(std::string::npos, Out(fork).find("also has a different message in " + First())) << Out(fork);
}

TEST_F(Verify, RootRemovedAndReceiptChangedIsStillCaught)
{
    // The review's forged archive: no root certificate, and "1.00:Bar"
    // became "0.10:Bar". The chain is a finding; the forgery is another.
    std::string changed;
    RewriteArchive(Second(), Damaged(), [&](const ArchiveMember& m) -> std::optional<ArchiveMember> {
        if (m.name.ends_with("_X509.cer") && vokclient::ExportCertificate::FromDer(m.data)->SelfSigned())
            return std::nullopt;
        ArchiveMember out = m;
        const std::string text(m.data.begin(), m.data.end());
        const size_t at = text.find("1.00:Bar");
        if (at != std::string::npos) {
            std::copy_n("0.10", 4, out.data.begin() + static_cast<std::ptrdiff_t>(at));
            changed = m.name;
        }
        return std::optional<ArchiveMember>(out);
    });
    ASSERT_FALSE(changed.empty());
    const RunResult r = RunVerify({First(), Damaged()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find(changed + ": signature does not verify")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("the chain does not reach a root")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find(": 2 findings")) << Out(r);
}

TEST_F(Verify, LowerCaseCertificateNamesStillCheckEveryMessage)
{
    const auto lower = [](const ArchiveMember& m) {
        ArchiveMember out = m;
        if (m.name.ends_with("_X509.cer"))
            for (size_t i = 0; i < 64; ++i) out.name[i] = static_cast<char>(std::tolower(out.name[i]));
        return out;
    };
    RewriteArchive(Second(), Damaged(), [&](const ArchiveMember& m) { return std::optional<ArchiveMember>(lower(m)); });
    const RunResult good = RunVerify({First(), Damaged()});
    EXPECT_EQ(0, good.exitCode) << Out(good);

    std::string changed;
    RewriteArchive(Second(), Damaged(), [&](const ArchiveMember& m) {
        ArchiveMember out = lower(m);
        const std::string text(m.data.begin(), m.data.end());
        const size_t at = text.find("1.00:Bar");
        if (at != std::string::npos) {
            out.data[at] = '0';
            changed = m.name;
        }
        return std::optional<ArchiveMember>(out);
    });
    const RunResult r = RunVerify({First(), Damaged()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find(changed + ": signature does not verify")) << Out(r);
}

TEST_F(Verify, TwoTsesInOneRunAreKeptApart)
{
    const RunResult r = RunVerify({First(), OtherTse(), Second()});
    EXPECT_EQ(0, r.exitCode) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("TSE " + serial_ + ": ")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("TSE " + otherSerial_ + ": ")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("7 transactions, 2 TSEs: OK")) << Out(r);

    // A gap in one TSE's series is that TSE's finding alone.
    RewriteArchive(OtherTse(), Damaged(), [](const ArchiveMember& m) -> std::optional<ArchiveMember> {
        if (m.name.find("_No-1_Finish_") != std::string::npos) return std::nullopt;
        return m;
    });
    const RunResult gap = RunVerify({First(), Damaged(), Second()});
    EXPECT_EQ(1, gap.exitCode);
    EXPECT_NE(std::string::npos, Out(gap).find("TSE " + otherSerial_.substr(0, 16) + ": signature counter ")) << Out(gap);
    EXPECT_NE(std::string::npos, Out(gap).find(": 1 findings")) << Out(gap);
}

TEST_F(Verify, ChangedProcessDataIsReportedByName)
{
    std::string changed;
    RewriteArchive(First(), Damaged(), [&](const ArchiveMember& m) {
        ArchiveMember out = m;
        const std::string text(m.data.begin(), m.data.end());
        const size_t at = text.find("Beleg-2^9.99");
        if (at != std::string::npos) {
            out.data[at + 8] = '8';  // 9.99 -> 8.99
            changed = m.name;
        }
        return std::optional<ArchiveMember>(out);
    });
    ASSERT_FALSE(changed.empty());
    const RunResult r = RunVerify({Damaged(), Second()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find(changed + ": signature does not verify")) << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("1 findings")) << Out(r);
}

TEST_F(Verify, MemberRenamedToAnotherCounterIsReportedByName)
{
    std::string renamed;
    RewriteArchive(First(), Damaged(), [&](const ArchiveMember& m) {
        ArchiveMember out = m;
        const size_t at = m.name.find("_Sig-6_");
        if (at != std::string::npos) {
            out.name.replace(at, 7, "_Sig-60_");
            renamed = out.name;
        }
        return std::optional<ArchiveMember>(out);
    });
    ASSERT_FALSE(renamed.empty());
    const RunResult r = RunVerify({Damaged(), Second()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find(renamed + ": signature counter in the message is 6")) << Out(r);
}

TEST_F(Verify, CertificateOfAnotherTseIsReported)
{
    const vokclient::ArchiveContents other =
        vokclient::ReadExportArchive((other_->path() / "certs.tar").string());
    ASSERT_TRUE(other.readable);
    std::optional<ArchiveMember> otherTse;
    for (const ArchiveMember& m : other.members)
        if (m.name == otherSerial_ + "_X509.cer") otherTse = m;
    ASSERT_TRUE(otherTse);
    RewriteArchive(First(), Damaged(), [&](const ArchiveMember& m) {
        return m.name == serial_ + "_X509.cer" ? otherTse : std::optional<ArchiveMember>(m);
    });
    // The messages are still checked, with the certificate the second archive holds.
    const RunResult r = RunVerify({Damaged(), Second()});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find(Damaged() + ": " + otherTse->name + ": certificate of a key that no log message names"))
        << Out(r);
    EXPECT_NE(std::string::npos, Out(r).find("name serial number " + serial_ + ", whose certificate is not in this archive"))
        << Out(r);
    EXPECT_EQ(std::string::npos, Out(r).find("signature does not verify")) << Out(r);
}

TEST_F(Verify, WrongCallsAndUnreadableArchives)
{
    EXPECT_EQ(64, RunVerify({}).exitCode);
    EXPECT_EQ(64, RunVerify({"--bogus", First()}).exitCode);
    EXPECT_EQ(64, RunVerify({"--from", "0", First()}).exitCode);
    EXPECT_EQ(64, RunVerify({"--from", "x", First()}).exitCode);
    EXPECT_EQ(64, RunVerify({First(), "--from"}).exitCode);
    writeText(dir_->path() / "not.tar", std::string(3000, 'x'));
    const RunResult r = RunVerify({First(), (dir_->path() / "not.tar").string()});
    EXPECT_EQ(74, r.exitCode);
    EXPECT_NE(std::string::npos, Out(r).find("not.tar: cannot be read")) << Out(r);
    EXPECT_EQ(74, RunVerify({(dir_->path() / "missing.tar").string()}).exitCode);
}
