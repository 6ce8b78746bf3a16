// Who may read what the service creates, under the umasks an administrator
// sets: the service's own files stay its alone, the rest follows the umask.
#include "platform/Files.h"
#include "platform/InstanceLock.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace plat;

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat st {};
    if (::lstat(path.toLocal8Bit().constData(), &st) != 0) return 07777;
    return st.st_mode & 07777;
}

class FileModes : public ::testing::TestWithParam<mode_t> {
protected:
    void SetUp() override { saved_ = ::umask(GetParam()); }
    void TearDown() override { ::umask(saved_); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    mode_t saved_ = 0;
};

}  // namespace

TEST_P(FileModes, OwnFilesAreTheOwnersAloneWhateverTheUmask)
{
    File f;
    ASSERT_EQ(f.Create(Path("Vok_TSE.INI"), Visibility::OwnerOnly), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.INI")), 0600u);

    // A compaction's replacement is new as well.
    ASSERT_EQ(ReplaceFileBytes(Path("Vok_TSE.journal"), "x\n", Visibility::OwnerOnly), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.journal")), 0600u);

    InstanceLock lock;
    ASSERT_EQ(lock.Acquire(Path("Vok_TSE.lock")), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.lock")), 0600u);
}

TEST_P(FileModes, SharedFilesFollowTheUmask)
{
    const mode_t umask = GetParam();
    File f;
    ASSERT_EQ(f.Create(Path("K1.SIG")), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(ModeOf(Path("K1.SIG")), 0666u & ~umask);

    // Others read the status file; only the service writes it.
    ASSERT_EQ(ReplaceFileBytes(Path("Vok_TSE.status.json"), "{}"), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.status.json")), 0644u & ~umask);
}

TEST_P(FileModes, AReplacedLinkGetsTheModeOfANewFile)
{
    ASSERT_EQ(::symlink("/nonexistent", Path("Vok_TSE.LOG").toLocal8Bit().constData()), 0);
    File f;
    ASSERT_EQ(f.Create(Path("Vok_TSE.LOG"), Visibility::OwnerOnly), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.LOG")), 0600u);
}

INSTANTIATE_TEST_SUITE_P(Umasks, FileModes, ::testing::Values(mode_t(022), mode_t(0007), mode_t(0)));
