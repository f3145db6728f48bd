#include "control/work.h"

#include <atomic>
#include <string>
#include <vector>

#include "control/callbacks.h"
#include "resources/pelu_uir.h"
#include "platform/ui/ui.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

struct WorkFlags {
    std::atomic<Work> current{Work::None};
    std::atomic<bool> betweenRepetitions{false};
    std::atomic<bool> goOn{false};
    std::atomic<bool> quitPending{false};
};

WorkFlags g_work;

// Controls named as the resource names them: both programs share this code
// and give their shared controls the same names.
void Add(std::vector<ui::ControlRef>* refs, int panel, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const int control = ui::FindControl(panel, name);
        if (control > 0) refs->push_back({panel, control});
    }
}

// What a piece of work must not meet halfway: another run or settings, a
// device switched under it, a stored file loaded into the display it
// draws.
std::vector<ui::ControlRef> Conflicts(Work work, bool runGoesOn) {
    std::vector<ui::ControlRef> refs;
    const int main = state.mainPanel;
    if (!runGoesOn) Add(&refs, main, {"RUN"});
    Add(&refs, main,
        {"TAKE", "SETUP", "OPEN", "UPLOAD", "CCD_TOGGLE", "MOTOR_TOGGLE", "SETCOOLER", "FRAME",
         "VIEW", "VIEW_CCD1", "VIEW_CCD2", "BYTSCL_MIN", "BYTSCL_MAX"});
    // During a run the scanner switch stays: switching off is refused with its
    // message while a scan runs. Other work may download to the controller.
    if (work != Work::Run) Add(&refs, main, {"SCAN_TOGGLE"});
    if (work == Work::Quit) Add(&refs, main, {"STOP", "QUIT"});
    Add(&refs, state.PELUpanelSetting, {"OK"});
    return refs;
}

std::vector<ui::MenuItemRef> MenuConflicts(Work work) {
    std::vector<ui::MenuItemRef> items;
    for (const char* name : {"OPEN", "SETTINGS", "EXIT"}) {
        if (std::string(name) == "EXIT" && work != Work::Quit) continue;
        const int item = ui::FindMenuItem(state.menubar, name);
        if (item > 0) items.push_back({state.menubar, item});
    }
    return items;
}

// The device test panel drives the devices the work uses: dimmed as a whole
// while the work runs (it stays on screen, its readings still come in).
void DimTestPanel(bool dimmed) {
    if (state.testpanel > 0) ui::SetPanelAttribute(state.testpanel, ui::ATTR_DIMMED, dimmed ? 1 : 0);
}

}  // namespace

Work CurrentWork() { return g_work.current.load(); }

const char* WorkName(Work work) {
    switch (work) {
        case Work::Run: return "a run";
        case Work::Settings: return "applying the settings";
        case Work::Cameras: return "switching the cameras";
        case Work::Motors: return "switching the motors";
        case Work::Quit: return "the shutdown";
        case Work::None: break;
    }
    return "nothing";
}

LongWork::LongWork(Work work) {
    Work none = Work::None;
    if (work == Work::None || !g_work.current.compare_exchange_strong(none, work)) return;
    started_ = true;
    HoldConflicts(false);
    DimTestPanel(true);
    if (work == Work::Run) {
        state.runStop = 0;
        SetDimmed(state.mainPanel, MAIN_STOP, false);
    }
}

LongWork::~LongWork() {
    if (!started_) return;
    const Work work = g_work.current.load();
    if (work == Work::Run) SetDimmed(state.mainPanel, MAIN_STOP, true);
    ReleaseConflicts();
    DimTestPanel(false);
    g_work.betweenRepetitions = false;
    g_work.current = Work::None;
    // A quit pressed meanwhile shuts the program down now that the work is over.
    if (work != Work::Quit && g_work.quitPending.exchange(false))
        QuitCallback(state.mainPanel, MAIN_QUIT, ui::EVENT_COMMIT, nullptr, 0, 0);
}

void LongWork::HoldConflicts(bool runGoesOn) {
    const int previous = hold_;
    const Work work = g_work.current.load();
    hold_ = ui::HoldDimmed(Conflicts(work, runGoesOn), MenuConflicts(work));
    // The new hold is in force before the old one ends: nothing flickers on.
    if (previous > 0) ui::ReleaseHold(previous);
}

void LongWork::ReleaseConflicts() {
    if (hold_ > 0) ui::ReleaseHold(hold_);
    hold_ = 0;
}

bool LongWork::WaitToGoOn() {
    if (!started_ || state.runStop != 0) return false;
    g_work.goOn = false;
    g_work.betweenRepetitions = true;
    HoldConflicts(true);
    ui::WaitWithEvents(
        [] { return g_work.goOn || state.runStop != 0 || g_work.quitPending || ui::QuitRequested(); },
        1e9);
    g_work.betweenRepetitions = false;
    HoldConflicts(false);
    return g_work.goOn && state.runStop == 0 && !g_work.quitPending && !ui::QuitRequested();
}

bool RefuseWhileBusy(const char* action) {
    const Work work = CurrentWork();
    if (work == Work::None) return false;
    ShowStatus(Format("\n%s refused: %s is in progress.\n", action, WorkName(work)));
    return true;
}

bool ContinueWaitingRun() {
    if (CurrentWork() != Work::Run || !g_work.betweenRepetitions) return false;
    g_work.goOn = true;
    return true;
}

bool RequestRunStop() {
    if (CurrentWork() != Work::Run) return false;
    if (state.runStop.exchange(1) == 0) ShowStatus("\nStopping...\n");
    return true;
}

bool DeferQuitUntilWorkEnds() {
    const Work work = CurrentWork();
    if (work == Work::None) return false;
    if (work == Work::Quit) return true;  // already shutting down
    g_work.quitPending = true;
    if (work == Work::Run) RequestRunStop();
    return true;
}

bool QuitPending() { return g_work.quitPending.load(); }

void ResetWork() {
    g_work.current = Work::None;
    g_work.betweenRepetitions = false;
    g_work.goOn = false;
    g_work.quitPending = false;
}

}  // namespace pelu
