// A value that threads hand each other, with a wait for it to change: the
// thread that stores wakes the threads waiting, so nobody polls it with
// pauses. It reads and assigns like an atomic int, so code that only looks
// at the value needs no change.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace os {

class WaitableInt {
public:
    explicit WaitableInt(int value = 0) : value_(value) {}
    WaitableInt(const WaitableInt&) = delete;
    WaitableInt& operator=(const WaitableInt&) = delete;

    WaitableInt& operator=(int value) {
        store(value);
        return *this;
    }
    operator int() const { return load(); }
    int load() const { return value_.load(); }
    void store(int value);

    // Waits until the value is `wanted`, at most `milliseconds` of
    // instrument time, and gives up early once `abandon` says so (checked
    // when woken and every `checkMs` instrument milliseconds). True when the
    // value is `wanted`.
    bool WaitFor(int wanted, double milliseconds, const std::function<bool()>& abandon = {},
                 double checkMs = 10.0);

private:
    std::atomic<int> value_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace os
