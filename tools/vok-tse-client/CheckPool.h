// A small pool of threads that checks batches of log messages while the
// reading thread goes on through the archive. The queue is bounded, so the
// reader waits instead of holding more of the archive than the pool can
// take; each thread keeps its own signature checker.
#pragma once

#include "vok-tse-client/PlainSignature.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vokclient {

struct MemberBatch {
    uint32_t archive = 0;
    std::vector<std::pair<std::string, ByteString>> members;  // name, data
};

class CheckPool {
public:
    using Work = std::function<void(const MemberBatch&, PlainSignatureChecker&)>;
    // threads 0: one per processor.
    CheckPool(unsigned threads, Work work);
    ~CheckPool();
    CheckPool(const CheckPool&) = delete;
    CheckPool& operator=(const CheckPool&) = delete;

    void Submit(MemberBatch batch);  // waits while the queue is full
    void Drain();                    // waits until every batch submitted is done

private:
    void Run();

    Work work_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<MemberBatch> queue_;
    size_t busy_ = 0;
    size_t capacity_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vokclient
