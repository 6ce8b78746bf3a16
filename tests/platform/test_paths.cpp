#include "platform/Files.h"
#include "platform/Paths.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace plat;

namespace {

// Sets VOK_TSE_DRIVES for one test and puts back what was there.
class DriveRootEnv {
public:
    explicit DriveRootEnv(const char* value)
    {
        if (const char* old = std::getenv("VOK_TSE_DRIVES"))
            saved_ = old, had_ = true;
        if (value)
            ::setenv("VOK_TSE_DRIVES", value, 1);
        else
            ::unsetenv("VOK_TSE_DRIVES");
    }
    ~DriveRootEnv()
    {
        if (had_)
            ::setenv("VOK_TSE_DRIVES", saved_.c_str(), 1);
        else
            ::unsetenv("VOK_TSE_DRIVES");
    }

private:
    std::string saved_;
    bool had_ = false;
};

}  // namespace

TEST(NativePath, DriveLettersMapUnderTheDriveRoot)
{
    DriveRootEnv env("/media/drives");
    EXPECT_EQ(NativePath("E:\\TSE-IO.bin"), "/media/drives/e/TSE-IO.bin");
    EXPECT_EQ(NativePath("E:TSE-IO.bin"), "/media/drives/e/TSE-IO.bin");
    EXPECT_EQ(NativePath("e:\\"), "/media/drives/e/");
    EXPECT_EQ(NativePath("C:\\Kasse\\TSE\\a.TSE"), "/media/drives/c/Kasse/TSE/a.TSE");
}

TEST(NativePath, TheDriveRootDefaultsToMntAndIsReadOnEveryCall)
{
    {
        DriveRootEnv env(nullptr);
        EXPECT_EQ(DriveRoot(), "/mnt");
        EXPECT_EQ(NativePath("F:\\x"), "/mnt/f/x");
    }
    {
        DriveRootEnv env("/srv/drives/");
        EXPECT_EQ(NativePath("F:\\x"), "/srv/drives/f/x");
    }
}

TEST(NativePath, OtherPathsOnlyChangeTheirSeparators)
{
    DriveRootEnv env("/media/drives");
    EXPECT_EQ(NativePath("/home/kasse/TSE\\a.TSE"), "/home/kasse/TSE/a.TSE");
    EXPECT_EQ(NativePath("TSE_EXPO\\Cer.TAR"), "TSE_EXPO/Cer.TAR");
    EXPECT_EQ(NativePath("1:\\x"), "1:/x");
    EXPECT_EQ(NativePath("Ä:x"), "Ä:x");
    EXPECT_EQ(NativePath(""), "");
}

TEST(NativePath, FilesOpenThroughAMappedDrive)
{
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkdir("e"));
    DriveRootEnv env(root.path().toLocal8Bit().constData());
    ASSERT_EQ(WriteFileBytes("E:\\TSE-IO.bin", "marker"), 0);
    EXPECT_TRUE(FileExists(root.filePath("e/TSE-IO.bin")));
    EXPECT_TRUE(FileExists("e:TSE-IO.bin"));
}

TEST(CurrentDirectory, IsTheProcessWorkingDirectory)
{
    QTemporaryDir dir;
    const QString before = CurrentDirectory();
    ASSERT_EQ(::chdir(dir.path().toLocal8Bit().constData()), 0);
    const QString inside = CurrentDirectory();
    ASSERT_EQ(::chdir(before.toLocal8Bit().constData()), 0);
    EXPECT_EQ(inside, QDir(dir.path()).canonicalPath());
    EXPECT_FALSE(inside.endsWith('/'));
}
