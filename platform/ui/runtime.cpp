// The run-time core: the model of panels, controls and menu bars, the event
// queue and its dispatcher, timers, the thread pool and popups.
//
// Locks: `model` guards panels, menu bars and bitmaps; `queue` guards the
// event queue and the dispatcher's state; `pool` guards thread functions.
// No callback, front-end call or wait ever runs with one of them held, so a
// callback may call any function of the run-time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/os/os.h"
#include "platform/ui/frontend.h"
#include "platform/ui/resource.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/ui.h"

namespace ui {
namespace {

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

Runtime& R() {
    static Runtime runtime;
    return runtime;
}

thread_local std::string lastLoadError;
// True on the threads of the thread pool: they never take the dispatch role.
thread_local bool t_poolThread = false;

// ---- model helpers (call with modelMutex held) --------------------------------------------

Panel* FindPanelLocked(int handle) {
    auto it = R().panels.find(handle);
    return it == R().panels.end() ? nullptr : &it->second;
}

Control* FindControlLocked(int panel, int control, int* status) {
    Panel* p = FindPanelLocked(panel);
    if (!p) {
        *status = UIE_BAD_PANEL_HANDLE;
        return nullptr;
    }
    auto it = p->controls.find(control);
    if (it == p->controls.end()) {
        *status = UIE_BAD_CONTROL_ID;
        return nullptr;
    }
    return &it->second;
}

void TouchControl(Control& c) { c.s.version = ++R().version; }
void TouchPanel(Panel& p) { p.s.version = ++R().version; }

void NotifyFrontEnd() {
    // Held while the front-end is told, so that SetFrontEnd(nullptr) returns
    // only when no thread is still inside ModelChanged().
    std::lock_guard lock(R().frontEndMutex);
    FrontEnd* fe = R().frontEnd.load();
    if (fe && !R().refreshPending.exchange(true)) fe->ModelChanged();
}

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

bool IsNumeric(const ControlState& s) {
    return s.type == CtrlType::Numeric || s.type == CtrlType::Slider ||
           s.type == CtrlType::ProgressBar;
}
bool IsText(const ControlState& s) {
    return s.type == CtrlType::String || s.type == CtrlType::TextBox ||
           s.type == CtrlType::TextMessage;
}
bool IsBinary(const ControlState& s) {
    return s.type == CtrlType::Toggle || s.type == CtrlType::Lamp ||
           s.type == CtrlType::RadioButton;
}
bool IsList(const ControlState& s) {
    return s.type == CtrlType::Ring || s.type == CtrlType::ListBox ||
           s.type == CtrlType::Tree || s.type == CtrlType::RadioGroup;
}

double AsDouble(const Value& v) {
    if (auto i = std::get_if<int>(&v)) return *i;
    if (auto d = std::get_if<double>(&v)) return *d;
    return 0.0;
}

int ToInt(double d) {
    if (!std::isfinite(d)) return 0;
    d = std::round(d);
    if (d > 2147483647.0) return 2147483647;
    if (d < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(d);
}

bool HasRange(const ControlState& s) { return s.minValue < s.maxValue; }

// Stores a number into a numeric control, coerced into its range.
void StoreNumber(ControlState& s, double value) {
    if (HasRange(s)) value = std::clamp(value, s.minValue, s.maxValue);
    if (s.valueType == ValueType::Int) s.value = ToInt(value);
    else s.value = value;
}

// Keeps the last kTextBoxLimit bytes of a text box, from a line start; its
// warning marks move with the text.
void TrimTextBox(ControlState& s) {
    std::string& text = std::get<std::string>(s.value);
    if (text.size() <= kTextBoxLimit) return;
    size_t cut = text.size() - kTextBoxLimit;
    size_t newline = text.find('\n', cut);
    cut = newline == std::string::npos ? cut : newline + 1;
    text.erase(0, cut);
    std::vector<TextMark> kept;
    for (TextMark m : s.warnings) {
        if (m.end <= cut) continue;
        kept.push_back({m.begin > cut ? m.begin - cut : 0, m.end - cut});
    }
    s.warnings = std::move(kept);
}

// Appends to a text box; `warning` marks the new text as a warning.
void AppendText(ControlState& s, const std::string& text, bool warning) {
    std::string& box = std::get<std::string>(s.value);
    const size_t begin = box.size();
    box += text;
    if (warning && !text.empty()) {
        if (!s.warnings.empty() && s.warnings.back().end == begin)
            s.warnings.back().end = box.size();
        else
            s.warnings.push_back({begin, box.size()});
    }
    TrimTextBox(s);
}

bool SameKind(const Value& a, ValueType type) {
    switch (type) {
        case ValueType::Int: return std::holds_alternative<int>(a) || std::holds_alternative<double>(a);
        case ValueType::Double: return std::holds_alternative<int>(a) || std::holds_alternative<double>(a);
        case ValueType::Text: return std::holds_alternative<std::string>(a);
    }
    return false;
}

Value Coerce(const Value& v, ValueType type) {
    switch (type) {
        case ValueType::Int: return ToInt(AsDouble(v));
        case ValueType::Double: return AsDouble(v);
        case ValueType::Text: return v;
    }
    return v;
}

bool ValuesEqual(const Value& a, const Value& b) {
    if (std::holds_alternative<std::string>(a) || std::holds_alternative<std::string>(b))
        return a == b;
    return AsDouble(a) == AsDouble(b);
}

int SetValue(Control& c, const Value& v) {
    ControlState& s = c.s;
    if (IsNumeric(s)) {
        if (!SameKind(v, ValueType::Double)) return UIE_TYPE_MISMATCH;
        StoreNumber(s, AsDouble(v));
        return 0;
    }
    if (IsBinary(s)) {
        if (!SameKind(v, ValueType::Int)) return UIE_TYPE_MISMATCH;
        s.value = AsDouble(v) != 0 ? 1 : 0;
        return 0;
    }
    if (IsText(s)) {
        auto text = std::get_if<std::string>(&v);
        if (!text) return UIE_TYPE_MISMATCH;
        if (s.type == CtrlType::TextBox) {
            AppendText(s, *text, false);
        } else {
            s.value = *text;
        }
        return 0;
    }
    if (IsList(s)) {
        if (!SameKind(v, s.valueType)) return UIE_TYPE_MISMATCH;
        for (size_t i = 0; i < s.items.size(); ++i) {
            if (ValuesEqual(s.items[i].value, v)) {
                s.selected = static_cast<int>(i);
                return 0;
            }
        }
        return UIE_BAD_ARGUMENT;  // no item has that value
    }
    if (s.type == CtrlType::Tab) {
        if (!SameKind(v, ValueType::Int)) return UIE_TYPE_MISMATCH;
        int page = ToInt(AsDouble(v));
        if (page < 0 || page >= static_cast<int>(s.pages.size())) return UIE_INDEX_OUT_OF_RANGE;
        s.value = page;
        return 0;
    }
    return UIE_TYPE_MISMATCH;
}

int GetValue(const Control& c, Value* out) {
    const ControlState& s = c.s;
    if (IsList(s)) {
        if (s.selected < 0 || s.selected >= static_cast<int>(s.items.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *out = s.items[s.selected].value;
        return 0;
    }
    if (IsNumeric(s) || IsBinary(s) || IsText(s) || s.type == CtrlType::Tab) {
        *out = s.value;
        return 0;
    }
    return UIE_TYPE_MISMATCH;
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

// ---- dispatcher --------------------------------------------------------------------------

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

MenuItemState* FindMenuItemLocked(MenuBar& bar, int item);

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

uint64_t Enqueue(QueuedEvent ev) {
    Runtime& r = R();
    std::lock_guard lock(r.queueMutex);
    ev.seq = ++r.postedSeq;
    r.queue.push_back(std::move(ev));
    r.queueChanged.notify_all();
    return r.postedSeq;
}

// ---- timers ------------------------------------------------------------------------------

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

// Joins the timer thread when the process ends.
struct TimerThreadOwner {
    ~TimerThreadOwner() { StopTimerThread(); }
};

// ---- panel instantiation -------------------------------------------------------------------

std::filesystem::path ResolveResourcePath(const std::string& file) {
    std::filesystem::path path(file);
    if (path.is_absolute()) return path;
    std::filesystem::path beside = std::filesystem::path(os::ExecutableDirectory()) / path;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside;
    return path;  // relative to the working directory
}

bool LoadResource(const std::string& file, detail::ResourceFile* resource) {
    std::string error;
    if (!detail::ParseResourceFile(ResolveResourcePath(file).string(), resource, &error)) {
        lastLoadError = error;
        return false;
    }
    return true;
}

// Checks that every callback a panel names is registered (callbackMutex held).
bool CallbacksKnownLocked(const detail::PanelTemplate& panel, const std::string& file) {
    Runtime& r = R();
    auto known = [&](const std::string& name, const std::string& where) {
        if (name.empty() || r.callbacks.count(name)) return true;
        lastLoadError = file + ": " + where + ": unknown callback \"" + name + "\"";
        return false;
    };
    if (!known(panel.callbackName, "panel " + panel.name)) return false;
    for (const detail::ControlTemplate& c : panel.controls) {
        if (!known(c.callbackName, "panel " + panel.name + " control " + c.state.name)) return false;
        for (const detail::PanelTemplate& page : c.pages)
            if (!CallbacksKnownLocked(page, file)) return false;
    }
    return true;
}

bool BindCallbacks(const detail::PanelTemplate& panel, const std::string& file) {
    std::lock_guard lock(R().callbackMutex);
    return CallbacksKnownLocked(panel, file);
}

CtrlCallbackPtr CallbackNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    Runtime& r = R();
    std::lock_guard lock(r.callbackMutex);
    auto it = r.callbacks.find(name);
    return it == r.callbacks.end() ? nullptr : it->second;
}

void ScreenSizeOrDefault(int* height, int* width) {
    *height = 1080;
    *width = 1920;
    if (FrontEnd* fe = R().frontEnd.load()) fe->ScreenSize(height, width);
}

// Creates the panel and its tab pages (model lock held). Returns the handle.
int InstantiatePanel(const detail::PanelTemplate& t, int parent, int tabControl, int pageIndex,
                     int screenHeight, int screenWidth, const std::string& statusBox) {
    Runtime& r = R();
    int handle = r.nextHandle++;
    Panel& panel = r.panels[handle];
    panel.s.handle = handle;
    panel.s.parent = parent;
    panel.s.tabControl = tabControl;
    panel.s.pageIndex = pageIndex;
    panel.s.name = t.name;
    panel.s.title = t.title;
    panel.s.width = t.width;
    panel.s.height = t.height;
    panel.s.left = t.left.value_or((screenWidth - t.width) / 2);
    panel.s.top = t.top.value_or((screenHeight - t.height) / 2);
    panel.s.visible = pageIndex >= 0;  // tab pages show with their tab control
    panel.callback = CallbackNamed(t.callbackName);
    panel.s.hasCloseCallback = panel.callback != nullptr;
    panel.s.resizable = t.resizable;
    panel.s.minWidth = t.minWidth;
    panel.s.minHeight = t.minHeight;
    panel.s.maximized = t.maximized;
    TouchPanel(panel);
    for (const detail::ControlTemplate& ct : t.controls) {
        Control c;
        c.s = ct.state;
        c.callback = CallbackNamed(ct.callbackName);
        c.s.hasCallback = c.callback != nullptr;
        c.defaultValue = ct.defaultValue;
        c.defaultIndex = ct.defaultIndex;
        TouchControl(c);
        r.panels[handle].controls[c.s.id] = std::move(c);
    }
    for (const detail::ControlTemplate& ct : t.controls) {
        for (size_t i = 0; i < ct.pages.size(); ++i) {
            int page = InstantiatePanel(ct.pages[i], handle, ct.state.id, static_cast<int>(i),
                                        screenHeight, screenWidth, statusBox);
            Control& tab = r.panels[handle].controls[ct.state.id];
            tab.s.pages.push_back(page);
            TouchControl(tab);
        }
    }
    // The status box may sit on a tab page as well as on a panel.
    if (!statusBox.empty() && r.statusPanel == 0) {
        size_t dot = statusBox.find('.');
        if (dot != std::string::npos && statusBox.substr(0, dot) == t.name) {
            for (const auto& [id, c] : r.panels[handle].controls) {
                if (c.s.name == statusBox.substr(dot + 1)) {
                    r.statusPanel = handle;
                    r.statusControl = id;
                }
            }
        }
    }
    return handle;
}

void CollectPanelTree(int handle, std::vector<int>* out) {
    out->push_back(handle);
    for (const auto& [h, p] : R().panels)
        if (p.s.parent == handle) CollectPanelTree(h, out);
}

}  // namespace

// ---- internal interface for the script runner and tests -----------------------------------

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

int FirstDisplayedPanel() {
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    for (int handle : r.displayOrder)
        if (r.panels.count(handle)) return handle;
    return 0;
}

bool FindMenuItemByName(const std::string& name, int* menuBar, int* item) {
    std::string prefix, itemName = name;
    if (size_t dot = name.find('.'); dot != std::string::npos) {
        prefix = name.substr(0, dot);
        itemName = name.substr(dot + 1);
    }
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    for (const auto& [handle, bar] : r.menuBars) {
        for (const MenuState& menu : bar.s.menus) {
            if (!prefix.empty() && prefix != bar.name && prefix != menu.name) continue;
            for (const MenuItemState& i : menu.items)
                if (!i.separator && i.name == itemName) {
                    *menuBar = handle;
                    *item = i.id;
                    return true;
                }
        }
    }
    return false;
}

bool ControlIsIndicator(int panel, int control) {
    return ReadControl(panel, control, [](Control& c) { return c.s.indicator ? 1 : 0; }) == 1;
}

bool PanelHasCloseCallback(int panel) {
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    Panel* p = FindPanelLocked(panel);
    return p && p->callback;
}

}  // namespace detail

// ---- life --------------------------------------------------------------------------------

int InitRuntime() {
    // The runtime must outlive the owner of its timer thread: statics die in
    // the reverse order of their construction.
    Runtime& r = R();
    static TimerThreadOwner owner;
    {
        std::lock_guard lock(r.modelMutex);
        r.initialised = true;
    }
    StartTimerThread();
    return 0;
}

void ResetRuntime() {
    Runtime& r = R();
    // Thread functions first: they may still use panels.
    std::map<int, std::shared_ptr<PoolEntry>> pool;
    {
        std::lock_guard lock(r.poolMutex);
        pool.swap(r.pool);
    }
    for (auto& [id, entry] : pool)
        if (entry->thread.joinable()) entry->thread.join();
    {
        std::lock_guard lock(r.modelMutex);
        r.panels.clear();
        r.menuBars.clear();
        r.bitmaps.clear();
        r.holds.clear();
        r.displayOrder.clear();
        r.statusPanel = r.statusControl = 0;
        ++r.version;
    }
    {
        std::lock_guard lock(r.queueMutex);
        r.queue.clear();
        r.quitRequested = false;
        r.quitCode = 0;
        r.dispatchThread = {};
        r.dispatcherIdle = false;
        r.idleSeq = r.dispatchedSeq;
    }
    {
        std::lock_guard lock(r.callbackMutex);
        r.callbacks.clear();
        r.menuCallbacks.clear();
    }
    r.automaticTimers = true;
    NotifyFrontEnd();
}

void RegisterCallback(const std::string& name, CtrlCallbackPtr callback) {
    std::lock_guard lock(R().callbackMutex);
    R().callbacks[name] = callback;
}

void RegisterMenuCallback(const std::string& name, MenuCallbackPtr callback) {
    std::lock_guard lock(R().callbackMutex);
    R().menuCallbacks[name] = callback;
}

std::string LastLoadError() { return lastLoadError; }

std::string ErrorText(int code) {
    switch (code) {
        case UIE_NO_ERROR: return "No error";
        case UIE_NOT_INITIALIZED: return "The user-interface run-time is not initialised";
        case UIE_FILE_NOT_FOUND: return "Resource file not found";
        case UIE_BAD_RESOURCE_FILE: return "Resource file is not valid";
        case UIE_RESOURCE_NOT_FOUND: return "Resource not found in the file";
        case UIE_UNKNOWN_CALLBACK: return "Callback name is not registered";
        case UIE_BAD_PANEL_HANDLE: return "Panel handle is invalid";
        case UIE_BAD_CONTROL_ID: return "Control id is invalid";
        case UIE_BAD_MENU_HANDLE: return "Menu bar handle is invalid";
        case UIE_BAD_ITEM: return "Menu item is invalid";
        case UIE_TYPE_MISMATCH: return "Value type does not fit the control";
        case UIE_INDEX_OUT_OF_RANGE: return "Index out of range";
        case UIE_BAD_ATTRIBUTE: return "Attribute does not apply";
        case UIE_BAD_ARGUMENT: return "Invalid argument";
        case UIE_BAD_THREAD_FUNCTION_ID: return "Thread function id is invalid";
        case UIE_BAD_BITMAP: return "Bitmap is invalid";
        default: return "Unknown error " + std::to_string(code);
    }
}

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

void SetAutomaticTimers(bool on) { R().automaticTimers = on; }

// ---- front-end ---------------------------------------------------------------------------

void SetFrontEnd(FrontEnd* frontEnd) {
    {
        std::lock_guard lock(R().frontEndMutex);
        R().frontEnd = frontEnd;
        R().refreshPending = false;
    }
    NotifyFrontEnd();
}

FrontEnd* GetFrontEnd() { return R().frontEnd.load(); }

ModelChanges TakeModelChanges(uint64_t sinceVersion) {
    Runtime& r = R();
    ModelChanges changes;
    std::lock_guard lock(r.modelMutex);
    r.refreshPending = false;
    changes.version = r.version;
    for (const auto& [handle, panel] : r.panels) {
        changes.livePanels.push_back(handle);
        bool panelChanged = panel.s.version > sinceVersion;
        PanelState state = panel.s;
        for (const auto& [id, c] : panel.controls)
            if (c.s.version > sinceVersion) state.controls.push_back(c.s);
        if (panelChanged || !state.controls.empty()) changes.panels.push_back(std::move(state));
    }
    for (const auto& [handle, bar] : r.menuBars) changes.menuBars.push_back(bar.s);
    return changes;
}

// ---- panels --------------------------------------------------------------------------------

int LoadPanel(int parent, const std::string& file, int resourceNumber) {
    lastLoadError.clear();
    detail::ResourceFile resource;
    if (!LoadResource(file, &resource)) return UIE_BAD_RESOURCE_FILE;
    const detail::PanelTemplate* found = nullptr;
    for (const detail::PanelTemplate& p : resource.panels)
        if (p.resource == resourceNumber) found = &p;
    if (!found) {
        lastLoadError = file + ": no panel with resource number " + std::to_string(resourceNumber);
        return UIE_RESOURCE_NOT_FOUND;
    }
    if (!BindCallbacks(*found, file)) return UIE_UNKNOWN_CALLBACK;
    int screenHeight, screenWidth;
    ScreenSizeOrDefault(&screenHeight, &screenWidth);
    int handle;
    {
        std::lock_guard lock(R().modelMutex);
        if (parent != 0 && !FindPanelLocked(parent)) return UIE_BAD_PANEL_HANDLE;
        handle = InstantiatePanel(*found, parent, 0, -1, screenHeight, screenWidth,
                                  resource.statusBox);
    }
    NotifyFrontEnd();
    return handle;
}

int DisplayPanel(int panel) {
    return ChangePanel(panel, [&](Panel& p) {
        p.s.visible = true;
        auto& order = R().displayOrder;
        if (std::find(order.begin(), order.end(), panel) == order.end()) order.push_back(panel);
        return 0;
    });
}

int HidePanel(int panel) {
    return ChangePanel(panel, [](Panel& p) {
        p.s.visible = false;
        return 0;
    });
}

int DiscardPanel(int panel) {
    {
        std::lock_guard lock(R().modelMutex);
        if (!FindPanelLocked(panel)) return UIE_BAD_PANEL_HANDLE;
        std::vector<int> tree;
        CollectPanelTree(panel, &tree);
        for (int handle : tree) {
            R().panels.erase(handle);
            if (R().statusPanel == handle) R().statusPanel = R().statusControl = 0;
        }
        for (auto it = R().menuBars.begin(); it != R().menuBars.end();)
            it = std::find(tree.begin(), tree.end(), it->second.s.panel) != tree.end()
                     ? R().menuBars.erase(it)
                     : std::next(it);
        ++R().version;
    }
    NotifyFrontEnd();
    return 0;
}

int SetPanelAttribute(int panel, int attribute, int value) {
    int screenHeight = 0, screenWidth = 0;
    if (value == VAL_AUTO_CENTER) ScreenSizeOrDefault(&screenHeight, &screenWidth);
    return ChangePanel(panel, [&](Panel& p) {
        switch (attribute) {
            case ATTR_WIDTH:
                if (value <= 0) return UIE_BAD_ARGUMENT;
                p.s.width = value;
                return 0;
            case ATTR_HEIGHT:
                if (value <= 0) return UIE_BAD_ARGUMENT;
                p.s.height = value;
                return 0;
            case ATTR_LEFT:
                p.s.left = value == VAL_AUTO_CENTER ? (screenWidth - p.s.width) / 2 : value;
                return 0;
            case ATTR_TOP:
                p.s.top = value == VAL_AUTO_CENTER ? (screenHeight - p.s.height) / 2 : value;
                return 0;
            case ATTR_VISIBLE: p.s.visible = value != 0; return 0;
            case ATTR_DIMMED: p.s.dimmed = value != 0; return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int SetPanelAttribute(int panel, int attribute, const std::string& value) {
    if (attribute != ATTR_TITLE) return UIE_BAD_ATTRIBUTE;
    return ChangePanel(panel, [&](Panel& p) {
        p.s.title = value;
        return 0;
    });
}

int GetPanelAttribute(int panel, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    switch (attribute) {
        case ATTR_WIDTH: *value = p->s.width; return 0;
        case ATTR_HEIGHT: *value = p->s.height; return 0;
        case ATTR_LEFT: *value = p->s.left; return 0;
        case ATTR_TOP: *value = p->s.top; return 0;
        case ATTR_VISIBLE: *value = p->s.visible; return 0;
        case ATTR_DIMMED: *value = p->s.dimmed; return 0;
        case ATTR_PANEL_PARENT: *value = p->s.parent; return 0;
        default: return UIE_BAD_ATTRIBUTE;
    }
}

int GetPanelAttribute(int panel, int attribute, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    if (attribute == ATTR_TITLE) *value = p->s.title;
    else if (attribute == ATTR_CONSTANT_NAME) *value = p->s.name;
    else return UIE_BAD_ATTRIBUTE;
    return 0;
}

int SetPanelSize(int panel, int height, int width) {
    int status = SetPanelAttribute(panel, ATTR_HEIGHT, height);
    return status < 0 ? status : SetPanelAttribute(panel, ATTR_WIDTH, width);
}

int SetPanelPos(int panel, int top, int left) {
    int status = SetPanelAttribute(panel, ATTR_TOP, top);
    return status < 0 ? status : SetPanelAttribute(panel, ATTR_LEFT, left);
}

int GetScreenSize(int* height, int* width) {
    if (!height || !width) return UIE_BAD_ARGUMENT;
    ScreenSizeOrDefault(height, width);
    return 0;
}

int FindPanel(const std::string& panelName) {
    std::lock_guard lock(R().modelMutex);
    for (const auto& [handle, p] : R().panels)
        if (p.s.name == panelName) return handle;
    return UIE_RESOURCE_NOT_FOUND;
}

int FindControl(int panel, const std::string& controlName) {
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    for (const auto& [id, c] : p->controls)
        if (c.s.name == controlName) return id;
    return UIE_BAD_CONTROL_ID;
}

int GetStatusBox(int* panel, int* control) {
    std::lock_guard lock(R().modelMutex);
    if (R().statusPanel == 0) return UIE_RESOURCE_NOT_FOUND;
    if (panel) *panel = R().statusPanel;
    if (control) *control = R().statusControl;
    return 0;
}

// ---- control values ------------------------------------------------------------------------

int SetCtrlVal(int panel, int control, int value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, double value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, const std::string& value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, const char* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return SetCtrlVal(panel, control, std::string(value));
}

int GetCtrlVal(int panel, int control, int* value) { return GetNumber(panel, control, value); }
int GetCtrlVal(int panel, int control, float* value) { return GetNumber(panel, control, value); }
int GetCtrlVal(int panel, int control, double* value) { return GetNumber(panel, control, value); }

int GetCtrlVal(int panel, int control, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        Value v;
        int status = GetValue(c, &v);
        if (status < 0) return status;
        auto text = std::get_if<std::string>(&v);
        if (!text) return UIE_TYPE_MISMATCH;
        *value = *text;
        return 0;
    });
}

int GetCtrlVal(int panel, int control, char* buffer, size_t size) {
    if (!buffer || size == 0) return UIE_BAD_ARGUMENT;
    std::string text;
    int status = GetCtrlVal(panel, control, &text);
    if (status < 0) return status;
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return 0;
}

int DefaultCtrl(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (IsList(c.s)) {
            c.s.selected = c.s.items.empty() ? -1
                                             : std::clamp(c.defaultIndex, 0,
                                                          static_cast<int>(c.s.items.size()) - 1);
        } else if (c.s.type == CtrlType::TextBox) {
            c.s.value = std::string();
            c.s.warnings.clear();
        } else {
            c.s.value = c.defaultValue;
        }
        return 0;
    });
}

int ResetTextBox(int panel, int control, const std::string& text) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        c.s.value = text;
        c.s.warnings.clear();
        TrimTextBox(c.s);
        return 0;
    });
}

