#include "jobs/AnswerBatch.h"

#include <utility>

void TAnswerBatch::Add(TPendingAnswer job, int64_t nowMs)
{
    if (jobs_.empty()) firstAt_ = nowMs;
    jobs_.push_back(std::move(job));
}

bool TAnswerBatch::ShouldClose(int64_t nowMs) const
{
    if (jobs_.empty()) return false;
    return static_cast<int>(jobs_.size()) >= maxAnswers_ || nowMs - firstAt_ >= maxWaitMs_;
}

std::vector<TPendingAnswer> TAnswerBatch::Take()
{
    std::vector<TPendingAnswer> taken;
    taken.swap(jobs_);
    return taken;
}
