// A batch of answers waiting for their common flush is bounded in size and
// in the time its first answer waits, so that answer is never held up by a
// long run of jobs after it.
#include "jobs/AnswerBatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TBatchedAnswer Answer(const char* job)
{
    TBatchedAnswer a;
    a.job.jobFile = job;
    return a;
}

TEST(AnswerBatch, ClosesWhenItsFirstAnswerHasWaitedLongEnough)
{
    TAnswerBatch batch;
    int64_t now = 1000000;  // monotonic milliseconds
    EXPECT_FALSE(batch.ShouldClose(now + 3600000)) << "an empty batch has nothing to flush";

    batch.Add(Answer("A_1.TSE"), now);
    now += 30;
    batch.Add(Answer("A_2.TSE"), now);  // a later answer does not move the limit
    EXPECT_FALSE(batch.ShouldClose(now));
    EXPECT_FALSE(batch.ShouldClose(1000000 + TAnswerBatch::kMaxWaitMs - 1));
    EXPECT_TRUE(batch.ShouldClose(1000000 + TAnswerBatch::kMaxWaitMs));

    const std::vector<TBatchedAnswer> taken = batch.Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].job.jobFile, "A_1.TSE");
    EXPECT_EQ(taken[1].job.jobFile, "A_2.TSE");
    EXPECT_TRUE(batch.Empty());
    EXPECT_FALSE(batch.ShouldClose(now + 3600000));

    // The next batch's time runs from its own first answer.
    now += 1000;
    batch.Add(Answer("A_3.TSE"), now);
    EXPECT_FALSE(batch.ShouldClose(now + TAnswerBatch::kMaxWaitMs - 1));
    EXPECT_TRUE(batch.ShouldClose(now + TAnswerBatch::kMaxWaitMs));
}

TEST(AnswerBatch, ClosesWhenFullHoweverFastTheJobsCame)
{
    TAnswerBatch batch;
    const int64_t now = 5000;
    for (int i = 1; i < TAnswerBatch::kMaxAnswers; ++i) {
        batch.Add(Answer("B.TSE"), now);
        ASSERT_FALSE(batch.ShouldClose(now)) << i << " answers";
    }
    batch.Add(Answer("B.TSE"), now);
    EXPECT_TRUE(batch.ShouldClose(now));
    EXPECT_EQ(batch.Take().size(), size_t(TAnswerBatch::kMaxAnswers));
}

TEST(AnswerBatch, AFlushReportsEachAnswerAndLeavesNoneOpen)
{
    QTemporaryDir dir;
    std::vector<TBatchedAnswer> answers;
    answers.push_back(Answer("A.TSE"));
    ASSERT_EQ(answers.back().file.Create(plat::FsPath(dir.path() + "/A.SIG")), 0);
    ASSERT_EQ(answers.back().file.WriteLine("*EOF*"), 0);
    answers.push_back(Answer("B.TSE"));  // its file could not be created: never open
    FlushAnswers(answers);
    EXPECT_EQ(answers[0].flushErr, 0);
    EXPECT_FALSE(answers[0].file.IsOpen());
    EXPECT_NE(answers[1].flushErr, 0);
    QFile written(dir.path() + "/A.SIG");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "*EOF*\r\n");
}

}  // namespace
