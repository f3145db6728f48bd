// Scan polling on the simulated controller: how soon a reached step becomes a
// frame, and how much processor the program takes while a scan runs, on two
// cores. The baseline is the same scan polled without a pause by the loops
// as first specified (the monitoring loop reading the scanner without pause
// of its own), measured in the same run. Ours is the program's own
// monitoring loop taking the frames of both simulated cameras.
//
//   bench_scan [--busy] [steps]      (default 20 steps of 100 ms)
//
// The processor time counted is that of the program's threads: the
// simulated cameras' read-out workers stand in for the cameras' own
// electronics and are left out.
#include <dlfcn.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bound_devices.h"
#include "bench/conditions.h"
#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/monitoring.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Processor seconds of this process's threads, without the simulated
// cameras' read-out workers.
double ProgramCpuSeconds() {
    double seconds = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/task", error)) {
        std::ifstream name(entry.path() / "comm");
        std::string comm;
        std::getline(name, comm);
        if (comm.rfind("camsim", 0) == 0) continue;
        std::ifstream in(entry.path() / "schedstat");
        long long run = 0;
        if (in >> run) seconds += run / 1e9;
    }
    return seconds;
}

struct Result {
    double medianLatencyMs = 0;
    double maxLatencyMs = 0;
    double cpuOfOneCore = 0;
    double windowLateMs = 0;  // worst lateness of a 10 ms repaint tick
    int frames = 0;
    int offStep = 0, retaken = 0;  // frames exposed off their step, taken again
};

using SimCommandFn = int (*)(const char*, char*, int);
SimCommandFn g_sim = nullptr;

std::string Sim(const std::string& command) {
    std::vector<char> reply(1 << 20);
    g_sim(command.c_str(), reply.data(), static_cast<int>(reply.size()));
    return reply.data();
}

// When the stage finished each step of the last scan (the step counter
// counts it then), steady clock ns.
std::map<int, int64_t> StepTimes() {
    std::map<int, int64_t> finished;
    std::istringstream times(Sim("step_times"));
    for (int n = 0; times >> n;) {
        int64_t ns = 0;
        times >> ns;
        finished[n] = ns;
    }
    return finished;
}

// The cameras, configured for single frames of a series of `frames`, and
// one frame taken from each, as the settings OK's bias/dark frames would
// have (the simulated camera starts its read-out worker with the first).
void ConfigureCameras(int frames) {
    using pelu::state;
    for (int handle : {state.nCameraHandle1.load(), state.nCameraHandle2.load()}) {
        pelu::CameraSession session(handle);
        pelu::SetCameraParam(1, 4, 0, 0, 8, 8, 0.001f, 0, 0, frames, handle);
        const pelu::CameraSlot camera = pelu::CameraSlotOfHandle(handle);
        pelu::TakeImage(camera.width(), camera.height(), handle, 0);
    }
}

// One scan; `ours` runs the program's monitoring loop with both cameras,
// otherwise the loop as first specified, without cameras.
Result Scan(int steps, bool ours) {
    using namespace pelu;
    scanner.g_fScanPollPauseMs = ours ? kScanPollPauseMs : 0.0;
    state.scan_mode = 0;
    state.g_nFrameNumber1 = steps;
    state.pelu_take_mode = 1;
    state.PmacAccessible = 1;
    ScanCommandWrite(steps, 100.0f, 4.0f, 0.0f, 0.0f);
    // Back home before the scan, as the run waits for.
    std::string ignored;
    PmacCommand("#1J=0", &ignored);
    os::Delay(0.5);
    state.frames1.Start(steps);
    state.frames2.Start(steps);
    camsim::ClearTrace();

    std::map<int, int64_t> seen;
    std::thread monitor([&] {
        if (ours) {
            MonitoringThreadFunction();
            return;
        }
        while (state.PmacAccessible != 0) {
            ReadPosition();
            Monitor();
            if (state.take == 1) {
                seen[state.Scanpos_CCDframe] = NowNs();
                state.take = 0;
            }
        }
    });
    // Stands in for the window's repaint: a 10 ms tick and how late it came.
    std::atomic<bool> scanning{true};
    double windowLate = 0;
    std::thread window([&] {
        while (scanning) {
            const auto due = Clock::now() + std::chrono::milliseconds(10);
            std::this_thread::sleep_until(due);
            windowLate = std::max(
                windowLate, std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        }
    });

    const auto wallStart = Clock::now();
    const double cpuStart = ProgramCpuSeconds();
    ExecuteProgram(state.nCameraHandle1, 1);
    const double cpu = ProgramCpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    scanning = false;
    state.PmacAccessible = 0;
    monitor.join();
    window.join();

    Result r;
    if (ours) {
        // The frame of step n starts with camera 1's n-th StartAcquisition
        // (frames taken again after the scan come after all of them).
        int step = 0;
        for (const camsim::Call& call : camsim::Trace())
            if (call.text == "StartAcquisition()" && call.handle == state.nCameraHandle1 &&
                step < steps)
                seen.emplace(++step, std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         call.time.time_since_epoch())
                                         .count());
        r.offStep = scanner.g_nOffStepFrames;
        r.retaken = scanner.g_nRetakenFrames;
    }
    const std::map<int, int64_t> finished = StepTimes();
    std::vector<double> latencies;
    for (auto [n, at] : seen)
        if (finished.count(n)) latencies.push_back((at - finished.at(n)) / 1e6);
    std::sort(latencies.begin(), latencies.end());
    r.frames = static_cast<int>(seen.size());
    if (!latencies.empty()) {
        r.medianLatencyMs = latencies[latencies.size() / 2];
        r.maxLatencyMs = latencies.back();
    }
    r.cpuOfOneCore = cpu / wall;
    r.windowLateMs = windowLate;
    return r;
}

