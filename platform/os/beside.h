// A job run on a thread of its own beside the caller, for work that can
// overlap the caller's (a file's bytes prepared while the previous ones are
// written). The thread is owned: the object joins it when it goes, or at
// Join().
#pragma once

#include <functional>
#include <thread>

namespace os {

class Beside {
  public:
    explicit Beside(std::function<void()> job) : thread_(std::move(job)) {}
    ~Beside() { Join(); }
    Beside(const Beside&) = delete;
    Beside& operator=(const Beside&) = delete;

    void Join() {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
};

}  // namespace os
