#include "state/status.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
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

void ShowStatus(const std::string& text) {
    if (text.empty()) return;
    std::string shown = text;
    {
        // Messages that come without a line end of their own (a controller's
        // reply, a value) would run into the next one: a message that does
        // not start on a fresh line gets one when the last line is open.
        std::lock_guard<std::mutex> lock(statusMutex);
        if (lineOpen && lineOpenPanel == state.mainPanel && shown.front() != '\n')
            shown.insert(shown.begin(), '\n');
        lineOpen = shown.back() != '\n';
        lineOpenPanel = state.mainPanel;
    }
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
    ShowStatus("\n" + text + "\n");
    if (popup) ui::MessagePopup("Error", text);
}

}  // namespace pelu
