// The answers of BON and TEXT jobs that a pass has written but not yet
// brought onto the disk. The pass signs its jobs one after the other and
// makes their answers durable together: one flush for the batch, then the
// jobs' deletions and journal records. A batch is bounded, so the first
// answer of a long run of jobs is not held up by the ones after it.
#pragma once

#include "jobs/JobPassState.h"

#include <cstdint>
#include <vector>

class TAnswerBatch {
public:
    static constexpr int kMaxAnswers = 64;
    static constexpr int64_t kMaxWaitMs = 50;  // from the batch's first answer

    explicit TAnswerBatch(int maxAnswers = kMaxAnswers, int64_t maxWaitMs = kMaxWaitMs)
        : maxAnswers_(maxAnswers), maxWaitMs_(maxWaitMs)
    {
    }

    // A job whose answer is written whole; nowMs on the monotonic clock.
    void Add(TPendingAnswer job, int64_t nowMs);
    // Whether the batch is to be flushed before the next job: it is full,
    // or its first answer has waited long enough.
    bool ShouldClose(int64_t nowMs) const;
    bool Empty() const { return jobs_.empty(); }
    // The jobs in the order they were added; the batch is empty after.
    std::vector<TPendingAnswer> Take();

private:
    int maxAnswers_;
    int64_t maxWaitMs_;
    int64_t firstAt_ = 0;
    std::vector<TPendingAnswer> jobs_;
};
