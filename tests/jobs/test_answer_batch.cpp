// A batch of answers waiting for their common flush is bounded in size and
// in the time its first answer waits, so that answer is never held up by a
// long run of jobs after it.
#include "jobs/AnswerBatch.h"

#include <gtest/gtest.h>

namespace {

TPendingAnswer Answer(const char* job)
{
    TPendingAnswer a;
    a.jobFile = job;
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

    const std::vector<TPendingAnswer> taken = batch.Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].jobFile, "A_1.TSE");
    EXPECT_EQ(taken[1].jobFile, "A_2.TSE");
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

}  // namespace
