// The job journal's file: what survives a reopen, what a torn or damaged
// record costs, and what compaction keeps.
#include "jobs/Journal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class JournalFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.path() + "/Vok_TSE.journal"; }

    QByteArray Bytes() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void SetBytes(const QByteArray& b)
    {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(b);
    }

    static TJournalEntry Entry(const QByteArray& job, uint32_t taNr)
    {
        TJournalEntry e;
        e.jobFile = job;
        e.sha256 = Sha256Hex(job.toStdString());
        e.kasId = "Kasse 01";
        e.cmd = 'B';
        e.taNr = taNr;
        e.startTime = "2026-12-09T10:00:00.000Z";
        e.serial = "0A1B";
        return e;
    }
};

TEST_F(JournalFile, OpenEntriesSurviveAReopenByteForByte)
{
    {
        TJournal j;
        ASSERT_EQ(j.Open(path()), 0);
        // Names and ids as other programs write them: 8-bit, blanks and the
        // record's own separators.
        TJournalEntry odd = Entry(QByteArray("K\xe4sse #1=%\r.TSE"), 7);
        odd.kasId = "K\xe4sse=1 #\r\n";
        odd.jobId = plat::FileId{2049, 1234567, 88, -5, 1765300000123456789};
        ASSERT_EQ(j.Started(odd), 0);
        ASSERT_EQ(j.Finished(odd.id, 0, "2026-12-09T10:00:01.000Z", 42, "ABCDEF"), 0);
        TJournalEntry done = Entry("Done.TSE", 8);
        ASSERT_EQ(j.Started(done), 0);
        ASSERT_EQ(j.Done(done.id), 0);
        TJournalEntry begun = Entry("Begun.TSE", 9);
        begun.cmd = 'T';
        ASSERT_EQ(j.Started(begun), 0);
    }
    // Every record is one line a tool can split.
    EXPECT_EQ(Bytes().count('\n'), 5);

    TJournal j;
    ASSERT_EQ(j.Open(path()), 0);
    EXPECT_EQ(j.SkippedRecords(), 0);
    ASSERT_EQ(j.OpenEntries().size(), 2u);
    const TJournalEntry& a = j.OpenEntries().begin()->second;
    EXPECT_EQ(a.jobFile, QByteArray("K\xe4sse #1=%\r.TSE"));
    EXPECT_EQ(a.kasId, "K\xe4sse=1 #\r\n");
    EXPECT_EQ(a.taNr, 7u);
    EXPECT_TRUE(a.finished);
    EXPECT_EQ(a.finishRes, 0);
    EXPECT_EQ(a.endTime, "2026-12-09T10:00:01.000Z");
    EXPECT_EQ(a.sigCounter, 42u);
    EXPECT_EQ(a.signature, "ABCDEF");
    EXPECT_EQ(a.serial, "0A1B");
    EXPECT_EQ(a.jobId, (plat::FileId{2049, 1234567, 88, -5, 1765300000123456789}));
    const TJournalEntry& b = std::next(j.OpenEntries().begin())->second;
    EXPECT_EQ(b.jobFile, "Begun.TSE");
    EXPECT_EQ(b.cmd, 'T');
    EXPECT_FALSE(b.finished);
    // An entry without its file's identity (older records) matches by name
    // and content; one with it only its own file.
    EXPECT_NE(j.Find("Begun.TSE", Sha256Hex("Begun.TSE"), plat::FileId{1, 2, 3, 4, 5}), nullptr);
    EXPECT_EQ(j.Find("Begun.TSE", Sha256Hex("other content"), {}), nullptr);
    EXPECT_EQ(j.Find(a.jobFile, a.sha256, plat::FileId{2049, 1234567, 88, -5, 0}), nullptr);
    EXPECT_NE(j.Find(a.jobFile, a.sha256, a.jobId), nullptr);
    EXPECT_NE(j.FindFile(a.jobId), nullptr);
    EXPECT_NE(j.FindTransaction("0A1B", 9), nullptr);
    EXPECT_EQ(j.FindTransaction("FFFF", 9), nullptr);

    // A new entry never takes the id of one still open.
    TJournalEntry next = Entry("Next.TSE", 10);
    ASSERT_EQ(j.Started(next), 0);
    EXPECT_GT(next.id, b.id);
}

TEST_F(JournalFile, ATornLastRecordIsIgnoredAndLaterRecordsStandOnTheirOwnLine)
{
    {
        TJournal j;
        ASSERT_EQ(j.Open(path()), 0);
        TJournalEntry e = Entry("A.TSE", 1);
        ASSERT_EQ(j.Started(e), 0);
    }
    // The process died inside the finish record's write.
    TJournalEntry finished = Entry("A.TSE", 1);
    finished.id = 1;
    finished.finished = true;
    const std::string finish = TJournal::FinishRecord(finished);
    SetBytes(Bytes() + QByteArray::fromStdString(finish.substr(0, finish.size() / 2)));

    {
        TJournal j;
        ASSERT_EQ(j.Open(path()), 0);
        EXPECT_EQ(j.SkippedRecords(), 1);
        ASSERT_EQ(j.OpenEntries().size(), 1u);
        EXPECT_FALSE(j.OpenEntries().begin()->second.finished);
        ASSERT_EQ(j.Finished(1, 0, "end", 5, "AA"), 0);
    }
    TJournal j;
    ASSERT_EQ(j.Open(path()), 0);
    EXPECT_EQ(j.SkippedRecords(), 0);
    ASSERT_EQ(j.OpenEntries().size(), 1u);
    EXPECT_TRUE(j.OpenEntries().begin()->second.finished);
    EXPECT_EQ(j.OpenEntries().begin()->second.sigCounter, 5u);
}

