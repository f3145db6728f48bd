// Run-time internals: what the files of the run-time core share, and the
// interface it gives the script runner and the tests.
#pragma once

#include <chrono>
#include <cstdint>

namespace ui::detail {

// PostEvent / PostMenuEvent that return the event's sequence number.
uint64_t PostEventNumbered(int panel, int control, int event, int data1, int data2);
uint64_t PostMenuEventNumbered(int menuBar, int item);
// Waits until event `seq` has been dispatched and the dispatcher is idle
// again (waiting for events, possibly inside a callback that waits for the
// user or a thread function). False on time-out.
bool WaitUntilHandled(uint64_t seq, std::chrono::milliseconds timeout);
// True while some thread runs RunUserInterface.
bool DispatcherRunning();
// The first panel that was displayed and still exists (the main panel), or 0.
int FirstDisplayedPanel();
bool PanelHasCloseCallback(int panel);

}  // namespace ui::detail

#include <string>

namespace ui::detail {
// Finds a menu item by its name ("EXIT"), or by menu bar or menu and item
// name ("MENUBAR.EXIT", "FILE.EXIT"), among the loaded menu bars.
bool FindMenuItemByName(const std::string& name, int* menuBar, int* item);
// True for controls the resource marks as indicators (read-only for the user).
bool ControlIsIndicator(int panel, int control);
}  // namespace ui::detail

// ---- the run-time core's own state, shared by its files -----------------------------------
//
// runtime.cpp (state, life, front-end), events.cpp (event queue, dispatcher,
// long work), timers.cpp, thread_pool.cpp, controls.cpp (the control model)
// and panels.cpp (panels, resources, menu bars, popups) share these.
//
// Locks: `model` guards panels, menu bars and bitmaps; `queue` guards the
// event queue and the dispatcher's state; `pool` guards thread functions.
// No callback, front-end call or wait ever runs with one of them held, so a
// callback may call any function of the run-time.

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/frontend.h"
#include "platform/ui/resource.h"
#include "platform/ui/ui.h"

namespace ui::core {

using Clock = std::chrono::steady_clock;

// Text boxes keep the last part of what was written to them: an observer
// scrolls back through a night, not through a week.
constexpr size_t kTextBoxLimit = 1 << 20;
// A bitmap larger than this is refused (a corrupt size, not an image).
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 26;

struct Control {
    ControlState s;
    CtrlCallbackPtr callback = nullptr;
    Value defaultValue = 0;
    int defaultIndex = 0;
    // Timers
    Clock::time_point nextTick{};
    bool tickPending = false;
    // Holds of long work (HoldDimmed): while any is in force the control
    // shows dimmed and `ownDimmed` keeps what the program set.
    int holds = 0;
    bool ownDimmed = false;
};

struct Panel {
    PanelState s;  // its `controls` member stays empty; the controls live here:
    std::map<int, Control> controls;
    PanelCallbackPtr callback = nullptr;
};

struct HeldItem {
    int holds = 0;
    bool ownDimmed = false;
};

struct MenuBar {
    MenuBarState s;
    std::string name;
    std::map<int, MenuCallbackPtr> callbacks;
    std::map<int, HeldItem> held;  // items under a hold of long work
};

struct Hold {
    std::vector<ControlRef> controls;
    std::vector<MenuItemRef> items;
};

struct QueuedEvent {
    enum class Kind { Control, Menu, Call };
    Kind kind = Kind::Control;
    int panel = 0;  // panel, or menu bar for menu events
    int control = 0;  // control, or menu item
    int event = EVENT_NONE;
    int data1 = 0, data2 = 0;
    std::function<void()> call;
    uint64_t seq = 0;
    // A tick the timer thread queued (not one a script or test posted): it
    // is dropped if its timer was switched off while it waited.
    bool automaticTick = false;
};

struct PoolEntry {
    std::thread thread;
    bool done = false;  // guarded by Runtime::queueMutex (the dispatcher waits on it)
    int result = 0;
};

struct Runtime {
    // ---- model
    std::mutex modelMutex;
    uint64_t version = 1;
    int nextHandle = 1;
    int nextPlot = 1;
    std::map<int, Panel> panels;
    std::map<int, MenuBar> menuBars;
    std::map<int, std::shared_ptr<const PictureImage>> bitmaps;
    std::map<int, Hold> holds;
    int nextHold = 1;
    std::vector<int> displayOrder;  // panels in the order they were first shown
    std::string statusBoxName;
    int statusPanel = 0, statusControl = 0;
    std::atomic<bool> refreshPending{false};
    std::mutex frontEndMutex;
    std::atomic<FrontEnd*> frontEnd{nullptr};

    // ---- callbacks by name
    std::mutex callbackMutex;
    std::map<std::string, CtrlCallbackPtr> callbacks;
    std::map<std::string, MenuCallbackPtr> menuCallbacks;

    // ---- event queue and dispatcher
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<QueuedEvent> queue;
    uint64_t postedSeq = 0;
    uint64_t dispatchedSeq = 0;
    bool dispatcherIdle = false;
    // The last event dispatched when the dispatcher last went idle: every
    // event up to it has been dealt with (its callback returned or waits).
    uint64_t idleSeq = 0;
    bool quitRequested = false;
    int quitCode = 0;
    int runDepth = 0;
    uint64_t commitCount = 0;
    int lastCommitPanel = 0, lastCommitControl = 0;
    std::thread::id dispatchThread{};

