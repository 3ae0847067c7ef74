#pragma once
// Lets a worker thread sleep until another thread says something changed,
// instead of waking on a fixed period to look.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrel {

class WakeSignal {
public:
    void Wake() {
        { std::lock_guard lock(mutex_); ++generation_; }
        changed_.notify_all();
    }
    // Blocks until Wake() is called after `seen` was read, or the timeout
    // passes; returns the generation to pass next time.
    template <typename Rep, typename Period>
    uint64_t WaitForChange(uint64_t seen, std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return generation_ != seen; });
        return generation_;
    }
    uint64_t Generation() {
        std::lock_guard lock(mutex_);
        return generation_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    uint64_t generation_ = 0;
};

}  // namespace kestrel
