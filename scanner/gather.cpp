// Quick gather upload: the servo data of the scanning motor gathered during
// the last scan, shown as actual position against time and kept as text.
#include <cstdio>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/controller_access.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using detail::WithController;

// More samples than the controller's gather buffer can hold is a bogus count.
constexpr int32_t kMaxSamples = 4 * 1024 * 1024;
// Servo cycles per gathered sample.
constexpr double kGatherPeriod = 5.0;

// The gather plot drawn last, removed before the next one is drawn.
int g_gatherPlot = 0;

}  // namespace

int UploadQuickGather(int save) {
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return 0;
    }
    int32_t sources = 0, samples = 0;
    int collected = 0;
    WithController(
        [&] { collected = scanner.DeviceCollectGatherData(scanner.dwDevice, &sources, &samples); });
    if (collected == 0) return 0;
    if (samples < 0 || samples > kMaxSamples) {
        ShowStatus(Format("\nGathered data rejected: %d samples\n", samples));
        return 0;
    }
    const size_t n = static_cast<size_t>(samples);
    std::vector<double> raw[3];
    for (int source = 0; source < 3; ++source) {
        raw[source].assign(n, 0.0);
        int32_t count = samples;
        int fetched = 0;
        WithController([&] {
            fetched = scanner.DeviceGetGatherSamples(scanner.dwDevice, source, &count,
                                                     raw[source].data(), samples);
        });
        if (fetched == 0 || count != samples) return 0;
    }
    int32_t ix08 = 96;
    WithController([&] { ix08 = scanner.DeviceGetIVariableLong(scanner.dwDevice, 108, 96); });
    if (ix08 == 0) ix08 = 96;  // a scale of zero cannot be one

    std::vector<double> commanded(n), actual(n), dac(n), seconds(n);
    for (size_t i = 0; i < n; ++i) {
        commanded[i] = raw[0][i] / (32.0 * ix08);
        actual[i] = raw[1][i] / (32.0 * ix08);
        dac[i] = raw[2][i] * 0.00390625;
        seconds[i] = 3703707.0 * (kGatherPeriod * static_cast<double>(i)) / 8388608.0 / 1000.0;
    }

    // The display's histogram or profile gives way, and so does the gather
    // plot drawn before; this one is not the display's to replace.
    if (const int shown = state.plotHandle.exchange(0); shown > 0)
        ui::DeleteGraphPlot(state.mainPanel, MAIN_GRAPH, shown);
    if (g_gatherPlot > 0) ui::DeleteGraphPlot(state.mainPanel, MAIN_GRAPH, g_gatherPlot);
    g_gatherPlot = ui::PlotXY(state.mainPanel, MAIN_GRAPH, seconds, actual, ui::VAL_THIN_LINE,
                              ui::VAL_RED);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_GRAPH, ui::ATTR_XNAME, "Time (s)");
    ui::SetCtrlAttribute(state.mainPanel, MAIN_GRAPH, ui::ATTR_YNAME, "Actual position (counts)");

    if (save == 1) {
        const std::string host = os::HostPath("GatherResult.txt");
        FILE* file = host.empty() ? nullptr : std::fopen(host.c_str(), "w+");
        if (file == nullptr) {
            ShowStatus("FILE open fail");
            return 0;
        }
        std::fputs("Quick Gathering Sample Data File\n", file);
        std::fputs("[Commanded Position]\t[Actual Position]\t[DAC Output]\n", file);
        for (size_t i = 0; i < n; ++i)
            std::fprintf(file, "%20.3lf\t%20.3lf\t%20.3lf\t%20.3lf\n", commanded[i], actual[i],
                         dac[i], seconds[i]);
        std::fclose(file);
    }
    return 1;
}

}  // namespace pelu
