// The status box of the main panel: the instrument's log on the screen. Every
// subsystem reports its progress and errors here; a text that begins with
// "\n" starts on a fresh line.
#pragma once

#include <cstdint>
#include <string>

namespace pelu {

// Appends `text` to the status box (nothing before the main panel exists).
// A text that would continue a line left open by the one before (it ends
// without a line break, this one starts without) starts on a fresh line.
void ShowStatus(const std::string& text);
// Forgets that the last line is open (a new status box; tests).
void ResetStatusLine();

// A device that could not be switched on: says in the status box (as a
// device warning) which device failed, at which step, and what the observer
// should check; with `popup`
// (unless an earlier box of the same failure has been shown) also in an error
// box.
void ShowSwitchOnFailure(const std::string& device, const std::string& step,
                         const std::string& check, bool popup = true);

// Say once per program run that the system refused real-time scheduling of
// the scan's threads, or locking the series in memory (`reason`: the
// system's words), and what that means for the observer.
void ShowRealTimeRefused(const std::string& reason);
void ShowMemoryLockRefused(const std::string& reason);
// What an observer must not miss, by kind. Each kind has its count on the
// main panel.
enum class Warning {
    Frames,  // frames taken late (after the stage left their step) or missing
    Save,    // a product that did not reach the disk
    Device,  // a device that failed or could not be switched on
};

// Appends `text` to the status box in the warning colour and adds `count`
// to its kind's count on the main panel. A line that explains a failure
// counted elsewhere passes 0.
void ShowWarning(Warning kind, const std::string& text, int count = 1);

struct WarningCounts {
    int frames = 0, saves = 0, devices = 0;
};
// The counts since the program started.
WarningCounts CountedWarnings();

// What one run produced. Made when the run starts; after the run,
// ShowSummary tells the observer in a popup what went wrong, if anything.
class RunWarnings {
  public:
    RunWarnings();
    // "" when the run produced no warning; otherwise the counts and the
    // warnings' first lines.
    std::string Summary() const;
    // The summary in a popup titled "Run summary", when there is one.
    void ShowSummary() const;

  private:
    WarningCounts start_;
    uint64_t firstWarning_ = 0;
};

// printf-style formatting into a string, never longer than the result needs.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pelu