int AppendWarningText(int panel, int control, const std::string& text) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        AppendText(c.s, text, true);
        return 0;
    });
}

int GetTextBoxWarnings(int panel, int control, std::vector<std::string>* warnings) {
    if (!warnings) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        const std::string& text = std::get<std::string>(c.s.value);
        warnings->clear();
        for (const TextMark& m : c.s.warnings)
            warnings->push_back(text.substr(m.begin, m.end - m.begin));
        return 0;
    });
}

// ---- control attributes --------------------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        switch (attribute) {
            case ATTR_DIMMED:
                if (c.holds > 0) c.ownDimmed = value != 0;
                else s.dimmed = value != 0;
                return 0;
            case ATTR_VISIBLE: s.visible = value != 0; return 0;
            case ATTR_WIDTH:
                if (value < 0) return UIE_BAD_ARGUMENT;
                s.width = ToInt(value);
                return 0;
            case ATTR_HEIGHT:
                if (value < 0) return UIE_BAD_ARGUMENT;
                s.height = ToInt(value);
                return 0;
            case ATTR_LEFT: s.left = ToInt(value); return 0;
            case ATTR_TOP: s.top = ToInt(value); return 0;
            case ATTR_MIN_VALUE:
            case ATTR_MAX_VALUE:
                if (!IsNumeric(s)) return UIE_BAD_ATTRIBUTE;
                if (attribute == ATTR_MIN_VALUE) s.minValue = value;
                else s.maxValue = value;
                // A range set in two steps may pass through min > max; the
                // value is coerced only into a valid range.
                if (HasRange(s)) StoreNumber(s, AsDouble(s.value));
                return 0;
            case ATTR_ENABLED:
                if (s.type != CtrlType::Timer) return UIE_BAD_ATTRIBUTE;
                s.timerEnabled = value != 0;
                c.nextTick = {};
                return 0;
            case ATTR_INTERVAL:
                if (s.type != CtrlType::Timer) return UIE_BAD_ATTRIBUTE;
                if (!(value > 0)) return UIE_BAD_ARGUMENT;
                s.interval = value;
                c.nextTick = {};
                return 0;
            case ATTR_PICTURE_ZOOM:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (!(value >= 0) || value > 64) return UIE_BAD_ARGUMENT;
                s.pictureZoom = value;
                return 0;
            case ATTR_PICTURE_PALETTE:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (value != VAL_PALETTE_BITMAP && value != VAL_PALETTE_INVERTED &&
                    value != VAL_PALETTE_PERCEPTUAL)
                    return UIE_BAD_ARGUMENT;
                s.picturePalette = ToInt(value);
                return 0;
            case ATTR_SCALE_LOW:
            case ATTR_SCALE_HIGH:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (!std::isfinite(value)) return UIE_BAD_ARGUMENT;
                (attribute == ATTR_SCALE_LOW ? s.scaleLow : s.scaleHigh) = value;
                return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
}

