// How fast the window answers the observer while long work runs: clicks on
// "Device test..." are posted through the run-time as the Qt front-end posts
// them, and the time from each click to the start of its callback is taken,
//
//  1. while the program waits for the observer (the baseline, the same run),
//  2. while the settings OK takes the bias/dark series of both cameras,
//  3. while a 100-step scan runs with both cameras in every step,
//
// on two cores. The target: the 95th percentile of 2 and 3 within 100 ms.
// Then Stop in the middle of a second scan: the scan must end within one
// step plus 0.5 s of the click.
//
//   bench_click [time-scale] [clicks-per-phase]   (defaults 0.25, 200)
//
// The default time scale is the demo's: the simulated cameras render every
// frame for real, so the host works as hard as at the instrument while the
// scan takes a quarter of its time.
#include <dlfcn.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bound_devices.h"
#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "platform/ui/headless.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

ui::HeadlessFrontEnd g_frontEnd;

// ---- the probe: Device test's own callback, timed ---------------------------------------

std::mutex g_mutex;
Clock::time_point g_clicked{};
std::atomic<bool> g_answered{true};
double g_latencyMs = 0;

int ProbeObsTest(int panel, int control, int event, void* data, int data1, int data2) {
    if (event == ui::EVENT_COMMIT) {
        std::lock_guard lock(g_mutex);
        g_latencyMs = std::chrono::duration<double, std::milli>(Clock::now() - g_clicked).count();
        g_answered = true;
    }
    return pelu::Obs_Test(panel, control, event, data, data1, data2);
}

bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// One click; its latency in ms, or a negative number when it was not answered
// within `limit` seconds.
double Click(double limit) {
    {
        std::lock_guard lock(g_mutex);
        g_answered = false;
        g_clicked = Clock::now();
    }
    ui::PostEvent(pelu::state.mainPanel, pelu::MAIN_TEST, ui::EVENT_COMMIT);
    if (!WaitFor([] { return g_answered.load(); }, limit)) return -1;
    std::lock_guard lock(g_mutex);
    return g_latencyMs;
}

struct Latencies {
    std::vector<double> ms;
    int unanswered = 0;
    double Percentile(double p) const {
        if (ms.empty()) return 0;
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const size_t i = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
        return sorted[i];
    }
};

// Clicks at random moments, 20 to 80 ms apart, while `running` holds, at most
// `count` of them.
Latencies ClickWhile(const std::function<bool()>& running, int count) {
    Latencies result;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> pause(20, 80);
    for (int i = 0; i < count && running(); ++i) {
        const double ms = Click(30.0);
        if (ms < 0) {
            ++result.unanswered;
            // The answer may still come: wait for it before the next click.
            WaitFor([] { return g_answered.load(); }, 600);
        } else {
            result.ms.push_back(ms);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    }
    return result;
}

bool Script(const std::string& text) {
    ui::ScriptRunner runner(&g_frontEnd, "bench_click");
    const ui::ScriptResult r = runner.RunText("timeout 60000\n" + text);
    if (!r.ok)
        std::fprintf(stderr, "bench_click: script line %d (%s): %s\n", r.line, r.command.c_str(),
                     r.message.c_str());
    return r.ok;
}

void Report(const char* what, const Latencies& l, double baselineP95, bool target) {
    const double p95 = l.Percentile(95);
    std::printf("%s: %zu clicks answered, %d not within 30 s; median %.2f ms, 95 %% %.2f ms, "
                "worst %.2f ms",
                what, l.ms.size(), l.unanswered, l.Percentile(50), p95,
                l.ms.empty() ? 0.0 : *std::max_element(l.ms.begin(), l.ms.end()));
    if (baselineP95 > 0) std::printf("; ratio to the baseline's 95 %% %.1f", p95 / baselineP95);
    if (target)
        std::printf("\n   target 95 %% <= 100 ms: %s",
                    !l.ms.empty() && l.unanswered == 0 && p95 <= 100.0 ? "met" : "NOT met");
    std::printf("\n");
}

double LoadAverage() {
    double load[1] = {0};
    return getloadavg(load, 1) == 1 ? load[0] : -1;
}

}  // namespace

