// The service's own files are its alone even where no umask helps: under
// umask 0, for a link replaced by a new file and for a whole-file replacement
// (the journal's compaction). The modes under the usual umasks, file by file:
// tests/e2e/test_private_files.
#include "platform/Files.h"

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

class NoUmask : public ::testing::Test {
protected:
    void SetUp() override { saved_ = ::umask(0); }
    void TearDown() override { ::umask(saved_); }
    QString Path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    mode_t saved_ = 0;
};

}  // namespace

TEST_F(NoUmask, OwnFilesAre0600AndOthersGetExactlyTheirModes)
{
    ASSERT_EQ(::symlink("/nonexistent", Path("Vok_TSE.LOG").toLocal8Bit().constData()), 0);
    File f;
    ASSERT_EQ(f.Create(Path("Vok_TSE.LOG"), Visibility::OwnerOnly), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.LOG")), 0600u);

    ASSERT_EQ(ReplaceFileBytes(Path("Vok_TSE.journal"), "x\n", Visibility::OwnerOnly), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.journal")), 0600u);

    ASSERT_EQ(f.Create(Path("K1.SIG")), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(ModeOf(Path("K1.SIG")), 0666u);
    ASSERT_EQ(ReplaceFileBytes(Path("Vok_TSE.status.json"), "{}"), 0);
    EXPECT_EQ(ModeOf(Path("Vok_TSE.status.json")), 0644u);
}
