// The token file: made secret, refused when others may read it, compared
// without telling how close a guess came.
#include "http/HttpToken.h"
#include "platform/FileMode.h"
#include "platform/Files.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(HttpToken, AMissingFileIsCreatedSecretAndThenReadBack)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Vok_TSE.token");
    const mode_t old = ::umask(0);  // even so: 0600
    std::string token;
    QString why;
    const int err = LoadOrCreateToken(path, token, why);
    ::umask(old);
    ASSERT_EQ(err, 0) << why.toStdString();
    EXPECT_EQ(token.size(), 64u);
    mode_t mode = 0;
    ASSERT_EQ(plat::FileModeBits(path, mode), 0);
    EXPECT_EQ(mode, 0600u);
    std::string again;
    ASSERT_EQ(LoadOrCreateToken(path, again, why), 0);
    EXPECT_EQ(again, token);

    std::string other;
    QTemporaryDir dir2;
    ASSERT_EQ(LoadOrCreateToken(dir2.filePath("t"), other, why), 0);
    EXPECT_NE(other, token);
}

TEST(HttpToken, AFileOthersMayReadOrWithoutATokenKeepsTheDoorShut)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Vok_TSE.token");
    std::string token;
    QString why;
    ASSERT_EQ(LoadOrCreateToken(path, token, why), 0);
    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0640), 0);
    std::string read;
    EXPECT_EQ(LoadOrCreateToken(path, read, why), EACCES);
    EXPECT_TRUE(read.empty());
    EXPECT_TRUE(why.contains("640"));
    EXPECT_FALSE(why.contains(QString::fromStdString(token)));  // never in the log

    ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), 0600), 0);
    ASSERT_EQ(plat::WriteFileBytes(path, "short\n"), 0);
    EXPECT_EQ(LoadOrCreateToken(path, read, why), EINVAL);
    EXPECT_FALSE(why.isEmpty());
}

TEST(HttpToken, OnlyTheExactBearerHeaderMatches)
{
    const std::string token(64, 'a');
    EXPECT_TRUE(BearerMatches(token, "Bearer " + token));
    EXPECT_FALSE(BearerMatches(token, "bearer " + token));
    EXPECT_FALSE(BearerMatches(token, "Bearer " + token + "a"));
    EXPECT_FALSE(BearerMatches(token, "Bearer " + std::string(63, 'a') + "b"));
    EXPECT_FALSE(BearerMatches(token, ""));
    EXPECT_FALSE(BearerMatches("", "Bearer "));  // no token read: nothing matches
}
