#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace plat;

namespace {

class FindFilesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    void SetUp() override
    {
        for (const char* name : {"a.tse", "B.TSE", "c.Tse.bak", "d.sig", "xTSE", "Ärger.tse", "noext"}) {
            QFile f(dir.filePath(QString::fromUtf8(name)));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(QDir(dir.path()).mkdir("sub.TSE"));
    }
    QStringList Find(const QString& pattern)
    {
        QStringList names;
        EXPECT_EQ(FindFiles(dir.path(), pattern, names), 0);
        names.sort();
        return names;
    }
};

}  // namespace

TEST_F(FindFilesTest, WildcardIgnoresLetterCaseAndListsEveryKindOfEntry)
{
    EXPECT_EQ(Find("*.TSE"), (QStringList{"B.TSE", "a.tse", "sub.TSE", QString::fromUtf8("Ärger.tse")}));
    EXPECT_EQ(Find(QString::fromUtf8("ä*")), QStringList{QString::fromUtf8("Ärger.tse")});
}

TEST_F(FindFilesTest, QuestionMarkTakesExactlyOneCharacter)
{
    EXPECT_EQ(Find("?.sig"), QStringList{"d.sig"});
    EXPECT_EQ(Find("??.sig"), QStringList{});
    EXPECT_EQ(Find("*TSE*"), (QStringList{"B.TSE", "a.tse", "c.Tse.bak", "sub.TSE", "xTSE", QString::fromUtf8("Ärger.tse")}));
}

TEST_F(FindFilesTest, StarDotStarMeansEveryName)
{
    EXPECT_EQ(Find("*.*").size(), 8);
    EXPECT_TRUE(Find("*.*").contains("noext"));
    EXPECT_FALSE(Find("*").contains("."));
}

TEST_F(FindFilesTest, AMissingDirectoryGivesItsErrno)
{
    QStringList names{"stale"};
    EXPECT_EQ(FindFiles(dir.filePath("none"), "*.TSE", names), ENOENT);
    EXPECT_TRUE(names.isEmpty());
}
