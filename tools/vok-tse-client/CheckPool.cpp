#include "vok-tse-client/CheckPool.h"

#include <algorithm>

namespace vokclient {

CheckPool::CheckPool(unsigned threads, Work work) : work_(std::move(work))
{
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    capacity_ = 2 * threads;
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

CheckPool::~CheckPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void CheckPool::Submit(MemberBatch batch)
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < capacity_; });
    queue_.push_back(std::move(batch));
    changed_.notify_all();
}

void CheckPool::Drain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

void CheckPool::Run()
{
    PlainSignatureChecker checker;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, nothing left
        MemberBatch batch = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        changed_.notify_all();
        lock.unlock();
        work_(batch, checker);
        lock.lock();
        --busy_;
        changed_.notify_all();
    }
}

}  // namespace vokclient