    // ---- thread pool
    std::mutex poolMutex;
    int nextFunctionId = 1;
    std::map<int, std::shared_ptr<PoolEntry>> pool;

    // ---- timers
    std::mutex timerMutex;
    std::condition_variable timerWake;
    std::thread timerThread;
    bool timerStop = false;
    std::atomic<bool> automaticTimers{true};
    bool initialised = false;
};

Runtime& R();

inline thread_local std::string lastLoadError;
// True on the threads of the thread pool: they never take the dispatch role.
inline thread_local bool t_poolThread = false;

// ---- the control model (controls.cpp; the ...Locked ones with modelMutex held)

Panel* FindPanelLocked(int handle);
Control* FindControlLocked(int panel, int control, int* status);
void TouchControl(Control& c);
void TouchPanel(Panel& p);
// Tells the front-end that the model changed (once until it takes the changes).
void NotifyFrontEnd();
bool IsNumeric(const ControlState& s);
bool IsText(const ControlState& s);
bool IsBinary(const ControlState& s);
bool IsList(const ControlState& s);
double AsDouble(const Value& v);
int ToInt(double d);
bool HasRange(const ControlState& s);
void StoreNumber(ControlState& s, double value);
void TrimTextBox(ControlState& s);
void AppendText(ControlState& s, const std::string& text, bool warning);
bool SameKind(const Value& a, ValueType type);
Value Coerce(const Value& v, ValueType type);
bool ValuesEqual(const Value& a, const Value& b);
int SetValue(Control& c, const Value& v);
int GetValue(const Control& c, Value* out);

// Runs `change` on a control under the model lock; marks it changed and tells
// the front-end when `change` succeeds (returns >= 0).
template <class F>
int ChangeControl(int panel, int control, F change) {
    int status = 0;
    {
        std::lock_guard lock(R().modelMutex);
        Control* c = FindControlLocked(panel, control, &status);
        if (!c) return status;
        status = change(*c);
        if (status < 0) return status;
        TouchControl(*c);
    }
    NotifyFrontEnd();
    return status;
}

// Reads a control under the model lock.
template <class F>
int ReadControl(int panel, int control, F read) {
    int status = 0;
    std::lock_guard lock(R().modelMutex);
    Control* c = FindControlLocked(panel, control, &status);
    if (!c) return status;
    return read(*c);
}

template <class F>
int ChangePanel(int panel, F change) {
    int status = 0;
    {
        std::lock_guard lock(R().modelMutex);
        Panel* p = FindPanelLocked(panel);
        if (!p) return UIE_BAD_PANEL_HANDLE;
        status = change(*p);
        if (status < 0) return status;
        TouchPanel(*p);
    }
    NotifyFrontEnd();
    return status;
}

template <class Number>
int GetNumber(int panel, int control, Number* out) {
    if (!out) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        Value v;
        int status = GetValue(c, &v);
        if (status < 0) return status;
        if (std::holds_alternative<std::string>(v)) return UIE_TYPE_MISMATCH;
        if constexpr (std::is_same_v<Number, int>) *out = ToInt(AsDouble(v));
        else *out = static_cast<Number>(AsDouble(v));
        return 0;
    });
}

// ---- panels and menu bars (panels.cpp)

MenuItemState* FindMenuItemLocked(MenuBar& bar, int item);
std::filesystem::path ResolveResourcePath(const std::string& file);
bool LoadResource(const std::string& file, detail::ResourceFile* resource);
bool CallbacksKnownLocked(const detail::PanelTemplate& panel, const std::string& file);
bool BindCallbacks(const detail::PanelTemplate& panel, const std::string& file);
CtrlCallbackPtr CallbackNamed(const std::string& name);
void ScreenSizeOrDefault(int* height, int* width);
int InstantiatePanel(const detail::PanelTemplate& t, int parent, int tabControl, int pageIndex,
                     int screenHeight, int screenWidth, const std::string& statusBox);
void CollectPanelTree(int handle, std::vector<int>* out);

// ---- event queue and dispatcher (events.cpp)

bool IsUserInput(int event);
bool PanelDimmedLocked(const Panel* p);
bool MenuItemDimmedLocked(MenuBar& bar, int item);
void Dispatch(const QueuedEvent& ev);
bool ClaimDispatch();
uint64_t Enqueue(QueuedEvent ev);

// Dispatches events until `done` (evaluated with queueMutex held) is true.
// With `untilSeq` set, events posted after that number are left queued and
// the loop also ends when the queue holds no older event.
template <class Done>
void DispatchUntil(Done done, uint64_t untilSeq = UINT64_MAX) {
    Runtime& r = R();
    std::unique_lock lock(r.queueMutex);
    for (;;) {
        if (done()) return;
        if (!r.queue.empty() && r.queue.front().seq <= untilSeq) {
            QueuedEvent ev = std::move(r.queue.front());
            r.queue.pop_front();
            r.dispatchedSeq = ev.seq;
            lock.unlock();
            Dispatch(ev);
            lock.lock();
            continue;
        }
        if (untilSeq != UINT64_MAX) return;
        r.dispatcherIdle = true;
        r.idleSeq = r.dispatchedSeq;
        r.queueChanged.notify_all();  // scripts wait for the dispatcher to go idle
        r.queueChanged.wait(lock);
        r.dispatcherIdle = false;
    }
}

// ---- timers (timers.cpp)

void StartTimerThread();
void StopTimerThread();

// Joins the timer thread when the process ends.
struct TimerThreadOwner {
    ~TimerThreadOwner() { StopTimerThread(); }
};

}  // namespace ui::core