int SetCtrlAttribute(int panel, int control, int attribute, const std::string& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        switch (attribute) {
            case ATTR_LABEL_TEXT:
                c.s.label = value;
                return 0;
            case ATTR_XNAME:
            case ATTR_YNAME:
                if (c.s.type != CtrlType::Graph) return UIE_BAD_ATTRIBUTE;
                (attribute == ATTR_XNAME ? c.s.xLabel : c.s.yLabel) = value;
                return 0;
            default:
                return UIE_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        const ControlState& s = c.s;
        switch (attribute) {
            case ATTR_DIMMED: *value = s.dimmed; return 0;
            case ATTR_VISIBLE: *value = s.visible; return 0;
            case ATTR_WIDTH: *value = s.width; return 0;
            case ATTR_HEIGHT: *value = s.height; return 0;
            case ATTR_LEFT: *value = s.left; return 0;
            case ATTR_TOP: *value = s.top; return 0;
            case ATTR_MIN_VALUE: *value = s.minValue; return 0;
            case ATTR_MAX_VALUE: *value = s.maxValue; return 0;
            case ATTR_ENABLED: *value = s.timerEnabled; return 0;
            case ATTR_INTERVAL: *value = s.interval; return 0;
            case ATTR_CTRL_TYPE: *value = static_cast<int>(s.type); return 0;
            case ATTR_NUM_ROWS: *value = static_cast<double>(s.cells.size()); return 0;
            case ATTR_NUM_COLUMNS: *value = static_cast<double>(s.columns.size()); return 0;
            case ATTR_PICTURE_ZOOM:
                *value = s.pictureZoom;
                return 0;
            case ATTR_PICTURE_PALETTE:
                *value = s.picturePalette;
                return 0;
            case ATTR_SCALE_LOW:
                *value = s.scaleLow;
                return 0;
            case ATTR_SCALE_HIGH:
                *value = s.scaleHigh;
                return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    double d = 0;
    int status = GetCtrlAttribute(panel, control, attribute, &d);
    if (status >= 0) *value = ToInt(d);
    return status;
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (attribute == ATTR_LABEL_TEXT) *value = c.s.label;
        else if (attribute == ATTR_CONSTANT_NAME) *value = c.s.name;
        else if (attribute == ATTR_XNAME && c.s.type == CtrlType::Graph)
            *value = c.s.xLabel;
        else if (attribute == ATTR_YNAME && c.s.type == CtrlType::Graph)
            *value = c.s.yLabel;
        else return UIE_BAD_ATTRIBUTE;
        return 0;
    });
}

