#include "state/progress.h"

#include <chrono>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using Clock = std::chrono::steady_clock;

// A redraw of the bar's times at most this often (real time).
constexpr auto kRefresh = std::chrono::milliseconds(250);

struct Shown {
    std::string what;
    Clock::time_point at{};
};
// The cooling watch reports from its own thread.
std::mutex g_mutex;
Shown g_shown;

void Show(const std::string& what, const std::string& times, double fraction) {
    const int main = state.mainPanel;
    if (main <= 0) return;
    ui::SetCtrlVal(main, MAIN_PROGRESS_TEXT, what);
    ui::SetCtrlAttribute(main, MAIN_PROGRESS_BAR, ui::ATTR_LABEL_TEXT, times);
    ui::SetCtrlVal(main, MAIN_PROGRESS_BAR, 100.0 * std::clamp(fraction, 0.0, 1.0));
}

}  // namespace

std::string DurationText(double seconds) {
    const long total = seconds > 0 ? std::lround(seconds) : 0;
    if (total >= 3600) return Format("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return Format("%ld:%02ld", total / 60, total % 60);
}

void ShowProgress(const std::string& what, double fraction, double elapsedSeconds,
                  double remainingSeconds) {
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard lock(g_mutex);
        if (what == g_shown.what && now - g_shown.at < kRefresh) return;
        g_shown = {what, now};
    }
    std::string times;
    if (elapsedSeconds >= 0) times = DurationText(elapsedSeconds) + " elapsed";
    if (remainingSeconds >= 0)
        times += (times.empty() ? "" : ", ") + DurationText(remainingSeconds) + " left";
    if (times.empty()) times = Format("%.0f %% done", 100.0 * std::clamp(fraction, 0.0, 1.0));
    Show(what, times, fraction);
}

void ClearProgress(const std::string& last) {
    {
        std::lock_guard lock(g_mutex);
        g_shown = {};
    }
    Show(last, "", 0.0);
}

}  // namespace pelu
