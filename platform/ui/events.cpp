// The event queue and its dispatcher: posting events, dispatching them to
// the callbacks, the event loop, and long work (waits that keep the window
// answering, the holds that keep conflicting controls dimmed meanwhile).
#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"

namespace ui {
namespace core {

// Events a person causes on a control (as opposed to timer ticks and focus).
bool IsUserInput(int event) {
    switch (event) {
        case EVENT_COMMIT:
        case EVENT_VAL_CHANGED:
        case EVENT_LEFT_CLICK:
        case EVENT_LEFT_DOUBLE_CLICK:
        case EVENT_RIGHT_CLICK:
        case EVENT_KEYPRESS:
        case EVENT_EDIT_MODE_STATE_CHANGE:
        case EVENT_MOUSE_POINTER_MOVE: return true;
        default: return false;
    }
}

// A panel, or a panel it lies on (a tab page's parent), is dimmed.
bool PanelDimmedLocked(const Panel* p) {
    for (int depth = 0; p && depth < 16; ++depth) {
        if (p->s.dimmed) return true;
        p = p->s.parent ? FindPanelLocked(p->s.parent) : nullptr;
    }
    return false;
}

bool MenuItemDimmedLocked(MenuBar& bar, int item) {
    const MenuItemState* i = FindMenuItemLocked(bar, item);
    return i && i->dimmed;
}

void Dispatch(const QueuedEvent& ev) {
    Runtime& r = R();
    if (ev.kind == QueuedEvent::Kind::Call) {
        if (ev.call) ev.call();
        return;
    }
    if (ev.kind == QueuedEvent::Kind::Menu) {
        MenuCallbackPtr callback = nullptr;
        int panel = 0;
        {
            std::lock_guard lock(r.modelMutex);
            auto bar = r.menuBars.find(ev.panel);
            if (bar == r.menuBars.end()) return;
            if (MenuItemDimmedLocked(bar->second, ev.control)) return;
            auto it = bar->second.callbacks.find(ev.control);
            if (it != bar->second.callbacks.end()) callback = it->second;
            panel = bar->second.s.panel;
        }
        if (callback) callback(ev.panel, ev.control, nullptr, panel);
        std::lock_guard lock(r.queueMutex);
        ++r.commitCount;
        r.lastCommitPanel = ev.panel;
        r.lastCommitControl = ev.control;
        return;
    }
    CtrlCallbackPtr callback = nullptr;
    {
        std::lock_guard lock(r.modelMutex);
        Panel* p = FindPanelLocked(ev.panel);
        if (!p) return;
        if (ev.control == 0) {
            callback = p->callback;
        } else {
            auto it = p->controls.find(ev.control);
            if (it == p->controls.end()) return;
            callback = it->second.callback;
            if (ev.event == EVENT_TIMER_TICK) {
                it->second.tickPending = false;
                if (ev.automaticTick && !it->second.s.timerEnabled) return;
            }
            // Input queued before the control was dimmed does not act.
            if (IsUserInput(ev.event) && (it->second.s.dimmed || PanelDimmedLocked(p))) return;
        }
    }
    if (callback) callback(ev.panel, ev.control, ev.event, nullptr, ev.data1, ev.data2);
    if (ev.event == EVENT_COMMIT && ev.control != 0) {
        std::lock_guard lock(r.queueMutex);
        ++r.commitCount;
        r.lastCommitPanel = ev.panel;
        r.lastCommitControl = ev.control;
    }
}

// Claims the dispatch role for the calling thread if nobody holds it.
bool ClaimDispatch() {
    Runtime& r = R();
    std::lock_guard lock(r.queueMutex);
    if (r.dispatchThread == std::thread::id{}) r.dispatchThread = std::this_thread::get_id();
    return r.dispatchThread == std::this_thread::get_id();
}

uint64_t Enqueue(QueuedEvent ev) {
    Runtime& r = R();
    std::lock_guard lock(r.queueMutex);
    ev.seq = ++r.postedSeq;
    r.queue.push_back(std::move(ev));
    r.queueChanged.notify_all();
    return r.postedSeq;
}

}  // namespace core

using namespace core;

namespace detail {

uint64_t PostEventNumbered(int panel, int control, int event, int data1, int data2) {
    QueuedEvent ev;
    ev.panel = panel;
    ev.control = control;
    ev.event = event;
    ev.data1 = data1;
    ev.data2 = data2;
    return Enqueue(std::move(ev));
}

uint64_t PostMenuEventNumbered(int menuBar, int item) {
    QueuedEvent ev;
    ev.kind = QueuedEvent::Kind::Menu;
    ev.panel = menuBar;
    ev.control = item;
    return Enqueue(std::move(ev));
}

bool WaitUntilHandled(uint64_t seq, std::chrono::milliseconds timeout) {
    Runtime& r = R();
    std::unique_lock lock(r.queueMutex);
    // Handled once dispatched and the dispatcher waits again, or has ended
    // (the event quit the program).
    return r.queueChanged.wait_for(lock, timeout, [&] {
        return r.idleSeq >= seq ||
               (r.dispatchedSeq >= seq && (r.dispatcherIdle || r.runDepth == 0));
    });
}

bool DispatcherRunning() {
    Runtime& r = R();
    std::lock_guard lock(r.queueMutex);
    return r.runDepth > 0;
}

}  // namespace detail

// ---- event loop --------------------------------------------------------------------------

int RunUserInterface() {
    Runtime& r = R();
    if (!ClaimDispatch()) return UIE_NOT_INITIALIZED;
    {
        std::lock_guard lock(r.queueMutex);
        ++r.runDepth;
    }
    DispatchUntil([&] { return r.quitRequested; });
    std::lock_guard lock(r.queueMutex);
    r.quitRequested = false;
    if (--r.runDepth == 0) {
        r.dispatchThread = {};
        r.dispatcherIdle = false;
        r.queueChanged.notify_all();
    }
    return r.quitCode;
}

void QuitUserInterface(int code) {
    Runtime& r = R();
    std::lock_guard lock(r.queueMutex);
    r.quitRequested = true;
    r.quitCode = code;
    r.queueChanged.notify_all();
}

bool QuitRequested() {
    std::lock_guard lock(R().queueMutex);
    return R().quitRequested;
}

int ProcessSystemEvents() {
    if (!ClaimDispatch()) return 0;
    uint64_t until;
    {
        std::lock_guard lock(R().queueMutex);
        until = R().postedSeq;
    }
    DispatchUntil([] { return false; }, until);
    return 0;
}

int GetUserEvent(int wait, int* panel, int* control) {
    Runtime& r = R();
    if (!ClaimDispatch()) return EVENT_NONE;
    uint64_t start;
    {
        std::lock_guard lock(r.queueMutex);
        start = r.commitCount;
    }
    bool got = false;
    DispatchUntil([&] {
        if (r.commitCount != start) {
            got = true;
            return true;
        }
        return r.quitRequested || (!wait && r.queue.empty());
    });
    if (!got) return EVENT_NONE;
    std::lock_guard lock(r.queueMutex);
    if (panel) *panel = r.lastCommitPanel;
    if (control) *control = r.lastCommitControl;
    return EVENT_COMMIT;
}

void PostEvent(int panel, int control, int event, int eventData1, int eventData2) {
    detail::PostEventNumbered(panel, control, event, eventData1, eventData2);
}

void PostMenuEvent(int menuBar, int menuItem) { detail::PostMenuEventNumbered(menuBar, menuItem); }

void PostDeferredCall(std::function<void()> fn) {
    QueuedEvent ev;
    ev.kind = QueuedEvent::Kind::Call;
    ev.call = std::move(fn);
    Enqueue(std::move(ev));
}

bool IsDispatchThread() {
    std::lock_guard lock(R().queueMutex);
    return R().dispatchThread == std::this_thread::get_id();
}

void Delay(double seconds) { os::Delay(seconds); }

// ---- long work -----------------------------------------------------------------------------

namespace {

// Dispatches the user's events until `done`, or until `deadline`. Idle
// between events, so that scripts see the program waiting for them.
bool DispatchWithDeadline(const std::function<bool()>& done, Clock::time_point deadline,
                          Clock::duration poll) {
    Runtime& r = R();
    std::unique_lock lock(r.queueMutex);
    for (;;) {
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished) return true;
        if (!r.queue.empty()) {
            QueuedEvent ev = std::move(r.queue.front());
            r.queue.pop_front();
            r.dispatchedSeq = ev.seq;
            lock.unlock();
            Dispatch(ev);
            lock.lock();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        r.dispatcherIdle = true;
        r.idleSeq = r.dispatchedSeq;
        r.queueChanged.notify_all();
        r.queueChanged.wait_until(lock, std::min(deadline, now + poll));
        r.dispatcherIdle = false;
    }
}

Clock::duration RealDuration(double seconds) {
    if (!(seconds > 0)) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, 365.0 * 24 * 3600)));
}

}  // namespace

