#include "data/save_timer.h"

#include <string>

#include "data/statistics.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {

SaveTimer::SaveTimer() {
    int64_t frequency = 0;
    if (!os::QueryPerformanceFrequency(&frequency))
        ui::MessagePopup("Error", "Cannot support the timer of high resolution\n");
    else if (state.gliFreq <= 0)
        state.gliFreq = frequency;  // a save before the first run still shows its time
    std::string stamp;
    marktime_start(stamp);
}

float SaveTimer::Stop() {
    std::string stamp;
    marktime_end(stamp);
    return time_difference();
}

void SaveTimer::ShowOnMainPanel() { SetText(state.mainPanel, MAIN_SAVETIME, Format("%.3f Sec\n", Stop())); }

void SaveTimer::ShowInStatusBox() { ShowStatus(Format("%.3f Sec\n", Stop())); }

}  // namespace pelu
