// What other programs leave in the job directory: links, FIFOs, names in
// another encoding. Opening such an entry must never follow, block or lose
// the name's bytes.
#include "platform/Files.h"
#include "platform/InstanceLock.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

class JobEntries : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QByteArray Raw(const QByteArray& name) const { return QFile::encodeName(dir.path()) + "/" + name; }
    void Put(const QByteArray& name, const QByteArray& bytes) const
    {
        FILE* f = std::fopen(Raw(name).constData(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f);
        std::fclose(f);
    }
};

TEST_F(JobEntries, OnlyAPlainFileOpensAsAJob)
{
    Put("target.txt", "secret");
    ASSERT_EQ(::symlink(Raw("target.txt").constData(), Raw("Link.TSE").constData()), 0);
    ASSERT_EQ(::mkfifo(Raw("Pipe.TSE").constData(), 0666), 0);
    ASSERT_EQ(::mkdir(Raw("Dir.TSE").constData(), 0777), 0);
    Put("Plain.TSE", "CMD=BON\r\n");

    File f;
    EXPECT_EQ(f.OpenRegular(FsPath(dir.path(), "Link.TSE")), ELOOP);
    EXPECT_EQ(f.OpenRegular(FsPath(dir.path(), "Pipe.TSE")), ErrNotRegularFile);  // returns, does not wait
    EXPECT_EQ(f.OpenRegular(FsPath(dir.path(), "Dir.TSE")), EISDIR);
    EXPECT_FALSE(f.IsOpen());

    ASSERT_EQ(f.OpenRegular(FsPath(dir.path(), "Plain.TSE")), 0);
    FileId id;
    TDateTime mod = 0;
    ASSERT_EQ(f.Stat(id, mod), 0);
    EXPECT_EQ(id.size, 9);
    FileId byName;
    ASSERT_EQ(FileIdentity(FsPath(dir.path(), "Plain.TSE"), byName), 0);
    EXPECT_EQ(id, byName);
    std::string bytes;
    ASSERT_EQ(f.Read(bytes, 100), 0);
    EXPECT_EQ(bytes, "CMD=BON\r\n");
}

TEST_F(JobEntries, CreateReplacesAFifoOrLinkAndNeverWritesThroughIt)
{
    Put("target.txt", "keep");
    ASSERT_EQ(::symlink(Raw("target.txt").constData(), Raw("A.SIG").constData()), 0);
    ASSERT_EQ(::mkfifo(Raw("B.SIG").constData(), 0666), 0);
    ASSERT_EQ(::mkdir(Raw("C.SIG").constData(), 0777), 0);

    for (const char* name : {"A.SIG", "B.SIG"}) {
        File f;
        ASSERT_EQ(f.Create(FsPath(dir.path(), name)), 0) << name;
        ASSERT_EQ(f.WriteLine("*EOF*"), 0);
        ASSERT_EQ(f.Close(), 0);
        struct stat st;
        ASSERT_EQ(::lstat(Raw(name).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
    }
    std::string target;
    ASSERT_EQ(ReadFileBytes(FsPath(dir.path(), "target.txt"), target), 0);
    EXPECT_EQ(target, "keep");

    File f;
    EXPECT_NE(f.Create(FsPath(dir.path(), "C.SIG")), 0);  // a directory is never removed
    struct stat st;
    EXPECT_EQ(::lstat(Raw("C.SIG").constData(), &st), 0);
}

TEST_F(JobEntries, NamesKeepTheirBytesAndShowAsWindows1252)
{
    Put("K\xe4sse.TSE", "x");
    Put("Kasse\xc3\xa4.TSE", "x");  // valid UTF-8
    Put("other.txt", "x");
    QList<QByteArray> names;
    ASSERT_EQ(FindEntries(dir.path(), "*.TSE", names), 0);
    ASSERT_EQ(names.size(), 2);
    EXPECT_TRUE(names.contains("K\xe4sse.TSE"));
    EXPECT_TRUE(names.contains("Kasse\xc3\xa4.TSE"));
    EXPECT_EQ(DisplayName("K\xe4sse.TSE"), QString::fromUtf8("K\xc3\xa4sse.TSE"));
    EXPECT_EQ(DisplayName("Kasse\xc3\xa4.TSE"), QString::fromUtf8("Kasse\xc3\xa4.TSE"));

    ASSERT_EQ(WriteFileBytes(FsPath(dir.path(), "K\xe4sse.SIG"), "answer"), 0);
    EXPECT_EQ(::access(Raw("K\xe4sse.SIG").constData(), F_OK), 0);
    ASSERT_EQ(DeleteFile(FsPath(dir.path(), "K\xe4sse.TSE")), 0);
    EXPECT_NE(::access(Raw("K\xe4sse.TSE").constData(), F_OK), 0);
    ::unlink(Raw("K\xe4sse.SIG").constData());  // a name QTemporaryDir cannot remove itself
}

TEST_F(JobEntries, TheInstanceLockIsHeldOnceAndGivenBack)
{
    const QString path = dir.filePath("Vok_TSE.lock");
    {
        InstanceLock first;
        ASSERT_EQ(first.Acquire(path), 0);
        InstanceLock second;
        EXPECT_EQ(second.Acquire(path), ErrSharingViolation);
    }
    InstanceLock again;
    EXPECT_EQ(again.Acquire(path), 0);
}

}  // namespace