int main(int argc, char** argv) {
    BindSimulatedDevices();
    const double scale = argc > 1 ? std::atof(argv[1]) : 0.25;
    const int clicks = argc > 2 ? std::max(10, std::atoi(argv[2])) : 200;
    PinToTwoCores();
    const fs::path work = EnterBenchFolder("pelu-click-bench", PELU_SITE_DIR);
    os::SetTimeScale(scale);

    camsim::Config config;
    config.trace = false;  // its record would grow with every frame
    camsim::Reset(config);
    ui::InitRuntime();
    ui::SetFrontEnd(&g_frontEnd);
    pelu::ResetInstrumentState();
    pelu::RegisterControlCallbacks();
    pelu::RegisterDataCallbacks();
    pelu::RegisterMotorCallbacks();
    pelu::RegisterScannerCallbacks();
    ui::RegisterCallback("Obs_Test", ProbeObsTest);
    std::thread program([] { pelu::PELU_main(); });
    if (!WaitFor([] { return ui::detail::DispatcherRunning(); }, 30)) {
        std::fprintf(stderr, "bench_click: the program did not start\n");
        return 1;
    }
    bool ok = Script(
        "commit MAIN.CCD_TOGGLE\nexpect status \"Open Complete\"\n"
        "commit MAIN.SCAN_TOGGLE\nexpect status \"Amp is turned ON\"\nexpect idle\n");
    ok = ok && WaitFor([] { return pelu::scanner.g_nAmpOnSeq == 30; }, 300);
    if (!ok) {
        std::fprintf(stderr, "bench_click: the devices did not come on\n");
        std::_Exit(1);
    }
    std::printf("click latency: time scale %g, 2 cores, load average %.2f at the start\n", scale,
                LoadAverage());

    // 1. The baseline: the program waits for the observer.
    const Latencies idle = ClickWhile([] { return true; }, clicks / 4);
    Report("1. waiting for the observer (baseline)", idle, 0, false);
    const double baseline = idle.Percentile(95);

    // 2. The settings OK: both cameras' bias/dark series, the download.
    ok = Script(
        "commit MAIN.SETUP\n"
        "set CAMERA_PAGE.CAMERA \"Both CCDs(2CCD in 1 Step)\"\n"
        "commit CAMERA_PAGE.CAMERA\n"
        "set CAMERA_PAGE.TAKEMODE \"Single scan\"\n"
        "set CAMERA_PAGE.FRAMES 100\n"
        "set CAMERA_PAGE.REPEAT 1\n"
        "set CAMERA_PAGE.EXPOSURE 0.2\n"
        "set CAMERA_PAGE.BINNING \"2 x 2\"\n"
        "commit CAMERA_PAGE.BINNING\n"
        "set SCANNER_PAGE.SCANMODE \"Spectrograph (steps)\"\n"
        "commit SCANNER_PAGE.SCANMODE\n"
        "set SCANNER_PAGE.STEPSIZE 4\n"
        "commit SETTINGS.OK\n");
    const Latencies settings = ClickWhile([] { return ui::WorkInProgress(); }, clicks);
    ok = ok && Script("expect idle\nexpect status \"Scanner_status is 1\"\n");
    Report("2. settings OK, both cameras' bias/dark series", settings, baseline, true);

    // 3. A scan of 100 steps, both cameras in every step.
    ok = ok && Script("commit MAIN.RUN\nexpect status \"Starting Scan.\"\n");
    const Latencies scan =
        ClickWhile([] { return pelu::state.Scanning.load() == 1; }, clicks * 10);
    ok = ok && Script("expect status \"Repetition 1 of 1 done\"\n");
    const bool complete =
        pelu::GetText(pelu::state.mainPanel, pelu::MAIN_STATUS).find("frames stored 100 of 100") !=
        std::string::npos;
    std::printf("   (the scan: %.1f s per step x 100, series complete: %s)\n",
                pelu::state.scan_duration / 1000.0 * scale, complete ? "yes" : "NO");
    Report("3. a 100-step scan, both cameras in every step", scan, baseline, true);
    // 4. Stop in the middle of the next scan: from the click to the scan's end
    // (stage halted, the last frame in) and to the series saved.
    ok = ok && Script("commit MAIN.STOP\nexpect idle\ncommit MAIN.RUN\nexpect status \"Starting Scan.\"\n");
    const double stepSeconds = pelu::state.scan_duration / 1000.0 * scale;
    std::this_thread::sleep_for(std::chrono::duration<double>(30 * stepSeconds));
    const auto stopClicked = Clock::now();
    ui::PostEvent(pelu::state.mainPanel, pelu::MAIN_STOP, ui::EVENT_COMMIT);
    const bool ended = WaitFor([] { return pelu::state.Scanning.load() == 0; }, 60);
    const double scanEnded = std::chrono::duration<double>(Clock::now() - stopClicked).count();
    const bool saved = WaitFor([] { return !ui::WorkInProgress(); }, 600);
    const double runEnded = std::chrono::duration<double>(Clock::now() - stopClicked).count();
    const std::string status = pelu::GetText(pelu::state.mainPanel, pelu::MAIN_STATUS);
    const size_t at = status.rfind("Stopped at step");
    std::printf("4. Stop in the middle of a scan: scan ended %.3f s after the click, the frames "
                "taken saved and the run ended after %.3f s (%s)\n"
                "   target: the scan ends within one step plus 0.5 s (%.3f s): %s\n",
                scanEnded, runEnded,
                at == std::string::npos ? "no \"Stopped at step\" line"
                                        : status.substr(at, status.find('\n', at) - at).c_str(),
                stepSeconds + 0.5, ended && saved && scanEnded <= stepSeconds + 0.5 ? "met" : "NOT met");
    std::printf("load average at the end %.2f\n", LoadAverage());
    ok = ok && ended && saved;
    if (!ok) std::printf("   a step of the bench script failed (see above)\n");
    Script("quit\n");
    program.join();
    ui::SetFrontEnd(nullptr);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(work);
    return ok ? 0 : 1;
}