void Print(const char* name, const Result& r) {
    std::printf(
        "%-34s frames %3d  latency median %7.3f ms  max %7.3f ms  cpu %5.1f %% of one "
        "core  window tick late <= %6.2f ms  off step %d, retaken %d\n",
        name, r.frames, r.medianLatencyMs, r.maxLatencyMs, 100 * r.cpuOfOneCore, r.windowLateMs,
        r.offStep, r.retaken);
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = bench::TakeBusyFlag(&argc, argv);
    bench::BusyLoad load(busy ? 2 : 0);
    bench::PrintConditions("bench_scan", busy);
    const int steps = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    // Two cores, as the observing workstation has.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    CPU_SET(1, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);

    BindSimulatedDevices();
    ui::InitRuntime();
    os::SetTimeScale(1.0);
    const auto work = fs::temp_directory_path() / "pelu-scan-bench";
    fs::create_directories(work);
    for (const char* name : {"pelu.head", "pelu.tail"})
        fs::copy_file(fs::path(PELU_SITE_DIR) / name, work / name,
                      fs::copy_options::overwrite_existing);
    fs::current_path(work);

    camsim::Config config;
    config.trace = true;  // the StartAcquisition times
    camsim::Reset(config);
    pelu::ResetInstrumentState();
    pelu::ResetCameraGlobals();
    pelu::CamerasOn();
    ConfigureCameras(steps);

    void* library = dlopen(pelu::PmacLibraryPath().c_str(), RTLD_NOW | RTLD_NODELETE);
    if (library == nullptr) {
        std::fprintf(stderr, "bench_scan: %s\n", dlerror());
        return 1;
    }
    g_sim = reinterpret_cast<SimCommandFn>(dlsym(library, "PmacSimulatorCommand"));
    if (g_sim == nullptr || pelu::ScanOpen() != 1) {
        std::fprintf(stderr, "bench_scan: the simulated controller did not open\n");
        return 1;
    }
    while (pelu::scanner.g_nAmpOnSeq != 30) {
        pelu::ampon_timer();
        os::Delay(0.05);
    }

    // The link's round trip paces the loops; an instant link is the worst case.
    bool allMet = true;
    for (const char* link : {"50", "0"}) {
        Sim(std::string("reply_us ") + link);
        const Result baseline = Scan(steps, false);
        const Result ours = Scan(steps, true);
        std::printf("scan of %d steps of 100 ms, simulated link %s us a command, 2 cores\n", steps,
                    link);
        Print("baseline (no pause, no cameras)", baseline);
        Print("program (monitoring loop, cameras)", ours);
        const bool latencyMet = ours.frames == steps && ours.medianLatencyMs <= 2.0;
        const bool cpuMet = ours.cpuOfOneCore <= 0.10;
        const bool windowMet = ours.windowLateMs <= 50.0;
        allMet = allMet && latencyMet && cpuMet && windowMet;
        std::printf(
            "latency step reached -> frame started, median %.3f ms   target <= 2 ms with "
            "every frame: %s\n",
            ours.medianLatencyMs, bench::Verdict(latencyMet));
        std::printf(
            "cpu of the program while it scans %.1f %% of one core (baseline %.1f %%)   "
            "target <= 10 %%: %s\n",
            100 * ours.cpuOfOneCore, 100 * baseline.cpuOfOneCore, bench::Verdict(cpuMet));
        std::printf("window tick late <= %.1f ms   target <= 50 ms: %s\n\n", ours.windowLateMs,
                    bench::Verdict(windowMet));
    }
    pelu::CloseDevice();
    ui::ResetRuntime();
    return allMet ? 0 : 1;
}
