// Timer controls: one thread queues a tick for every enabled timer that is
// due, never two for the same timer.
#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"

namespace ui {
namespace core {

void TimerLoop() {
    Runtime& r = R();
    std::unique_lock timerLock(r.timerMutex);
    while (!r.timerStop) {
        r.timerWake.wait_for(timerLock, std::chrono::milliseconds(5));
        if (r.timerStop) break;
        if (!r.automaticTimers.load()) continue;
        std::vector<QueuedEvent> due;
        {
            std::lock_guard lock(r.modelMutex);
            Clock::time_point now = Clock::now();
            for (auto& [handle, panel] : r.panels) {
                for (auto& [id, c] : panel.controls) {
                    if (c.s.type != CtrlType::Timer || !c.s.timerEnabled) continue;
                    auto period = std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(c.s.interval * os::TimeScale()));
                    if (period <= Clock::duration::zero()) period = std::chrono::milliseconds(1);
                    if (c.nextTick == Clock::time_point{}) c.nextTick = now + period;
                    if (now < c.nextTick) continue;
                    // A tick that is still queued is not queued twice: a busy
                    // dispatcher gets one tick, not a backlog.
                    c.nextTick = std::max(c.nextTick + period, now);
                    if (c.tickPending) continue;
                    c.tickPending = true;
                    QueuedEvent ev;
                    ev.panel = handle;
                    ev.control = id;
                    ev.event = EVENT_TIMER_TICK;
                    ev.automaticTick = true;
                    due.push_back(std::move(ev));
                }
            }
        }
        timerLock.unlock();
        for (QueuedEvent& ev : due) Enqueue(std::move(ev));
        timerLock.lock();
    }
}

void StartTimerThread() {
    Runtime& r = R();
    std::lock_guard lock(r.timerMutex);
    if (r.timerThread.joinable()) return;
    r.timerStop = false;
    r.timerThread = std::thread(TimerLoop);
}

void StopTimerThread() {
    Runtime& r = R();
    {
        std::lock_guard lock(r.timerMutex);
        r.timerStop = true;
    }
    r.timerWake.notify_all();
    if (r.timerThread.joinable()) r.timerThread.join();
}

}  // namespace core

using namespace core;

void SetAutomaticTimers(bool on) { R().automaticTimers = on; }

}  // namespace ui