int GetCtrlBoundingRect(int panel, int control, int* top, int* left, int* height, int* width) {
    return ReadControl(panel, control, [&](Control& c) {
        if (top) *top = c.s.top;
        if (left) *left = c.s.left;
        if (height) *height = c.s.height;
        if (width) *width = c.s.width;
        return 0;
    });
}

// ---- list controls -------------------------------------------------------------------------

namespace {

int InsertItem(int panel, int control, int index, const std::string& label, const Value& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (!IsList(s)) return UIE_TYPE_MISMATCH;
        if (s.items.empty() && s.selected < 0) s.valueType = std::holds_alternative<std::string>(value)
                                                                 ? ValueType::Text
                                                             : std::holds_alternative<int>(value)
                                                                 ? ValueType::Int
                                                                 : ValueType::Double;
        if (!SameKind(value, s.valueType)) return UIE_TYPE_MISMATCH;
        int count = static_cast<int>(s.items.size());
        if (index < -1 || index > count) return UIE_INDEX_OUT_OF_RANGE;
        int at = index == -1 ? count : index;
        s.items.insert(s.items.begin() + at, ListItem{label, Coerce(value, s.valueType)});
        if (s.selected < 0) s.selected = 0;
        else if (at <= s.selected && count > 0) ++s.selected;
        return 0;
    });
}

}  // namespace

