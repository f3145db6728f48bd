#include "platform/os/waitable.h"

#include <algorithm>
#include <chrono>

#include "platform/os/os.h"

namespace os {

void WaitableInt::store(int value) {
    {
        // Stored under the mutex so that a waiter between its check and its
        // wait cannot miss the change.
        std::lock_guard<std::mutex> lock(mutex_);
        value_ = value;
    }
    changed_.notify_all();
}

bool WaitableInt::WaitFor(int wanted, double milliseconds, const std::function<bool()>& abandon,
                          double checkMs) {
    using Clock = std::chrono::steady_clock;
    const auto real = [](double ms) {
        return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(std::max(ms, 0.0) * TimeScale()));
    };
    const auto deadline = Clock::now() + real(milliseconds);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (value_ == wanted) return true;
        if (abandon && abandon()) return false;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        changed_.wait_until(lock, std::min(deadline, now + real(checkMs)));
    }
}

}  // namespace os
