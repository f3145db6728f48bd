// The run-time core: its state, its life (start, reset, the callbacks bound by
// name, error texts) and the front-end that draws it. The event queue and
// dispatcher are in events.cpp, timers in timers.cpp, the thread pool in
// thread_pool.cpp, the control model in controls.cpp and the panels, menu
// bars and popups in panels.cpp; runtime_internal.h holds what they share.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ui/runtime_internal.h"

namespace ui {
namespace core {

Runtime& R() {
    static Runtime runtime;
    return runtime;
}

}  // namespace core

using namespace core;

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

}  // namespace ui
