#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
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
    // Names that are not UTF-8 are beyond QTemporaryDir's own removal.
    void TearDown() override
    {
        for (const char* raw : {"x.T\xC5\xBF" "E", "\xC4RGER.tse"})
            std::remove((QFile::encodeName(dir.path()) + "/" + raw).constData());
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

TEST_F(FindFilesTest, NamesOutsideAsciiFoldAsTheyAlwaysDid)
{
    // U+017F (long s) folds to "s"; a Windows-1252 name (not valid UTF-8)
    // is read as a legacy client writes it.
    for (const QByteArray& raw : {QByteArray("x.T\xC5\xBF" "E"), QByteArray("\xC4RGER.tse")}) {
        std::ofstream f((QFile::encodeName(dir.path()) + "/" + raw).toStdString());
        ASSERT_TRUE(f.good());
    }
    QList<QByteArray> entries;
    ASSERT_EQ(FindEntries(dir.path(), "*.TSE", entries), 0);
    EXPECT_TRUE(entries.contains(QByteArray("x.T\xC5\xBF" "E")));
    EXPECT_TRUE(entries.contains(QByteArray("\xC4RGER.tse")));
    ASSERT_EQ(FindEntries(dir.path(), QString::fromUtf8("ä*"), entries), 0);
    EXPECT_EQ(entries.size(), 2);  // "Ärger.tse" in UTF-8 and in Windows-1252
    ASSERT_EQ(FindEntries(dir.path(), QString::fromUtf8("*.tſe"), entries), 0);
    EXPECT_EQ(entries.size(), 6) << "a pattern outside ASCII folds too";
}

TEST(FindFilesScale, OneJobAmongThousandsOfUncollectedAnswers)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (int i = 0; i < 1000; ++i) {
        QFile f(dir.filePath(QStringLiteral("KASSE-%1.SIG").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QFile job(dir.filePath("KASSE-17.tse"));
    ASSERT_TRUE(job.open(QIODevice::WriteOnly));
    QList<QByteArray> entries;
    ASSERT_EQ(FindEntries(dir.path(), "*.TSE", entries), 0);
    EXPECT_EQ(entries, QList<QByteArray>{"KASSE-17.tse"});
    ASSERT_EQ(FindEntries(dir.path(), "KASSE-1?.SIG", entries), 0);
    EXPECT_EQ(entries.size(), 10);
}
