#include "jobs/AnswerBatch.h"

#include <cerrno>
#include <utility>

void TAnswerBatch::Add(TBatchedAnswer answer, int64_t nowMs)
{
    if (answers_.empty()) firstAt_ = nowMs;
    answers_.push_back(std::move(answer));
}

bool TAnswerBatch::ShouldClose(int64_t nowMs) const
{
    if (answers_.empty()) return false;
    return static_cast<int>(answers_.size()) >= maxAnswers_ || nowMs - firstAt_ >= maxWaitMs_;
}

std::vector<TBatchedAnswer> TAnswerBatch::Take()
{
    std::vector<TBatchedAnswer> taken;
    taken.swap(answers_);
    return taken;
}

void FlushAnswers(std::vector<TBatchedAnswer>& answers)
{
    // One flush per file, in a row: the file system's journal commits the
    // first one together with what the others wrote, so the later ones find
    // little left to do.
    for (TBatchedAnswer& a : answers) {
        a.flushErr = a.file.IsOpen() ? a.file.Sync() : EBADF;
        const int closeErr = a.file.IsOpen() ? a.file.Close() : 0;
        if (a.flushErr == 0) a.flushErr = closeErr;
    }
}
