#include "platform/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace plat;

namespace {

class Files : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

    std::string Contents(const QString& name) const
    {
        QFile f(Path(name));
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll().toStdString();
    }
    void Put(const QString& name, const std::string& bytes) const
    {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    std::vector<std::string> Lines(const QString& name) const
    {
        File f;
        EXPECT_EQ(f.OpenRead(Path(name)), 0);
        std::vector<std::string> lines;
        for (;;) {
            std::string line;
            bool atEnd = false;
            EXPECT_EQ(f.ReadLine(line, atEnd), 0);
            if (atEnd)
                break;
            lines.push_back(line);
        }
        return lines;
    }
};

using LineList = std::vector<std::string>;

}  // namespace

// ---- Lines ---------------------------------------------------------------

TEST_F(Files, WriteLineEndsEachLineWithCrLf)
{
    File f;
    ASSERT_EQ(f.Create(Path("a.txt")), 0);
    ASSERT_EQ(f.WriteLine("eins"), 0);
    ASSERT_EQ(f.WriteLine(""), 0);
    ASSERT_EQ(f.Write("zwei"), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(Contents("a.txt"), "eins\r\n\r\nzwei");
}

TEST_F(Files, ReadLineAcceptsLfAndCrLfAndKeepsALoneCr)
{
    Put("a.txt", "a\nb\r\n\r\nc\rd\nlast");
    EXPECT_EQ(Lines("a.txt"), (LineList{"a", "b", "", "c\rd", "last"}));
}

TEST_F(Files, ReadLineOnAnEmptyFileIsAtTheEndAtOnce)
{
    Put("empty.txt", "");
    EXPECT_TRUE(Lines("empty.txt").empty());
    Put("one.txt", "x\r\n");
    EXPECT_EQ(Lines("one.txt"), LineList{"x"});
}

TEST_F(Files, ReadLineJoinsLinesAcrossItsBuffer)
{
    // The CR falls on the last byte of the first buffer fill, its LF on the
    // first of the next: the line must still come without its CR.
    const std::string longLine(64 * 1024 - 1, 'x');
    const std::string longer(200 * 1000, 'y');
    Put("long.txt", longLine + "\r\n" + longer + "\nend");
    EXPECT_EQ(Lines("long.txt"), (LineList{longLine, longer, "end"}));
}

TEST_F(Files, ReadAfterReadLineContinuesWhereTheLineEnded)
{
    Put("mix.txt", "head\r\nABCDEFG");
    File f;
    ASSERT_EQ(f.OpenRead(Path("mix.txt")), 0);
    std::string line, bytes;
    bool atEnd = false;
    ASSERT_EQ(f.ReadLine(line, atEnd), 0);
    ASSERT_EQ(f.Read(bytes, 3), 0);
    EXPECT_EQ(bytes, "ABC");
    ASSERT_EQ(f.Read(bytes, 100), 0);
    EXPECT_EQ(bytes, "DEFG");  // fewer only at the end
    ASSERT_EQ(f.ReadAll(bytes), 0);
    EXPECT_EQ(bytes, "");
}

TEST_F(Files, WholeFileBytesAreCarriedUnchanged)
{
    const std::string bytes("\0\r\n\xFF\x80 TAR\n", 10);
    ASSERT_EQ(WriteFileBytes(Path("cer.tar"), bytes), 0);
    std::string back;
    ASSERT_EQ(ReadFileBytes(Path("cer.tar"), back), 0);
    EXPECT_EQ(back, bytes);
}

// ---- Opening, sharing ----------------------------------------------------

TEST_F(Files, MissingFilesGiveEnoent)
{
    File f;
    EXPECT_EQ(f.OpenRead(Path("none.txt")), ENOENT);
    EXPECT_EQ(f.OpenAppend(Path("none.txt")), ENOENT);
    EXPECT_FALSE(f.IsOpen());
    TDateTime t = 0;
    EXPECT_EQ(FileModTime(Path("none.txt"), t), ENOENT);
    EXPECT_EQ(DeleteFile(Path("none.txt")), ENOENT);
    std::string bytes;
    EXPECT_EQ(ReadFileBytes(Path("none.txt"), bytes), ENOENT);
    EXPECT_EQ(f.Create(Path("no-dir/x.txt")), ENOENT);
}

TEST_F(Files, ADirectoryDoesNotOpenAsAFile)
{
    ASSERT_EQ(CreateDir(Path("x.TSE")), 0);
    File f;
    EXPECT_EQ(f.OpenRead(Path("x.TSE")), EISDIR);
    EXPECT_FALSE(f.IsOpen());
}

TEST_F(Files, AReaderIsRefusedWhileAWriterHoldsTheFile)
{
    File writer;
    ASSERT_EQ(writer.Create(Path("job.TSE")), 0);
    ASSERT_EQ(writer.WriteLine("BON"), 0);

    File reader;
    EXPECT_EQ(reader.OpenRead(Path("job.TSE")), ErrSharingViolation);
    EXPECT_FALSE(reader.IsOpen());
    File second;
    EXPECT_EQ(second.OpenAppend(Path("job.TSE")), ErrSharingViolation);

    ASSERT_EQ(writer.Close(), 0);
    EXPECT_EQ(reader.OpenRead(Path("job.TSE")), 0);
}

TEST_F(Files, AForeignExclusiveLockAlsoRefusesTheReader)
{
    Put("job.TSE", "BON\r\n");
    const int fd = ::open(QFile::encodeName(Path("job.TSE")).constData(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    File reader;
    EXPECT_EQ(reader.OpenRead(Path("job.TSE")), ErrSharingViolation);
    ::close(fd);
    EXPECT_EQ(reader.OpenRead(Path("job.TSE")), 0);
}

TEST_F(Files, ReadersShareButKeepWritersOutAndTheContentsWhole)
{
    Put("a.txt", "bleibt\r\n");
    File r1, r2, w;
    ASSERT_EQ(r1.OpenRead(Path("a.txt")), 0);
    EXPECT_EQ(r2.OpenRead(Path("a.txt")), 0);
    // The refused create must not have emptied the file under its readers.
    EXPECT_EQ(w.Create(Path("a.txt")), ErrSharingViolation);
    EXPECT_EQ(Contents("a.txt"), "bleibt\r\n");
    EXPECT_EQ(DeleteFile(Path("a.txt")), ErrSharingViolation);
    EXPECT_TRUE(FileExists(Path("a.txt")));
}

TEST_F(Files, CreateEmptiesAnExistingFileAndAppendAddsToIt)
{
    Put("a.txt", "old contents that are long");
    File f;
    ASSERT_EQ(f.Create(Path("a.txt")), 0);
    ASSERT_EQ(f.WriteLine("neu"), 0);
    ASSERT_EQ(f.Close(), 0);
    ASSERT_EQ(f.OpenAppend(Path("a.txt")), 0);
    ASSERT_EQ(f.WriteLine("mehr"), 0);
    ASSERT_EQ(f.Sync(), 0);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(Contents("a.txt"), "neu\r\nmehr\r\n");
}

TEST_F(Files, CreateReplacesASymbolicLinkAndLeavesItsTargetAlone)
{
    Put("target.txt", "geheim");
    ASSERT_EQ(::symlink(QFile::encodeName(Path("target.txt")).constData(),
                        QFile::encodeName(Path("answer.SIG")).constData()),
              0);
    File f;
    ASSERT_EQ(f.Create(Path("answer.SIG")), 0);
    ASSERT_EQ(f.WriteLine("OK"), 0);
    ASSERT_EQ(f.Close(), 0);

    EXPECT_EQ(Contents("target.txt"), "geheim");
    EXPECT_EQ(Contents("answer.SIG"), "OK\r\n");
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(Path("answer.SIG")).constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST_F(Files, OperationsOnAClosedFileFailWithEbadf)
{
    File f;
    std::string s;
    bool atEnd = false;
    EXPECT_EQ(f.ReadLine(s, atEnd), EBADF);
    EXPECT_EQ(f.Write("x"), EBADF);
    EXPECT_EQ(f.Close(), EBADF);
}

// ---- Directory entries ----------------------------------------------------

TEST_F(Files, ExistenceTellsFilesFromDirectoriesAndFollowsLinks)
{
    Put("f.txt", "x");
    ASSERT_EQ(CreateDir(Path("sub")), 0);
    EXPECT_EQ(CreateDir(Path("sub")), EEXIST);
    EXPECT_EQ(CreateDir(Path("a/b")), ENOENT);  // one level only
    ASSERT_EQ(::symlink("f.txt", QFile::encodeName(Path("link")).constData()), 0);
    ASSERT_EQ(::symlink("gone", QFile::encodeName(Path("dangling")).constData()), 0);

    EXPECT_TRUE(FileExists(Path("f.txt")));
    EXPECT_TRUE(FileExists(Path("link")));
    EXPECT_FALSE(FileExists(Path("dangling")));
    EXPECT_FALSE(FileExists(Path("sub")));
    EXPECT_TRUE(DirectoryExists(Path("sub")));
    EXPECT_FALSE(DirectoryExists(Path("f.txt")));
}

TEST_F(Files, DeleteRemovesTheFileUnlessTheTestSeamRefuses)
{
    Put("job.TSE", "x");
    SetDeleteFailureForTest(EACCES);
    EXPECT_EQ(DeleteFile(Path("job.TSE")), EACCES);
    EXPECT_TRUE(FileExists(Path("job.TSE")));
    SetDeleteFailureForTest(0);
    EXPECT_EQ(DeleteFile(Path("job.TSE")), 0);
    EXPECT_FALSE(FileExists(Path("job.TSE")));
}

TEST_F(Files, RenameNeverReplacesAnExistingFile)
{
    Put("a.txt", "a");
    Put("b.txt", "b");
    EXPECT_EQ(RenameFile(Path("a.txt"), Path("b.txt")), EEXIST);
    EXPECT_EQ(Contents("b.txt"), "b");
    EXPECT_EQ(RenameFile(Path("a.txt"), Path("c.txt")), 0);
    EXPECT_EQ(Contents("c.txt"), "a");
    EXPECT_FALSE(FileExists(Path("a.txt")));
}

TEST_F(Files, ModificationTimeIsLocalWithMilliseconds)
{
    Put("a.txt", "x");
    const qint64 ms = QDateTime(QDate(2026, 7, 1), QTime(13, 14, 15, 678)).toMSecsSinceEpoch();
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = ms / 1000;
    times[0].tv_nsec = times[1].tv_nsec = (ms % 1000) * 1000000 + 999;
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Path("a.txt")).constData(), times, 0), 0);

    TDateTime t = 0;
    ASSERT_EQ(FileModTime(Path("a.txt"), t), 0);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", t), "2026-07-01 13:14:15.678");
}

namespace {

TEST_F(Files, AJobFileIsDeletedOnlyWhileItIsTheFileThatWasRead)
{
    Put("K1.TSE", "alt");
    FileId read;
    ASSERT_EQ(FileIdentity(FsPath(Path("K1.TSE")), read), 0);

    // The client renames its next job over the name, same bytes even.
    Put("next.tmp", "alt");
    ASSERT_EQ(::rename(QFile::encodeName(Path("next.tmp")).constData(), QFile::encodeName(Path("K1.TSE")).constData()), 0);
    FileId now;
    ASSERT_EQ(FileIdentity(FsPath(Path("K1.TSE")), now), 0);
    EXPECT_FALSE(now == read);
    EXPECT_EQ(DeleteFileIfSame(dir.path(), "K1.TSE", read), ErrOtherFile);
    EXPECT_EQ(Contents("K1.TSE"), "alt");
    EXPECT_FALSE(QFile::exists(Path(QString::fromLatin1(SetAsideName("K1.TSE")))));

    // The file that was read goes, and nothing is left beside it.
    EXPECT_EQ(DeleteFileIfSame(dir.path(), "K1.TSE", now), 0);
    EXPECT_FALSE(QFile::exists(Path("K1.TSE")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    EXPECT_EQ(DeleteFileIfSame(dir.path(), "K1.TSE", now), ENOENT);

    // A renamed file keeps its identity: the set-aside step never breaks it.
    Put("R.TSE", "x");
    FileId before, after;
    ASSERT_EQ(FileIdentity(FsPath(Path("R.TSE")), before), 0);
    ASSERT_TRUE(QFile::rename(Path("R.TSE"), Path("S.TSE")));
    ASSERT_EQ(FileIdentity(FsPath(Path("S.TSE")), after), 0);
    EXPECT_EQ(before, after);
}

TEST_F(Files, ReservedRoomLeavesTheSizeAsItIs)
{
    File f;
    ASSERT_EQ(f.Create(Path("j")), 0);
    ASSERT_EQ(f.Write("abc\n"), 0);
    const int err = f.Reserve(64 * 1024);
    if (err == EOPNOTSUPP) GTEST_SKIP() << "this file system cannot reserve";
    ASSERT_EQ(err, 0);
    EXPECT_GE(f.RoomAhead(), 60 * 1024);
    ASSERT_EQ(f.Close(), 0);
    EXPECT_EQ(QFileInfo(Path("j")).size(), 4);
}

}  // namespace