int InsertListItem(int panel, int control, int index, const std::string& label, int value) {
    return InsertItem(panel, control, index, label, value);
}
int InsertListItem(int panel, int control, int index, const std::string& label, double value) {
    return InsertItem(panel, control, index, label, value);
}
int InsertListItem(int panel, int control, int index, const std::string& label,
                   const std::string& value) {
    return InsertItem(panel, control, index, label, value);
}

int DeleteListItem(int panel, int control, int index, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (!IsList(s)) return UIE_TYPE_MISMATCH;
        int size = static_cast<int>(s.items.size());
        if (index < 0 || index >= size) return size == 0 && index == 0 ? 0 : UIE_INDEX_OUT_OF_RANGE;
        int end = count < 0 ? size : std::min(size, index + count);
        s.items.erase(s.items.begin() + index, s.items.begin() + end);
        int remaining = static_cast<int>(s.items.size());
        if (s.selected >= end) s.selected -= end - index;
        else if (s.selected >= index) s.selected = std::min(index, remaining - 1);
        if (remaining == 0) s.selected = -1;
        return 0;
    });
}

int ClearListCtrl(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        c.s.items.clear();
        c.s.selected = -1;
        return 0;
    });
}

int GetNumListItems(int panel, int control, int* count) {
    if (!count) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        *count = static_cast<int>(c.s.items.size());
        return 0;
    });
}

