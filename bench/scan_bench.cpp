// Scan polling on the simulated controller: how soon a reached step becomes a
// frame request, and how much processor the polling loops take while a scan
// runs, on two cores. The baseline is the same scan polled without a pause
// (the scan loop as first specified), measured in the same run.
//
//   bench_scan [steps]      (default 20 steps of 100 ms)
#include <dlfcn.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/instrument_state.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           1e-6 * (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

struct Result {
    double medianLatencyMs = 0;
    double maxLatencyMs = 0;
    double cpuShare = 0;          // of the two cores
    double windowLateMs = 0;      // worst lateness of a 10 ms repaint tick
    double monitorPassesPerSecond = 0;
    int frames = 0;
};

using SimCommandFn = int (*)(const char*, char*, int);
SimCommandFn g_sim = nullptr;

std::string Sim(const std::string& command) {
    std::vector<char> reply(1 << 20);
    g_sim(command.c_str(), reply.data(), static_cast<int>(reply.size()));
    return reply.data();
}

Result Scan(int steps, double pauseMs) {
    using namespace pelu;
    g_fScanPollPauseMs = pauseMs;
    state.scan_mode = 0;
    state.g_nFrameNumber1 = steps;
    state.PmacAccessible = 1;
    ScanCommandWrite(steps, 100.0f, 4.0f, 0.0f, 0.0f);
    // Back home before the scan, as the run waits for.
    std::string ignored;
    PmacCommand("#1J=0", &ignored);
    os::Delay(0.5);

    std::map<int, int64_t> seen;
    std::atomic<long> passes{0};
    std::thread monitor([&] {
        while (state.PmacAccessible != 0) {
            ReadPosition();
            Monitor();
            if (state.take == 1) {
                seen[state.Scanpos_CCDframe] = NowNs();
                state.take = 0;
            }
            ++passes;
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
    const double cpuStart = CpuSeconds();
    ExecuteProgram();
    const double cpu = CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    scanning = false;
    state.PmacAccessible = 0;
    monitor.join();
    window.join();

    // When the stage finished each step: the step counter counts it then.
    std::map<int, int64_t> finished;
    std::istringstream times(Sim("step_times"));
    for (int n = 0; times >> n;) {
        int64_t ns = 0;
        times >> ns;
        finished[n] = ns;
    }
    std::vector<double> latencies;
    for (auto [n, at] : seen)
        if (finished.count(n)) latencies.push_back((at - finished[n]) / 1e6);
    std::sort(latencies.begin(), latencies.end());
    Result r;
    r.frames = static_cast<int>(seen.size());
    if (!latencies.empty()) {
        r.medianLatencyMs = latencies[latencies.size() / 2];
        r.maxLatencyMs = latencies.back();
    }
    r.cpuShare = cpu / (2.0 * wall);
    r.windowLateMs = windowLate;
    r.monitorPassesPerSecond = passes / wall;
    return r;
}

void Print(const char* name, const Result& r) {
    std::printf("%-22s frames %3d  latency median %7.3f ms  max %7.3f ms  cpu %5.1f %% of 2 cores"
                "  window tick late <= %6.2f ms  monitor %8.0f passes/s\n",
                name, r.frames, r.medianLatencyMs, r.maxLatencyMs, 100 * r.cpuShare,
                r.windowLateMs, r.monitorPassesPerSecond);
}

}  // namespace

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::max(2, std::atoi(argv[1])) : 20;
    // Two cores, as the observing workstation has.
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    CPU_SET(1, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);

    os::SetTimeScale(1.0);
    const auto work = std::filesystem::temp_directory_path() / "pelu-scan-bench";
    std::filesystem::create_directories(work);
    for (const char* name : {"pelu.head", "pelu.tail"})
        std::filesystem::copy_file(std::filesystem::path(PELU_SITE_DIR) / name, work / name,
                                   std::filesystem::copy_options::overwrite_existing);
    std::filesystem::current_path(work);

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
    while (pelu::g_nAmpOnSeq != 30) {
        pelu::ampon_timer();
        os::Delay(0.05);
    }

    // The link's round trip paces the loops; an instant link is the worst case.
    for (const char* link : {"50", "0"}) {
        Sim(std::string("reply_us ") + link);
        const Result baseline = Scan(steps, 0.0);
        const Result ours = Scan(steps, 0.2);
        std::printf("scan of %d steps of 100 ms, simulated link %s us a command, 2 cores\n", steps,
                    link);
        Print("baseline (no pause)", baseline);
        Print("scan poll (0.2 ms)", ours);
        std::printf("latency ratio (ours / baseline) %.2f   target median <= 2 ms: %s\n",
                    ours.medianLatencyMs / std::max(baseline.medianLatencyMs, 1e-9),
                    ours.medianLatencyMs <= 2.0 ? "met" : "NOT met");
        std::printf("cpu ratio (ours / baseline) %.2f   window tick late <= 50 ms: %s\n\n",
                    ours.cpuShare / std::max(baseline.cpuShare, 1e-9),
                    ours.windowLateMs <= 50.0 ? "met" : "NOT met");
    }
    pelu::CloseDevice();
    return 0;
}