void DelayWithEvents(double seconds) {
    WaitWithEvents([] { return false; }, seconds, 0, 1000.0);
}

bool WaitWithEvents(const std::function<bool()>& done, double seconds, double minRealSeconds,
                    double pollMs) {
    const Clock::time_point deadline =
        Clock::now() + std::max(RealDuration(seconds * os::TimeScale()), RealDuration(minRealSeconds));
    const Clock::duration poll = std::max(RealDuration(pollMs / 1000.0),
                                          Clock::duration(std::chrono::microseconds(100)));
    // Only long work dispatches while it waits: its hold keeps the controls
    // that could start conflicting work dimmed. A short wait outside long
    // work keeps the user's events queued until its callback returns.
    if (!t_poolThread && WorkInProgress() && ClaimDispatch())
        return DispatchWithDeadline(done, deadline, poll);
    for (;;) {
        if (done()) return true;
        const Clock::time_point now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min(poll, deadline - now));
    }
}

int HoldDimmed(const std::vector<ControlRef>& controls, const std::vector<MenuItemRef>& items) {
    Runtime& r = R();
    int id;
    {
        std::lock_guard lock(r.modelMutex);
        id = r.nextHold++;
        Hold& hold = r.holds[id];
        for (const ControlRef& ref : controls) {
            int status = 0;
            Control* c = FindControlLocked(ref.panel, ref.control, &status);
            if (!c) continue;
            if (c->holds++ == 0) c->ownDimmed = c->s.dimmed;
            c->s.dimmed = true;
            TouchControl(*c);
            hold.controls.push_back(ref);
        }
        for (const MenuItemRef& ref : items) {
            auto bar = r.menuBars.find(ref.menuBar);
            if (bar == r.menuBars.end()) continue;
            MenuItemState* item = FindMenuItemLocked(bar->second, ref.item);
            if (!item) continue;
            HeldItem& held = bar->second.held[ref.item];
            if (held.holds++ == 0) held.ownDimmed = item->dimmed;
            item->dimmed = true;
            bar->second.s.version = ++r.version;
            hold.items.push_back(ref);
        }
    }
    NotifyFrontEnd();
    return id;
}

void ReleaseHold(int hold) {
    Runtime& r = R();
    {
        std::lock_guard lock(r.modelMutex);
        auto it = r.holds.find(hold);
        if (it == r.holds.end()) return;
        for (const ControlRef& ref : it->second.controls) {
            int status = 0;
            Control* c = FindControlLocked(ref.panel, ref.control, &status);
            if (!c || c->holds <= 0) continue;
            if (--c->holds == 0) c->s.dimmed = c->ownDimmed;
            TouchControl(*c);
        }
        for (const MenuItemRef& ref : it->second.items) {
            auto bar = r.menuBars.find(ref.menuBar);
            if (bar == r.menuBars.end()) continue;
            auto held = bar->second.held.find(ref.item);
            MenuItemState* item = FindMenuItemLocked(bar->second, ref.item);
            if (held == bar->second.held.end() || !item) continue;
            if (--held->second.holds == 0) {
                item->dimmed = held->second.ownDimmed;
                bar->second.held.erase(held);
            }
            bar->second.s.version = ++r.version;
        }
        r.holds.erase(it);
    }
    NotifyFrontEnd();
}

bool WorkInProgress() {
    std::lock_guard lock(R().modelMutex);
    return !R().holds.empty();
}

}  // namespace ui