int GetCtrlIndex(int panel, int control, int* index) {
    if (!index) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        *index = c.s.selected;
        return 0;
    });
}

int SetCtrlIndex(int panel, int control, int index) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        c.s.selected = index;
        return 0;
    });
}

int GetLabelFromIndex(int panel, int control, int index, std::string* label) {
    if (!label) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        *label = c.s.items[index].label;
        return 0;
    });
}

template <class Number>
static int ValueFromIndex(int panel, int control, int index, Number* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        const Value& v = c.s.items[index].value;
        if (std::holds_alternative<std::string>(v)) return UIE_TYPE_MISMATCH;
        if constexpr (std::is_same_v<Number, int>) *value = ToInt(AsDouble(v));
        else *value = AsDouble(v);
        return 0;
    });
}

int GetValueFromIndex(int panel, int control, int index, int* value) {
    return ValueFromIndex(panel, control, index, value);
}
int GetValueFromIndex(int panel, int control, int index, double* value) {
    return ValueFromIndex(panel, control, index, value);
}

int ConvertTreeToRadioGroup(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (c.s.type != CtrlType::Tree && c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        c.s.type = CtrlType::RadioGroup;
        if (c.s.selected < 0 && !c.s.items.empty()) c.s.selected = 0;
        return 0;
    });
}

int GetMarkedOption(int panel, int control, int* index) {
    if (!index) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        *index = c.s.selected;
        return 0;
    });
}

int MarkOption(int panel, int control, int index) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        c.s.selected = index;
        return 0;
    });
}

// ---- tables --------------------------------------------------------------------------------

namespace {

Value EmptyCell(ValueType type) {
    switch (type) {
        case ValueType::Int: return 0;
        case ValueType::Double: return 0.0;
        case ValueType::Text: return std::string();
    }
    return 0;
}

// The cell of a table (model lock held), or nullptr with *status set.
Value* CellOf(Control& c, Point cell, int* status, ValueType* type = nullptr) {
    if (c.s.type != CtrlType::Table) {
        *status = UIE_TYPE_MISMATCH;
        return nullptr;
    }
    if (cell.y < 1 || cell.y > static_cast<int>(c.s.cells.size()) || cell.x < 1 ||
        cell.x > static_cast<int>(c.s.columns.size())) {
        *status = UIE_INDEX_OUT_OF_RANGE;
        return nullptr;
    }
    if (type) *type = c.s.columns[cell.x - 1].type;
    return &c.s.cells[cell.y - 1][cell.x - 1];
}

int SetCell(int panel, int control, Point cell, const Value& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        int status = 0;
        ValueType type;
        Value* target = CellOf(c, cell, &status, &type);
        if (!target) return status;
        if (!SameKind(value, type)) return UIE_TYPE_MISMATCH;
        *target = Coerce(value, type);
        return 0;
    });
}

template <class Number>
int GetCellNumber(int panel, int control, Point cell, Number* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        int status = 0;
        Value* v = CellOf(c, cell, &status);
        if (!v) return status;
        if (std::holds_alternative<std::string>(*v)) return UIE_TYPE_MISMATCH;
        if constexpr (std::is_same_v<Number, int>) *value = ToInt(AsDouble(*v));
        else *value = static_cast<Number>(AsDouble(*v));
        return 0;
    });
}

}  // namespace

int InsertTableRows(int panel, int control, int row, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        int rows = static_cast<int>(s.cells.size());
        if (count < 0 || count > 100000) return UIE_BAD_ARGUMENT;
        if (row != -1 && (row < 1 || row > rows + 1)) return UIE_INDEX_OUT_OF_RANGE;
        int at = row == -1 ? rows : row - 1;
        std::vector<Value> empty;
        for (const TableColumn& column : s.columns) empty.push_back(EmptyCell(column.type));
        s.cells.insert(s.cells.begin() + at, count, empty);
        return 0;
    });
}

int DeleteTableRows(int panel, int control, int row, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        int rows = static_cast<int>(s.cells.size());
        if (rows == 0 && row == 1) return 0;
        if (row < 1 || row > rows) return UIE_INDEX_OUT_OF_RANGE;
        int end = count < 0 ? rows : std::min(rows, row - 1 + count);
        s.cells.erase(s.cells.begin() + (row - 1), s.cells.begin() + end);
        int left = static_cast<int>(s.cells.size());
        if (s.activeCell.y > left) s.activeCell.y = std::max(1, left);
        return 0;
    });
}

int SetTableCellVal(int panel, int control, Point cell, int value) {
    return SetCell(panel, control, cell, value);
}
int SetTableCellVal(int panel, int control, Point cell, double value) {
    return SetCell(panel, control, cell, value);
}
int SetTableCellVal(int panel, int control, Point cell, const std::string& value) {
    return SetCell(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, int* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, float* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, double* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        int status = 0;
        Value* v = CellOf(c, cell, &status);
        if (!v) return status;
        auto text = std::get_if<std::string>(v);
        if (!text) return UIE_TYPE_MISMATCH;
        *value = *text;
        return 0;
    });
}

int GetActiveTableCell(int panel, int control, Point* cell) {
    if (!cell) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        *cell = c.s.activeCell;
        return 0;
    });
}

