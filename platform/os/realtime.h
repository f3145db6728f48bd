// Real-time scheduling and locked memory for the threads and buffers of a
// scan. A scan takes a frame at every step while the stage dwells there; on
// a host shared with other work an ordinary thread can wait longer than the
// dwell for a processor, and a page of a series can be swapped out. Where the
// system allows it the scan's threads run under the FIFO real-time policy
// and the series stay in memory; where it does not, the caller is told why
// and the program goes on without.
#pragma once

#include <cstddef>
#include <string>

namespace os {

// Priorities of the FIFO policy (1..99) the program uses: the thread that
// takes the frames stands above the one that watches the scan program, so a
// frame request preempts the watcher.
inline constexpr int kAcquisitionPriority = 60;
inline constexpr int kScanWatchPriority = 50;

// Puts the calling thread under the FIFO real-time policy at `priority`
// for the lifetime of the object, and gives it its earlier policy back
// afterwards.
class RealTimeSection {
  public:
    explicit RealTimeSection(int priority);
    ~RealTimeSection();
    RealTimeSection(const RealTimeSection&) = delete;
    RealTimeSection& operator=(const RealTimeSection&) = delete;

    bool granted() const { return granted_; }
    // Why the system refused it ("" when granted).
    const std::string& refusal() const { return refusal_; }

  private:
    bool granted_ = false;
    std::string refusal_;
    int oldPolicy_ = 0;
    int oldPriority_ = 0;
};

// Keeps the pages of [data, data + bytes) in memory (faulting them in now)
// until UnlockMemory. Returns "" when locked, otherwise why not.
std::string LockMemory(const void* data, size_t bytes);
void UnlockMemory(const void* data, size_t bytes);

// Makes the two calls above refuse as an unprivileged system does (tests);
// false restores the system's own answer. PELU_REALTIME=0 in the
// environment refuses them as well.
void SetRealTimeRefused(bool refused);

}  // namespace os
