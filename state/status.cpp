#include "state/status.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"

namespace pelu {

namespace {
// Whether the status box's last line is open: the text written last did
// not end with a line break.
std::mutex statusMutex;
bool lineOpen = false;
int lineOpenPanel = 0;  // the main panel that line is on
}  // namespace

void ResetStatusLine() {
    std::lock_guard<std::mutex> lock(statusMutex);
    lineOpen = false;
    lineOpenPanel = 0;
}

namespace {

// Messages that come without a line end of their own (a controller's
// reply, a value) would run into the next one: a message that does not
// start on a fresh line gets one when the last line is open. `text` is not
// empty.
std::string OnFreshLine(const std::string& text) {
    std::string shown = text;
    std::lock_guard<std::mutex> lock(statusMutex);
    if (lineOpen && lineOpenPanel == state.mainPanel && shown.front() != '\n')
        shown.insert(shown.begin(), '\n');
    lineOpen = shown.back() != '\n';
    lineOpenPanel = state.mainPanel;
    return shown;
}

}  // namespace

void ShowStatus(const std::string& text) {
    if (text.empty()) return;
    const std::string shown = OnFreshLine(text);
    if (state.mainPanel > 0) ui::SetCtrlVal(state.mainPanel, MAIN_STATUS, shown);
    LogStatusText(shown);
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

void ShowSwitchOnFailure(const std::string& device, const std::string& step,
                         const std::string& check, bool popup) {
    const std::string text = "The " + device + " was not switched on: " + step + ". " + check;
    ShowWarning(Warning::Device, "\n" + text + "\n");
    if (popup) ui::MessagePopup("Error", text);
}

namespace {

// The latest warnings, numbered, for the summary of the run they fall in.
struct RecentWarnings {
    static constexpr size_t kKept = 200;
    std::mutex mutex;
    uint64_t next = 1;
    std::deque<std::pair<uint64_t, std::string>> texts;
};

RecentWarnings& Recent() {
    static RecentWarnings recent;
    return recent;
}

// The text without the line ends around it (a status text starts and ends
// with them).
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of("\r\n ");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of("\r\n ") - first + 1);
}

std::atomic<int>& CountOf(Warning kind) {
    switch (kind) {
        case Warning::Frames:
            return state.warnedFrames;
        case Warning::Save:
            return state.warnedSaves;
        case Warning::Device:
            break;
    }
    return state.warnedDevices;
}

int CounterControl(Warning kind) {
    switch (kind) {
        case Warning::Frames:
            return MAIN_WARN_FRAMES;
        case Warning::Save:
            return MAIN_WARN_SAVES;
        case Warning::Device:
            break;
    }
    return MAIN_WARN_DEVICES;
}

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void ShowWarning(Warning kind, const std::string& text, int count) {
    const int panel = state.mainPanel;
    if (!text.empty()) {
        const std::string shown = OnFreshLine(text);
        if (panel > 0) ui::AppendWarningText(panel, MAIN_STATUS, shown);
        LogWarningText(shown);
    }
    {
        RecentWarnings& recent = Recent();
        std::lock_guard lock(recent.mutex);
        recent.texts.emplace_back(recent.next++, Trimmed(text));
        if (recent.texts.size() > RecentWarnings::kKept) recent.texts.pop_front();
    }
    if (count <= 0) return;
    const int total = CountOf(kind) += count;
    if (panel > 0) ui::SetCtrlVal(panel, CounterControl(kind), std::to_string(total));
}

WarningCounts CountedWarnings() {
    return {state.warnedFrames.load(), state.warnedSaves.load(), state.warnedDevices.load()};
}

RunWarnings::RunWarnings() : start_(CountedWarnings()) {
    RecentWarnings& recent = Recent();
    std::lock_guard lock(recent.mutex);
    firstWarning_ = recent.next;
}

std::string RunWarnings::Summary() const {
    const WarningCounts now = CountedWarnings();
    const int frames = now.frames - start_.frames;
    const int saves = now.saves - start_.saves;
    const int devices = now.devices - start_.devices;
    std::vector<std::string> lines;
    {
        RecentWarnings& recent = Recent();
        std::lock_guard lock(recent.mutex);
        for (const auto& [number, text] : recent.texts)
            if (number >= firstWarning_ && !text.empty()) lines.push_back(text);
    }
    if (frames <= 0 && saves <= 0 && devices <= 0 && lines.empty()) return "";
    std::string summary = "This run needs a look:";
    if (frames > 0) summary += "\n- " + Plural(frames, "frame", "frames") + " late or missing";
    if (saves > 0) summary += "\n- " + Plural(saves, "product", "products") + " not saved";
    if (devices > 0) summary += "\n- " + Plural(devices, "device fault", "device faults");
    constexpr size_t kShown = 8;
    summary += "\n\nWhat the status box said:";
    for (size_t i = 0; i < lines.size() && i < kShown; ++i) summary += "\n" + lines[i];
    if (lines.size() > kShown)
        summary += Format("\n... and %zu more (see the status box and the observing log)",
                          lines.size() - kShown);
    return summary;
}

void RunWarnings::ShowSummary() const {
    const std::string summary = Summary();
    if (!summary.empty()) ui::MessagePopup("Run summary", summary);
}

}  // namespace pelu

namespace pelu {

void ShowRealTimeRefused(const std::string& reason) {
    if (state.realTimeRefusalShown.exchange(true)) return;
    ShowStatus("\nReal-time scheduling refused by the system (" + reason +
               "): on a busy computer frames may be exposed off their step; each scan takes "
               "them again at their step before it ends.\n");
}

void ShowMemoryLockRefused(const std::string& reason) {
    if (state.memoryLockRefusalShown.exchange(true)) return;
    ShowStatus("\nThe series could not be locked in memory (" + reason +
               "): on a computer short of memory a scan may wait for its pages.\n");
}

}  // namespace pelu