int SetActiveTableCell(int panel, int control, Point cell) {
    return ChangeControl(panel, control, [&](Control& c) {
        int status = 0;
        if (!CellOf(c, cell, &status)) return status;
        c.s.activeCell = cell;
        return 0;
    });
}

// ---- tab controls --------------------------------------------------------------------------

int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pagePanel) {
    if (!pagePanel) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, tabControl, [&](Control& c) {
        if (c.s.type != CtrlType::Tab) return UIE_TYPE_MISMATCH;
        if (pageIndex < 0 || pageIndex >= static_cast<int>(c.s.pages.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *pagePanel = c.s.pages[pageIndex];
        return 0;
    });
}

int SetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int value) {
    int page = 0;
    int status = GetPanelHandleFromTabPage(panel, tabControl, pageIndex, &page);
    if (status < 0) return status;
    if (attribute != ATTR_DIMMED) return UIE_BAD_ATTRIBUTE;
    status = ChangeControl(panel, tabControl, [&](Control& c) {
        c.s.pageDimmed[pageIndex] = value != 0;
        return 0;
    });
    if (status < 0) return status;
    return SetPanelAttribute(page, ATTR_DIMMED, value);
}

int GetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    if (attribute != ATTR_DIMMED) return UIE_BAD_ATTRIBUTE;
    return ReadControl(panel, tabControl, [&](Control& c) {
        if (c.s.type != CtrlType::Tab) return UIE_TYPE_MISMATCH;
        if (pageIndex < 0 || pageIndex >= static_cast<int>(c.s.pages.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *value = c.s.pageDimmed[pageIndex];
        return 0;
    });
}

// ---- pictures ------------------------------------------------------------------------------

int NewBitmap(int bytesPerRow, int pixelDepth, int width, int height, const int* palette,
              const unsigned char* bits, int* bitmapId) {
    if (!bitmapId || !palette || !bits || pixelDepth != 8 || width <= 0 || height <= 0 ||
        bytesPerRow < width || int64_t(width) * height > kMaxBitmapPixels ||
        int64_t(bytesPerRow) * height > 4 * kMaxBitmapPixels)
        return UIE_BAD_ARGUMENT;
    auto image = std::make_shared<PictureImage>();
    image->width = width;
    image->height = height;
    image->pixels.resize(size_t(width) * height);
    for (int row = 0; row < height; ++row)
        std::memcpy(image->pixels.data() + size_t(row) * width, bits + size_t(row) * bytesPerRow,
                    width);
    image->palette.assign(palette, palette + 256);
    std::lock_guard lock(R().modelMutex);
    int id = R().nextHandle++;
    R().bitmaps[id] = std::move(image);
    *bitmapId = id;
    return 0;
}

int DiscardBitmap(int bitmapId) {
    std::lock_guard lock(R().modelMutex);
    return R().bitmaps.erase(bitmapId) ? 0 : UIE_BAD_BITMAP;
}

int SetCtrlBitmap(int panel, int control, int /*imageId*/, int bitmapId) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Picture) return UIE_TYPE_MISMATCH;
        if (bitmapId == 0) {
            c.s.picture.reset();  // 0 clears the picture
            return 0;
        }
        auto it = R().bitmaps.find(bitmapId);
        if (it == R().bitmaps.end()) return UIE_BAD_BITMAP;
        c.s.picture = it->second;
        return 0;
    });
}

int GetCtrlPicture(int panel, int control, PictureImage* image) {
    if (!image) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Picture) return UIE_TYPE_MISMATCH;
        *image = c.s.picture ? *c.s.picture : PictureImage{};
        return 0;
    });
}

// ---- graphs --------------------------------------------------------------------------------

int PlotXY(int panel, int control, std::span<const double> x, std::span<const double> y,
           int plotStyle, int color) {
    if (x.size() != y.size()) return UIE_BAD_ARGUMENT;
    int handle = 0;
    int status = ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        Plot plot;
        plot.handle = handle = R().nextPlot++;
        plot.style = plotStyle;
        plot.color = color;
        plot.x.assign(x.begin(), x.end());
        plot.y.assign(y.begin(), y.end());
        c.s.plots.push_back(std::move(plot));
        return 0;
    });
    return status < 0 ? status : handle;
}

int PlotY(int panel, int control, std::span<const double> y, int plotStyle, int color) {
    std::vector<double> x(y.size());
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
    return PlotXY(panel, control, x, y, plotStyle, color);
}

int DeleteGraphPlot(int panel, int control, int plotHandle) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        if (plotHandle == -1) {
            c.s.plots.clear();
            return 0;
        }
        auto it = std::find_if(c.s.plots.begin(), c.s.plots.end(),
                               [&](const Plot& p) { return p.handle == plotHandle; });
        if (it == c.s.plots.end()) return UIE_BAD_ARGUMENT;
        c.s.plots.erase(it);
        return 0;
    });
}

int GetGraphPlots(int panel, int control, std::vector<Plot>* plots) {
    if (!plots) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        *plots = c.s.plots;
        return 0;
    });
}

// ---- menu bars -----------------------------------------------------------------------------

int LoadMenuBar(int panel, const std::string& file, int resourceNumber) {
    lastLoadError.clear();
    detail::ResourceFile resource;
    if (!LoadResource(file, &resource)) return UIE_BAD_RESOURCE_FILE;
    const detail::MenuBarTemplate* found = nullptr;
    for (const detail::MenuBarTemplate& bar : resource.menuBars)
        if (bar.resource == resourceNumber) found = &bar;
    if (!found) {
        lastLoadError = file + ": no menu bar with resource number " + std::to_string(resourceNumber);
        return UIE_RESOURCE_NOT_FOUND;
    }
    MenuBar bar;
    bar.name = found->name;
    bar.s.menus = found->menus;
    {
        std::lock_guard lock(R().callbackMutex);
        for (const auto& [item, name] : found->itemCallbacks) {
            auto it = R().menuCallbacks.find(name);
            if (it == R().menuCallbacks.end()) {
                lastLoadError = file + ": menu bar " + found->name + ": unknown callback \"" + name + "\"";
                return UIE_UNKNOWN_CALLBACK;
            }
            bar.callbacks[item] = it->second;
        }
    }
    int handle;
    {
        std::lock_guard lock(R().modelMutex);
        Panel* p = FindPanelLocked(panel);
        if (!p) return UIE_BAD_PANEL_HANDLE;
        handle = R().nextHandle++;
        bar.s.handle = handle;
        bar.s.panel = panel;
        bar.s.version = ++R().version;
        R().menuBars[handle] = std::move(bar);
        p->s.menuBar = handle;
        TouchPanel(*p);
    }
    NotifyFrontEnd();
    return handle;
}

