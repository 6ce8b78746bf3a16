// The gate that spares the job pass re-reading an unchanged directory: it
// may skip a read only while nothing can have been added since the last
// read that found nothing.
#include "platform/Monotonic.h"
#include "platform/ScanGate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace plat;

namespace {

class ScanGateTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString dir;
    int64_t nowMs = 1000000;

    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        dir = root.filePath("TSE");
        ASSERT_TRUE(QDir().mkdir(dir));
        SetMonotonicOverride([this] { return nowMs; });
    }
    void TearDown() override { SetMonotonicOverride(nullptr); }

    void Touch(const QString& path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // A read that found nothing; the gate is then armed.
    void EmptyScan(ScanGate& gate)
    {
        ASSERT_TRUE(gate.ScanNeeded());
        gate.ScanDone(true);
    }
};

}  // namespace

TEST_F(ScanGateTest, AfterAnEmptyScanOnlyANewNameNeedsTheNextRead)
{
    ScanGate gate(dir);
    EmptyScan(gate);
    ASSERT_TRUE(gate.Watching()) << "the test folder is on a local file system";
    EXPECT_FALSE(gate.ScanNeeded());
    EXPECT_FALSE(gate.ScanNeeded());

    // A register writes its job under a temporary name and renames it.
    Touch(dir + "/.KASSE-1.tmp");
    EXPECT_TRUE(gate.ScanNeeded());
    gate.ScanDone(true);  // the temporary name is no job
    EXPECT_FALSE(gate.ScanNeeded());
    ASSERT_TRUE(QFile::rename(dir + "/.KASSE-1.tmp", dir + "/KASSE-1.TSE"));
    EXPECT_TRUE(gate.ScanNeeded());

    // A read that found a job never lets the next be skipped, even with no
    // change between them.
    gate.ScanDone(false);
    EXPECT_TRUE(gate.ScanNeeded());
    EXPECT_TRUE(gate.ScanNeeded()) << "no ScanDone after the last read: nothing is known of it";
}

TEST_F(ScanGateTest, AChangeDuringTheReadIsKeptForTheNextCall)
{
    ScanGate gate(dir);
    ASSERT_TRUE(gate.ScanNeeded());
    Touch(dir + "/KASSE-2.TSE");  // comes after the gate was asked, as the read runs
    gate.ScanDone(true);          // the read missed it
    EXPECT_TRUE(gate.ScanNeeded());
    gate.ScanDone(true);
    EXPECT_FALSE(gate.ScanNeeded());
    gate.ScanDone(false);  // after a skip: changes nothing
    EXPECT_FALSE(gate.ScanNeeded());
}

TEST_F(ScanGateTest, ChangedDirectoryTimesAskForAReadAndTheFullScanStillComes)
{
    Touch(dir + "/KASSE-3.SIG");
    // The directory's times are set an hour back, so that the removal below
    // changes them even on a file system whose clock ticks coarser than the
    // test runs.
    const struct timespec hourAgo[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(dir).constData(), hourAgo, 0), 0);
    ScanGate gate(dir);
    EmptyScan(gate);
    // An answer collected: no name is added, but the directory's times
    // changed, and they are a second witness beside the reports.
    ASSERT_TRUE(QFile::remove(dir + "/KASSE-3.SIG"));
    EXPECT_TRUE(gate.ScanNeeded());
    gate.ScanDone(true);
    EXPECT_FALSE(gate.ScanNeeded());

    nowMs += ScanGate::kFullScanMs - 1;
    EXPECT_FALSE(gate.ScanNeeded());
    nowMs += 1;
    EXPECT_TRUE(gate.ScanNeeded());
}

TEST_F(ScanGateTest, ADirectoryReplacedUnderItsNameIsReadAndWatchedAnew)
{
    ScanGate gate(dir);
    EmptyScan(gate);
    ASSERT_TRUE(QDir().rename(dir, root.filePath("old")));
    ASSERT_TRUE(QDir().mkdir(dir));
    EXPECT_TRUE(gate.ScanNeeded());
    gate.ScanDone(true);
    EXPECT_FALSE(gate.ScanNeeded());
    Touch(dir + "/KASSE-4.TSE");
    EXPECT_TRUE(gate.ScanNeeded()) << "the new directory is watched";
    gate.ScanDone(false);

    // Without a directory every call asks for the read (which reports the
    // error).
    ScanGate missing(root.filePath("none"));
    EmptyScan(missing);
    EXPECT_TRUE(missing.ScanNeeded());
}

// During a pass: only a job file coming in asks for a new read, not the
// pass's own answers or the names its deletions set aside; and whatever
// was reported makes the next ScanNeeded read.
TEST_F(ScanGateTest, AJobFileThatComesInDuringAPassIsReported)
{
    ScanGate gate(dir);
    ASSERT_TRUE(gate.ScanNeeded());
    gate.ScanDone(false);  // the pass found jobs
    ASSERT_TRUE(gate.Watching());
    EXPECT_FALSE(gate.NameArrived(".TSE"));

    Touch(dir + "/KASSE-1.SIG");
    ASSERT_TRUE(QFile::rename(dir + "/KASSE-1.SIG", dir + "/.vok-del.KASSE-1.TSE"));
    EXPECT_FALSE(gate.NameArrived(".TSE"));

    Touch(dir + "/KASSE-2.part");
    ASSERT_TRUE(QFile::rename(dir + "/KASSE-2.part", dir + "/KASSE-2.tse"));
    EXPECT_TRUE(gate.NameArrived(".TSE"));
    EXPECT_FALSE(gate.NameArrived(".TSE"));  // taken
    EXPECT_TRUE(gate.ScanNeeded());
}
