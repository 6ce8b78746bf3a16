// The service's own files in the program directory are its alone, whatever
// umask it runs under; what it writes for the registers (answers, exports,
// the status file) follows the umask, so the registers' group can read it.
#include "ServiceHarness.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

// The umask of this process, and so of the service it starts, for one test.
class UnderUmask : public ::testing::TestWithParam<mode_t> {
protected:
    void SetUp() override { saved_ = ::umask(GetParam()); }
    void TearDown() override { ::umask(saved_); }

private:
    mode_t saved_ = 0;
};

}  // namespace

TEST_P(UnderUmask, OwnFilesAre0600AndSharedOnesFollowTheUmask)
{
    const mode_t umask = GetParam();
    e2e::Service svc;
    // The service writes its configuration itself (it finds the TSE's drive).
    ASSERT_TRUE(QFile::remove(svc.ProgramDir() + "/Vok_TSE.INI"));
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();

    const e2e::ClientResult bon =
        svc.Client({"--keep", "--name", "K1", "bon", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "Beleg^1.00:Bar"});
    ASSERT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    const e2e::ClientResult exp = svc.Client({"export", "--kasid", "Kasse01"});
    ASSERT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    ASSERT_EQ(svc.Terminate(), 0);

    const QString prog = svc.ProgramDir() + "/";
    for (const char* own : {"Vok_TSE.INI", "Vok_TSE.journal", "Vok_TSE.lock", "Vok_TSE.LOG"})
        EXPECT_EQ(ModeOf(prog + own), 0600u) << own << " under umask " << std::oct << umask;

    EXPECT_EQ(ModeOf(svc.JobDir() + "/K1.SIG"), 0666u & ~umask);
    EXPECT_EQ(ModeOf(svc.JobDir() + "/Vok_TSE.status.json"), 0644u & ~umask);
    const QStringList exports = QDir(svc.ExportDir()).entryList({"EXP_*.TAR"}, QDir::Files);
    ASSERT_FALSE(exports.isEmpty());
    EXPECT_NE(ModeOf(svc.ExportDir() + "/" + exports.first()) & 0040u, 0u) << "the registers' group reads exports";
}

// The usual umask, and the one that makes files group-writable for the share.
INSTANTIATE_TEST_SUITE_P(Umasks, UnderUmask, ::testing::Values(mode_t(022), mode_t(0007)));