int DiscardMenuBar(int menuBar) {
    {
        std::lock_guard lock(R().modelMutex);
        auto it = R().menuBars.find(menuBar);
        if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
        if (Panel* p = FindPanelLocked(it->second.s.panel)) {
            p->s.menuBar = 0;
            TouchPanel(*p);
        }
        R().menuBars.erase(it);
    }
    NotifyFrontEnd();
    return 0;
}

namespace {

MenuItemState* FindMenuItemLocked(MenuBar& bar, int item) {
    for (MenuState& menu : bar.s.menus)
        for (MenuItemState& i : menu.items)
            if (!i.separator && i.id == item) return &i;
    return nullptr;
}

}  // namespace

int SetMenuBarAttribute(int menuBar, int menuItem, int attribute, int value) {
    {
        std::lock_guard lock(R().modelMutex);
        auto it = R().menuBars.find(menuBar);
        if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
        MenuItemState* item = FindMenuItemLocked(it->second, menuItem);
        if (!item) return UIE_BAD_ITEM;
        if (attribute == ATTR_DIMMED) {
            auto held = it->second.held.find(menuItem);
            if (held != it->second.held.end()) held->second.ownDimmed = value != 0;
            else item->dimmed = value != 0;
        } else if (attribute == ATTR_CHECKED) item->checked = value != 0;
        else return UIE_BAD_ATTRIBUTE;
        it->second.s.version = ++R().version;
    }
    NotifyFrontEnd();
    return 0;
}

int GetMenuBarAttribute(int menuBar, int menuItem, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    auto it = R().menuBars.find(menuBar);
    if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
    MenuItemState* item = FindMenuItemLocked(it->second, menuItem);
    if (!item) return UIE_BAD_ITEM;
    if (attribute == ATTR_DIMMED) *value = item->dimmed;
    else if (attribute == ATTR_CHECKED) *value = item->checked;
    else return UIE_BAD_ATTRIBUTE;
    return 0;
}

int FindMenuItem(int menuBar, const std::string& itemName) {
    std::lock_guard lock(R().modelMutex);
    auto it = R().menuBars.find(menuBar);
    if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
    for (const MenuState& menu : it->second.s.menus)
        for (const MenuItemState& item : menu.items)
            if (!item.separator && item.name == itemName) return item.id;
    return UIE_BAD_ITEM;
}

// ---- popups --------------------------------------------------------------------------------

int MessagePopup(const std::string& title, const std::string& message) {
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return 0;
    // A message during long work only informs: the work goes on while it is read.
    if (WorkInProgress() && IsDispatchThread())
        fe->ShowMessageWithoutWaiting(title, message);
    else
        fe->ShowMessage(title, message);
    return 0;
}

int ConfirmPopup(const std::string& title, const std::string& message) {
    FrontEnd* fe = R().frontEnd.load();
    return fe ? (fe->AskConfirm(title, message) ? 1 : 0) : 1;
}

int FileSelectPopup(const std::string& defaultDirectory, const std::string& defaultPattern,
                    const std::string& patternList, const std::string& title, int buttonLabel,
                    std::string* path) {
    if (!path) return UIE_BAD_ARGUMENT;
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return VAL_NO_FILE_SELECTED;
    // The programs may name the folder in its logical form ("E:\\DRAV_Data").
    FileRequest request{defaultDirectory.empty() ? "" : os::HostPath(defaultDirectory),
                        defaultPattern, patternList, title, buttonLabel == VAL_SAVE_BUTTON};
    std::optional<std::string> chosen = fe->AskFile(request);
    if (!chosen || chosen->empty()) return VAL_NO_FILE_SELECTED;
    *path = *chosen;
    std::error_code ec;
    return std::filesystem::exists(*chosen, ec) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
}

int DirSelectPopup(const std::string& defaultDirectory, const std::string& title,
                   std::string* path) {
    if (!path) return UIE_BAD_ARGUMENT;
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return 0;
    FileRequest request;
    request.defaultDirectory = defaultDirectory.empty() ? "" : os::HostPath(defaultDirectory);
    request.title = title;
    request.folder = true;
    std::optional<std::string> chosen = fe->AskFile(request);
    if (!chosen || chosen->empty()) return 0;
    *path = *chosen;
    return 1;
}

// ---- thread pool ---------------------------------------------------------------------------

int ScheduleThreadFunction(ThreadFunction fn, int* functionId) {
    if (!fn) return UIE_BAD_ARGUMENT;
    auto entry = std::make_shared<PoolEntry>();
    int id;
    {
        std::lock_guard lock(R().poolMutex);
        id = R().nextFunctionId++;
        R().pool[id] = entry;
    }
    entry->thread = std::thread([entry, fn = std::move(fn)] {
        t_poolThread = true;
        int result = fn();
        std::lock_guard lock(R().queueMutex);
        entry->result = result;
        entry->done = true;
        R().queueChanged.notify_all();
    });
    if (functionId) *functionId = id;
    return 0;
}

namespace {

std::shared_ptr<PoolEntry> PoolEntryOf(int functionId) {
    std::lock_guard lock(R().poolMutex);
    auto it = R().pool.find(functionId);
    return it == R().pool.end() ? nullptr : it->second;
}

}  // namespace

int WaitForThreadFunctionCompletion(int functionId) {
    std::shared_ptr<PoolEntry> entry = PoolEntryOf(functionId);
    if (!entry) return UIE_BAD_THREAD_FUNCTION_ID;
    if (IsDispatchThread()) {
        DispatchUntil([&] { return entry->done; });
    } else {
        std::unique_lock lock(R().queueMutex);
        R().queueChanged.wait(lock, [&] { return entry->done; });
    }
    return 0;
}

int GetThreadFunctionReturnValue(int functionId, int* returnValue) {
    if (!returnValue) return UIE_BAD_ARGUMENT;
    std::shared_ptr<PoolEntry> entry = PoolEntryOf(functionId);
    if (!entry) return UIE_BAD_THREAD_FUNCTION_ID;
    std::lock_guard lock(R().queueMutex);
    if (!entry->done) return UIE_BAD_ARGUMENT;
    *returnValue = entry->result;
    return 0;
}

int ReleaseThreadFunctionID(int functionId) {
    std::shared_ptr<PoolEntry> entry;
    {
        std::lock_guard lock(R().poolMutex);
        auto it = R().pool.find(functionId);
        if (it == R().pool.end()) return UIE_BAD_THREAD_FUNCTION_ID;
        entry = it->second;
        R().pool.erase(it);
    }
    if (entry->thread.joinable()) entry->thread.join();
    return 0;
}

}  // namespace ui
