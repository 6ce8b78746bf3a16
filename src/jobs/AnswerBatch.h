// The answers of BON and TEXT jobs that a pass has written but not yet
// brought onto the disk. The pass signs its jobs one after the other and
// makes their answers durable together: one flush for the batch, then the
// jobs' deletions and journal records. A batch is bounded, so the first
// answer of a long run of jobs is not held up by the ones after it.
#pragma once

#include "jobs/JobPassState.h"
#include "platform/Files.h"

#include <cstdint>
#include <vector>

struct TBatchedAnswer {
    TPendingAnswer job;  // all a later pass needs should the flush fail
    plat::File file;     // the answer, written whole, still open
    int flushErr = 0;    // result of bringing it onto the disk
};

class TAnswerBatch {
public:
    static constexpr int kMaxAnswers = 64;
    static constexpr int64_t kMaxWaitMs = 50;  // from the batch's first answer

    explicit TAnswerBatch(int maxAnswers = kMaxAnswers, int64_t maxWaitMs = kMaxWaitMs)
        : maxAnswers_(maxAnswers), maxWaitMs_(maxWaitMs)
    {
    }

    // nowMs on the monotonic clock.
    void Add(TBatchedAnswer answer, int64_t nowMs);
    // Whether the batch is to be flushed before the next job: it is full,
    // or its first answer has waited long enough.
    bool ShouldClose(int64_t nowMs) const;
    bool Empty() const { return answers_.empty(); }
    // The answers in the order they were added; the batch is empty after.
    std::vector<TBatchedAnswer> Take();

private:
    int maxAnswers_;
    int64_t maxWaitMs_;
    int64_t firstAt_ = 0;
    std::vector<TBatchedAnswer> answers_;
};

// Brings every answer onto the disk and closes it; each answer's result is
// in its flushErr. An answer whose flush failed is not flushed again (the
// kernel may have dropped the pages that failed): it is to be written anew.
void FlushAnswers(std::vector<TBatchedAnswer>& answers);