TEST_F(JournalFile, ARecordWithAWrongCrcIsSkippedTheOthersKept)
{
    {
        TJournal j;
        ASSERT_EQ(j.Open(path()), 0);
        for (uint32_t n = 1; n <= 3; ++n) {
            TJournalEntry e = Entry("J" + QByteArray::number(n) + ".TSE", n);
            ASSERT_EQ(j.Started(e), 0);
        }
    }
    QByteArray bytes = Bytes();
    const int second = bytes.indexOf("tanr=2");
    ASSERT_GT(second, 0);
    bytes[second + 5] = '3';  // a damaged block: still a number, not the one written
    SetBytes(bytes);
    // A line that is no record at all.
    SetBytes(Bytes() + "garbage without a checksum\n");

    TJournal j;
    ASSERT_EQ(j.Open(path()), 0);
    EXPECT_EQ(j.SkippedRecords(), 2);
    ASSERT_EQ(j.OpenEntries().size(), 2u);
    EXPECT_EQ(j.OpenEntries().begin()->second.taNr, 1u);
    EXPECT_EQ(std::next(j.OpenEntries().begin())->second.taNr, 3u);
}

TEST_F(JournalFile, CompactionKeepsWhatIsOpenAndBoundsTheFile)
{
    uint64_t openId = 0;
    {
        TJournal j(2000);
        ASSERT_EQ(j.Open(path()), 0);
        TJournalEntry keep = Entry("Keep.TSE", 1);
        ASSERT_EQ(j.Started(keep), 0);
        ASSERT_EQ(j.Finished(keep.id, 0, "end", 2, "BEEF"), 0);
        openId = keep.id;
        for (uint32_t n = 2; n < 200; ++n) {
            TJournalEntry e = Entry("Job.TSE", n);
            ASSERT_EQ(j.Started(e), 0);
            ASSERT_EQ(j.Finished(e.id, 0, "end", n, "00"), 0);
            ASSERT_EQ(j.Done(e.id), 0);
            // While the service runs, not only at the start.
            ASSERT_LT(Bytes().size(), 2000 + 1000);
        }
    }
    {
        TJournal big(1 << 30);  // reads without compacting
        ASSERT_EQ(big.Open(path()), 0);
        ASSERT_EQ(big.OpenEntries().size(), 1u);
    }
    TJournal j(100);
    ASSERT_EQ(j.Open(path()), 0);
    ASSERT_EQ(j.OpenEntries().size(), 1u);
    const TJournalEntry& e = j.OpenEntries().at(openId);
    EXPECT_EQ(e.jobFile, "Keep.TSE");
    EXPECT_TRUE(e.finished);
    EXPECT_EQ(e.signature, "BEEF");
    EXPECT_EQ(Bytes().count('\n'), 2);  // its start and its finish
    EXPECT_FALSE(QFile::exists(path() + ".tmp"));
}

TEST_F(JournalFile, AMissingJournalIsAnEmptyOne)
{
    TJournal j;
    ASSERT_EQ(j.Open(path()), 0);
    EXPECT_TRUE(j.OpenEntries().empty());
    EXPECT_TRUE(QFile::exists(path()));
    // A journal that cannot be written still knows its entries for this run.
    TJournal broken;
    EXPECT_NE(broken.Open(dir.path() + "/missing/dir/Vok_TSE.journal"), 0);
    TJournalEntry e = Entry("A.TSE", 1);
    EXPECT_NE(broken.ReadyForJob(), 0);  // so no transaction is begun
    EXPECT_NE(broken.Started(e), 0);
    EXPECT_NE(broken.Find("A.TSE", e.sha256, {}), nullptr);
}

TEST_F(JournalFile, AFailedCompactionLosesNoRecordAndStopsNoLaterOne)
{
    TJournal j(1500);
    ASSERT_EQ(j.Open(path()), 0);
    // The compaction's file beside the journal cannot be made.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Vok_TSE.journal.tmp"));
    uint64_t last = 0;
    for (uint32_t n = 1; n < 40; ++n) {
        TJournalEntry e = Entry("Job.TSE", n);
        ASSERT_EQ(j.Started(e), 0);
        ASSERT_EQ(j.Finished(e.id, 0, "end", n, "00"), 0);
        ASSERT_EQ(j.Done(e.id), 0) << n;
        ASSERT_EQ(j.ReadyForJob(), 0);
        last = e.id;
    }
    TJournalEntry open = Entry("Open.TSE", 40);
    ASSERT_EQ(j.Started(open), 0);
    EXPECT_GT(Bytes().size(), 1500);

    j.Close();
    {
        TJournal again(1 << 30);
        ASSERT_EQ(again.Open(path()), 0);
        EXPECT_EQ(again.SkippedRecords(), 0) << Bytes().toStdString();
        ASSERT_EQ(again.OpenEntries().size(), 1u);
        EXPECT_GT(again.OpenEntries().begin()->first, last);
    }

    // Once it can, it compacts again.
    ASSERT_TRUE(QDir(dir.path()).rmdir("Vok_TSE.journal.tmp"));
    ASSERT_EQ(j.Open(path()), 0);
    for (uint32_t n = 41; n < 80; ++n) {
        TJournalEntry e = Entry("Job.TSE", n);
        ASSERT_EQ(j.Started(e), 0);
        ASSERT_EQ(j.Done(e.id), 0);
    }
    EXPECT_LT(Bytes().size(), 1500 + 1000);
}

}  // namespace
