// Long work on the user-interface thread: a run, applying the settings,
// switching the cameras or the motors, the shutdown at quit. It keeps the
// window answering: its waits dispatch the observer's clicks
// (ui::WaitWithEvents), so their callbacks run nested inside the work. What
// would conflict with the work is closed off in two ways: the controls that
// would start other work, free what the work uses or drive its devices are
// held dimmed while it runs (a click queued before cannot act later either),
// and the callbacks that stay reachable refuse, in the status box, while it
// runs.
#pragma once

namespace pelu {

enum class Work { None, Run, Settings, Cameras, Motors, Quit };

// The work in progress, None when the program waits for the observer.
Work CurrentWork();
// What the status box calls it ("a run", "applying the settings", ...).
const char* WorkName(Work work);

// The scope of one piece of long work. Holds the controls that conflict
// with it dimmed and marks it in progress; the destructor gives them back,
// whatever way the work ends. Work does not nest: a second scope while one
// is open is refused (Started() is false and it holds nothing).
class LongWork {
public:
    explicit LongWork(Work work);
    ~LongWork();
    LongWork(const LongWork&) = delete;
    LongWork& operator=(const LongWork&) = delete;

    bool Started() const { return started_; }

    // Between the repetitions of a run: Run (go on) and Stop are the only
    // controls that decide; the rest stays dimmed. Waits for the observer
    // and returns true to go on, false when Stop, a Stop pressed earlier in
    // the run, or quitting ends the run.
    bool WaitToGoOn();

private:
    void HoldConflicts(bool runGoesOn);
    void ReleaseConflicts();

    bool started_ = false;
    int hold_ = 0;
};

// A callback that would conflict with the work in progress says so in the
// status box and does nothing: true when it must refuse.
bool RefuseWhileBusy(const char* action);

// The observer's Run between repetitions: go on. False when no run waits.
bool ContinueWaitingRun();
// Stop during a run: "Stopping..." at once; the run ends at its next
// step. False when no run is in progress.
bool RequestRunStop();
// Quit during long work: the work is stopped and the program shuts down once
// it has ended (true). False when nothing runs: shut down now.
bool DeferQuitUntilWorkEnds();
// True once a quit waits for the work to end (the work's scope calls the
// shutdown when it closes).
bool QuitPending();

// Back to no work (tests).
void ResetWork();

}  // namespace pelu
