// Observation runs on the simulated instrument, driven through the panels as
// the observer drives them (cameras on, scanner on, settings OK, Run), with
// both cameras taking a frame at every step of the scan:
//
//  1. no frame lost or misplaced: the cameras look at a light whose column
//     pattern encodes the scan step the stage stands at when the exposure
//     starts, so every stored frame says which step it was taken at; a frame
//     left empty, exposed while the stage moved or at another step counts as
//     wrong, and the FITS files are read back and compared with the series;
//  2. host overhead of the scan: from the motion program's start on the
//     controller to both series stored in their FITS files, against the
//     same program run on the controller without cameras (the baseline,
//     measured in the same run);
//  3. peak memory of a 1000-step run, from just before the settings OK
//     allocates the series to the end of the run, against the size of its
//     two series.
//
//   bench_run [--busy] [scans] [scan-time-scale] [memory-time-scale]   (defaults 3, 1, 0.5;
//                                                                     memory scale 0 skips it)
//
// With --busy two CPU-bound processes run beside it the whole time.
//
// The scans of 1 and 2 run at the instrument's own pace by default: the host
// work (frame rendering, file writing) does not shrink with the time scale,
// so only an unscaled scan gives an overhead that means something. The
// memory run goes at half the pace: much faster, the stage would stand on a
// step for less time than a frame takes, and every frame would be retaken.
//
// The bias/dark series the settings OK takes is freed before the series are
// allocated, but glibc keeps it in the heap once earlier frees have raised its
// mmap threshold; MALLOC_MMAP_THRESHOLD_=131072 shows the growth without it.
#include <dlfcn.h>
#include <fitsio.h>
#include <malloc.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bound_devices.h"
#include "bench/conditions.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "platform/os/realtime.h"
#include "platform/ui/headless.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// ---- the scanner controller's simulator ------------------------------------------------

using SimCommandFn = int (*)(const char*, char*, int);
using SimTimeScaleFn = void (*)(double);
SimCommandFn g_sim = nullptr;
SimTimeScaleFn g_simTimeScale = nullptr;

std::string Sim(const std::string& command) {
    std::vector<char> reply(1 << 20);
    g_sim(command.c_str(), reply.data(), static_cast<int>(reply.size()));
    return reply.data();
}

// Where the stage stands now, in controller counts.
double StageCounts() {
    char reply[64] = {};
    g_sim("stage", reply, sizeof reply);
    return std::atof(reply);
}

// When the program's step counter p1 took each value (steady clock, ns).
std::vector<std::pair<int, int64_t>> StepTimes() {
    std::vector<std::pair<int, int64_t>> times;
    std::istringstream in(Sim("step_times"));
    for (int n = 0; in >> n;) {
        int64_t ns = 0;
        in >> ns;
        times.emplace_back(n, ns);
    }
    return times;
}

// The last time the program started (p1 set to 0) at or after index `from`.
int64_t ProgramStartNs(size_t from) {
    const auto times = StepTimes();
    int64_t start = 0;
    for (size_t i = from; i < times.size(); ++i)
        if (times[i].first == 0) start = times[i].second;
    return start;
}

void SetTimeScale(double scale) {
    os::SetTimeScale(scale);
    g_simTimeScale(scale);
}

// ---- a light that says where the stage stood -----------------------------------------------

// The sensor's columns are cut into bands: band 0 stays dark, band 1 is lit
// only while the stage stands on a step position (within a tenth of a step),
// and bands 2.. carry the step number in binary, lowest bit first.
constexpr int kBands = 12;
constexpr int kStepBits = kBands - 2;  // steps up to 1023
// Photo-electrons a lit unbinned pixel collects in one exposure, whatever its
// length: a binned pixel stands far above the noise and far below saturation.
constexpr double kLitElectrons = 200.0;
constexpr double kOnStepTolerance = 0.1;  // of a step

int BandOfColumn(int column, int detectorWidth) {
    return column * kBands / detectorWidth;
}

class StepLight : public camsim::LightModel {
  public:
    void SetCountsPerStep(double counts) { countsPerStep_.store(counts); }
    // When each camera's exposures started (steady clock, ns), in order.
    std::vector<int64_t> Exposures(int camera) const {
        std::lock_guard lock(mutex_);
        return exposures_[std::clamp(camera, 0, 1)];
    }
    void ClearExposures() {
        std::lock_guard lock(mutex_);
        exposures_[0].clear();
        exposures_[1].clear();
    }

    void RowRate(const camsim::ExposureContext& context, int, int x0, int count,
                 double* rate) const override {
        const Code code = CodeOf(context);
        const double lit =
            context.exposureSeconds > 0 ? kLitElectrons / context.exposureSeconds : 0;
        for (int i = 0; i < count; ++i) {
            const int band = BandOfColumn(x0 + i, context.detectorWidth);
            bool on = false;
            if (band == 1)
                on = code.onStep;
            else if (band >= 2)
                on = ((code.step >> (band - 2)) & 1) != 0;
            rate[i] = on ? lit : 0.0;
        }
    }

  private:
    struct Code {
        int step = 0;
        bool onStep = false;
    };
    // The stage is probed once per exposure, when the frame is rendered:
    // that is when the simulated exposure starts.
    Code CodeOf(const camsim::ExposureContext& context) const {
        const int camera = std::clamp(context.camera, 0, 1);
        std::lock_guard lock(mutex_);
        Cached& cached = cached_[camera];
        if (!cached.valid || cached.frame != context.frameNumber) {
            const double perStep = countsPerStep_.load();
            const double position = StageCounts();
            const double steps = perStep > 0 ? position / perStep : 0;
            cached.code.step = static_cast<int>(std::lround(steps));
            cached.code.onStep =
                perStep > 0 && std::fabs(steps - cached.code.step) <= kOnStepTolerance;
            cached.frame = context.frameNumber;
            cached.valid = true;
            exposures_[camera].push_back(NowNs());
        }
        return cached.code;
    }

    struct Cached {
        bool valid = false;
        uint64_t frame = 0;
        Code code;
    };
    std::atomic<double> countsPerStep_{0};
    mutable std::mutex mutex_;
    mutable Cached cached_[2];
    mutable std::vector<int64_t> exposures_[2];
};

constexpr int kNotOnStep = -1;  // exposed while the stage moved
constexpr int kEmpty = -2;      // not even the sensor's bias: never stored

// The step a stored frame was taken at, or one of the two codes above.
int DecodeStep(const uint16_t* frame, int width, int height, int detectorWidth) {
    const int bin = detectorWidth / width;
    double sum[kBands] = {};
    long count[kBands] = {};
    for (int y = 0; y < height; ++y) {
        const uint16_t* row = frame + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            const int band = BandOfColumn(x * bin, detectorWidth);
            if (BandOfColumn(x * bin + bin - 1, detectorWidth) != band) continue;  // straddles
            sum[band] += row[x];
            ++count[band];
        }
    }
    double mean[kBands];
    for (int b = 0; b < kBands; ++b) {
        if (count[b] == 0) return kEmpty;
        mean[b] = sum[b] / double(count[b]);
    }
    if (mean[0] < 100.0) return kEmpty;  // the bias alone gives about 1000 counts
    const double contrast = mean[1] - mean[0];
    if (contrast < 500.0) return kNotOnStep;  // lit stands thousands of counts above dark
    const double threshold = mean[0] + contrast / 2;
    int step = 0;
    for (int bit = 0; bit < kStepBits; ++bit) {
        const double m = mean[2 + bit];
        if (std::fabs(m - threshold) < contrast / 4) return kNotOnStep;  // neither lit nor dark
        if (m > threshold) step |= 1 << bit;
    }
    return step;
}

// The decoder on made-up frames: one showing step 37, one never stored and
// one exposed between steps must read as such.
bool DecoderSound() {
    const int width = 128, height = 4, detectorWidth = 512;
    std::vector<uint16_t> frame(size_t(width) * height);
    auto paint = [&](bool onStep, int step) {
        for (int x = 0; x < width; ++x) {
            const int band = BandOfColumn(x * 4, detectorWidth);
            const bool lit = band == 1 ? onStep : band >= 2 && ((step >> (band - 2)) & 1) != 0;
            for (int y = 0; y < height; ++y) frame[size_t(y) * width + x] = lit ? 4200 : 1000;
        }
        return DecodeStep(frame.data(), width, height, detectorWidth);
    };
    const bool stepRead = paint(true, 37) == 37;
    const bool movingRead = paint(false, 37) == kNotOnStep;
    std::fill(frame.begin(), frame.end(), 0);
    const bool emptyRead = DecodeStep(frame.data(), width, height, detectorWidth) == kEmpty;
    return stepRead && movingRead && emptyRead;
}

// ---- the program, headless ------------------------------------------------------------------

ui::HeadlessFrontEnd g_frontEnd;

bool Script(const std::string& text) {
    ui::ScriptRunner runner(&g_frontEnd, "bench_run");
    const ui::ScriptResult r = runner.RunText("timeout 60000\n" + text);
    if (!r.ok)
        std::fprintf(stderr, "bench_run: script line %d (%s): %s\n", r.line, r.command.c_str(),
                     r.message.c_str());
    return r.ok;
}

std::string Status() {
    return pelu::GetText(pelu::state.mainPanel, pelu::MAIN_STATUS);
}

bool WaitFor(const std::function<bool()>& condition, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The run has returned once it undims the camera view switches again (both
// cameras selected); it dims them when it starts.
bool RunReturned() {
    int dimmed = 1;
    ui::GetCtrlAttribute(pelu::state.mainPanel, pelu::MAIN_VIEW_CCD2, ui::ATTR_DIMMED, &dimmed);
    return dimmed == 0;
}

std::string Settings(int frames, const char* exposure, int repetitions) {
    std::ostringstream s;
    s << "commit MAIN.SETUP\n"
         "set CAMERA_PAGE.CAMERA \"Both CCDs(2CCD in 1 Step)\"\n"
         "commit CAMERA_PAGE.CAMERA\n"
         "set CAMERA_PAGE.TAKEMODE \"Single scan\"\n"
      << "set CAMERA_PAGE.FRAMES " << frames << "\n"
      << "set CAMERA_PAGE.REPEAT " << repetitions << "\n"
      << "set CAMERA_PAGE.EXPOSURE " << exposure << "\n"
      << "set CAMERA_PAGE.GAIN 0\n"
         "set CAMERA_PAGE.BINNING \"4 x 4\"\n"
         "commit CAMERA_PAGE.BINNING\n"
         "set SCANNER_PAGE.SCANMODE \"Spectrograph (steps)\"\n"
         "commit SCANNER_PAGE.SCANMODE\n"
         "set SCANNER_PAGE.STEPSIZE 4\n"
         "commit SETTINGS.OK\n";
    return s.str();
}

std::set<fs::path> SeriesFiles(const fs::path& root) {
    std::set<fs::path> files;
    if (!fs::exists(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".fts" || name.find("_BiasDark") != std::string::npos ||
            name.find("_Flat") != std::string::npos)
            continue;
        files.insert(entry.path());
    }
    return files;
}

// The new series file of camera `letter` ('A' or 'B').
fs::path NewSeries(const std::set<fs::path>& before, const std::set<fs::path>& after, char letter) {
    for (const fs::path& p : after) {
        if (before.count(p)) continue;
        const std::string name = p.filename().string();
        const std::string tag = std::string("_") + letter;
        if (name.find(tag + ".fts") != std::string::npos ||
            name.find(tag + "_") != std::string::npos)
            return p;
    }
    return {};
}

// True when the FITS file holds exactly these samples.
bool FileHolds(const fs::path& path, const uint16_t* samples, size_t count) {
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_file(&file, path.c_str(), READONLY, &status) != 0) return false;
    long naxes[3] = {0, 0, 0};
    int naxis = 0;
    fits_get_img_dim(file, &naxis, &status);
    fits_get_img_size(file, 3, naxes, &status);
    std::vector<uint16_t> data(count);
    int anynull = 0;
    const bool sized = status == 0 && naxis == 3 && size_t(naxes[0] * naxes[1] * naxes[2]) == count;
    if (sized)
        fits_read_img(file, TUSHORT, 1, long(count), nullptr, data.data(), &anynull, &status);
    int closeStatus = 0;
    fits_close_file(file, &closeStatus);
    return sized && status == 0 && std::memcmp(data.data(), samples, count * sizeof(uint16_t)) == 0;
}

// ---- memory ------------------------------------------------------------------------------------

long StatusKb(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

// Starts the peak resident size afresh from the present one.
bool ResetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return out.good();
}

// Nanoseconds the threads of this process have spent waiting for a processor
// while runnable, all of them and the one with the given id.
struct RunnableWait {
    int64_t all = 0, one = 0;
};
RunnableWait RunnableWaitNs(int tid) {
    RunnableWait w;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/self/task", error)) {
        std::ifstream in(entry.path() / "schedstat");
        long long run = 0, wait = 0;
        if (!(in >> run >> wait)) continue;
        w.all += wait;
        if (std::atoi(entry.path().filename().c_str()) == tid) w.one += wait;
    }
    return w;
}

// ---- the measurements ------------------------------------------------------------------------

struct ScanTiming {
    int64_t programStartNs = 0;  // the motion program started on the controller
    int64_t scanEndNs = 0;       // the run saw the program end
    int64_t storedNs = 0;        // both series written
    RunnableWait waited;         // runnable but without a processor, during the scan
    double worstWakeLateMs = 0;  // of a 2 ms sleep beside the run, while it scanned
    bool complete = false;
};

// Watches a run from beside it: the scanning flag for the end of the
// program, the status box for the line the run writes once both files are
// written.
class RunWatch {
  public:
    explicit RunWatch(size_t statusFrom) : from_(statusFrom) {
        thread_ = std::thread([this] { Watch(); });
    }
    ~RunWatch() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    ScanTiming Finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return timing_;
    }

  private:
    void Watch() {
        // The watch takes its time stamps ahead of other work where the
        // system allows it (between the run's two threads), so that a busy
        // computer does not make the run look slower than it is. Light
        // polling while the cameras need the processor; closer once the
        // program has ended and the files are being written.
        const os::RealTimeSection measuring((os::kAcquisitionPriority + os::kScanWatchPriority) /
                                            2);
        const auto slow = std::chrono::milliseconds(2);
        const auto pause = std::chrono::milliseconds(1);
        while (!stop_ && pelu::state.Scanning.load() == 0) std::this_thread::sleep_for(slow);
        // How late this thread's own wake-ups come while the scan runs tells
        // a stall of the whole host from one of the run's threads.
        while (!stop_ && pelu::state.Scanning.load() != 0) {
            const auto due = Clock::now() + slow;
            std::this_thread::sleep_until(due);
            timing_.worstWakeLateMs =
                std::max(timing_.worstWakeLateMs,
                         std::chrono::duration<double, std::milli>(Clock::now() - due).count());
        }
        if (stop_) return;
        timing_.scanEndNs = NowNs();
        for (;;) {
            const std::string text = Status();
            if (text.size() > from_ &&
                text.find("CCD 1: frames stored", from_) != std::string::npos) {
                timing_.storedNs = NowNs();
                timing_.complete = true;
                return;
            }
            if (stop_) return;
            std::this_thread::sleep_for(pause);
        }
    }

    size_t from_;
    std::atomic<bool> stop_{false};
    ScanTiming timing_;
    std::thread thread_;
};

// The downloaded program run on the controller alone, no camera and no run
// around it: its own duration, from its start to the controller reporting it
// ended, polled without pause.
double ProgramAloneSeconds() {
    std::string reply;
    WaitFor([] { return std::fabs(StageCounts()) < 1.0; }, 60);
    const size_t from = StepTimes().size();
    pelu::PmacCommand("&1 b1 r", &reply);
    for (;;) {
        if (!pelu::PmacCommand("m180", &reply)) return -1;
        if (!reply.empty() && reply[0] == '0') break;
    }
    const int64_t end = NowNs();
    const int64_t start = ProgramStartNs(from);
    return start > 0 ? (end - start) / 1e9 : -1;
}

// How long after the stage reached each step the camera's exposure started:
// median, 90th percentile and worst, in ms.
struct Delays {
    double median = 0, p90 = 0, worst = 0;
    int count = 0;
};
Delays ExposureDelays(const std::vector<int64_t>& exposures, size_t stepTimesFrom, int steps) {
    const auto times = StepTimes();
    std::vector<int64_t> reached(size_t(steps) + 1, 0);
    for (size_t i = stepTimesFrom; i < times.size(); ++i)
        if (times[i].first >= 1 && times[i].first <= steps && reached[size_t(times[i].first)] == 0)
            reached[size_t(times[i].first)] = times[i].second;
    std::vector<double> delays;
    for (int k = 1; k <= steps && size_t(k) <= exposures.size(); ++k)
        if (reached[size_t(k)] > 0)
            delays.push_back((exposures[size_t(k) - 1] - reached[size_t(k)]) / 1e6);
    Delays d;
    if (delays.empty()) return d;
    std::sort(delays.begin(), delays.end());
    d.count = int(delays.size());
    d.median = delays[delays.size() / 2];
    d.p90 = delays[delays.size() * 9 / 10];
    d.worst = delays.back();
    return d;
}

struct Camera {
    const char* name;
    const pelu::Buffer<uint16_t>* raw;
    int width, height, detectorWidth;
    size_t Plane() const { return size_t(width) * size_t(height); }
};

Camera CameraOf(int number) {
    using pelu::state;
    if (number == 2)
        return {"CCD 2", &state.g_pRawData2, state.nhDim2, state.nvDim2, state.g_nXPixels2};
    return {"CCD 1", &state.g_pRawData, state.nhDim1, state.nvDim1, state.g_nXPixels1};
}

// Frames of the series whose content shows the step they belong to; the
// first few wrong ones are listed.
int CorrectFrames(const Camera& camera, int frames) {
    int correct = 0, listed = 0;
    if (camera.raw->size() < camera.Plane() * size_t(frames)) return 0;
    for (int f = 0; f < frames; ++f) {
        const int step = DecodeStep(camera.raw->get() + camera.Plane() * size_t(f), camera.width,
                                    camera.height, camera.detectorWidth);
        if (step == f + 1) {
            ++correct;
        } else if (listed++ < 5) {
            if (step == kEmpty)
                std::printf("    %s frame %d: empty\n", camera.name, f + 1);
            else if (step == kNotOnStep)
                std::printf("    %s frame %d: not taken on a step position\n", camera.name, f + 1);
            else
                std::printf("    %s frame %d: taken at step %d\n", camera.name, f + 1, step);
        }
    }
    return correct;
}

// One scan of the run, checked: its frames, how late the exposures came
// after the stage reached each step, and the time to both series stored.
struct ScanResult {
    int correct[2] = {0, 0};
    int offStep = 0, retaken = 0;  // as the scan counted them
    bool filesHoldSeries[2] = {false, false};
    Delays delays[2];
    ScanTiming timing;
};

ScanResult CheckScan(const StepLight& light, const ScanTiming& timing, size_t stepTimesFrom,
                     const std::set<fs::path>& filesBefore, const fs::path& root, int steps) {
    ScanResult r;
    r.timing = timing;
    r.timing.programStartNs = ProgramStartNs(stepTimesFrom);
    const std::set<fs::path> filesAfter = SeriesFiles(root);
    for (int c = 0; c < 2; ++c) {
        const Camera camera = CameraOf(c + 1);
        r.correct[c] = CorrectFrames(camera, steps);
        const fs::path file = NewSeries(filesBefore, filesAfter, c == 0 ? 'A' : 'B');
        r.filesHoldSeries[c] =
            !file.empty() && FileHolds(file, camera.raw->get(), camera.Plane() * size_t(steps));
        r.delays[c] = ExposureDelays(light.Exposures(c), stepTimesFrom, steps);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const bool busy = bench::TakeBusyFlag(&argc, argv);
    bench::BusyLoad load(busy ? 2 : 0);
    bench::PrintConditions("bench_run", busy);
    BindSimulatedDevices();
    using pelu::state;
    const int scans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double scanScale = argc > 2 ? std::atof(argv[2]) : 1.0;
    const double memoryScale = argc > 3 ? std::atof(argv[3]) : 0.5;
    const double setUpScale = 0.05;  // switching on, homing, settings
    const int scanSteps = 100, memorySteps = 1000;
    const char* exposure = "0.001";

    if (!DecoderSound()) {
        std::fprintf(stderr, "bench_run: the frame decoder misreads made-up frames\n");
        return 1;
    }
    PinToTwoCores();
    const fs::path work = EnterBenchFolder("pelu-run-bench", PELU_SITE_DIR);
    os::SetTimeScale(setUpScale);

    void* library = dlopen(pelu::PmacLibraryPath().c_str(), RTLD_NOW | RTLD_NODELETE);
    if (library == nullptr) {
        std::fprintf(stderr, "bench_run: %s\n", dlerror());
        return 1;
    }
    g_sim = reinterpret_cast<SimCommandFn>(dlsym(library, "PmacSimulatorCommand"));
    g_simTimeScale = reinterpret_cast<SimTimeScaleFn>(dlsym(library, "PmacSimulatorTimeScale"));
    if (g_sim == nullptr || g_simTimeScale == nullptr) {
        std::fprintf(stderr, "bench_run: not the simulated scanner controller\n");
        return 1;
    }

    auto light = std::make_shared<StepLight>();
    camsim::Config config;
    config.trace = false;  // its record would grow with every frame
    config.light = light;
    camsim::Reset(config);

    ui::InitRuntime();
    ui::SetFrontEnd(&g_frontEnd);
    pelu::ResetInstrumentState();
    pelu::RegisterControlCallbacks();
    pelu::RegisterDataCallbacks();
    pelu::RegisterMotorCallbacks();
    pelu::RegisterScannerCallbacks();
    std::atomic<int> programResult{-99};
    // The program's thread runs the callbacks, the run and its scan program.
    std::atomic<int> programTid{0};
    std::thread program([&] {
        programTid = static_cast<int>(gettid());
        programResult = pelu::PELU_main();
    });
    if (!WaitFor([] { return ui::detail::DispatcherRunning(); }, 30)) {
        std::fprintf(stderr, "bench_run: the program did not start\n");
        return 1;
    }

    bool ok = Script(
        "commit MAIN.CCD_TOGGLE\nexpect status \"Open Complete\"\n"
        "commit MAIN.SCAN_TOGGLE\nexpect status \"Amp is turned ON\"\n");
    ok = ok && WaitFor([] { return pelu::scanner.g_nAmpOnSeq == 30; }, 120);
    if (!ok) {
        std::fprintf(stderr, "bench_run: the devices did not come on\n");
        std::_Exit(1);
    }

    // ---- 1 and 2: scans of 100 steps, both cameras in every step ----------------------------
    ok = Script(Settings(scanSteps, exposure, scans) + "expect status \"Scanner_status is 1\"\n");
    if (!ok) std::_Exit(1);
    light->SetCountsPerStep(pelu::kCountsPerUnit * state.scan_size);
    const float stepMs = state.scan_duration;
    const double restMs = 0.3 * stepMs * scanScale;  // the rest of the step is the move
    SetTimeScale(scanScale);
    std::printf(
        "%d scans of %d steps of %.0f ms (the stage rests %.1f ms of each), exposure %s s, "
        "4 x 4 binning, both cameras in every step; time scale %g, 2 cores, load average "
        "%.2f\n",
        scans, scanSteps, stepMs, restMs / scanScale, exposure, scanScale, bench::LoadAverage());
    std::printf("  frames %d x %d (CCD 1) and %d x %d (CCD 2)\n", CameraOf(1).width,
                CameraOf(1).height, CameraOf(2).width, CameraOf(2).height);

    // The run waits for the observer after every scan: the series are checked
    // then, and Run starts the next scan.
    std::vector<ScanResult> results;
    for (int i = 0; i < scans && ok; ++i) {
        const std::set<fs::path> filesBefore = SeriesFiles(work / "E");
        const size_t stepTimesBefore = StepTimes().size();
        light->ClearExposures();
        ScanTiming timing;
        const size_t statusBefore = Status().size();
        const RunnableWait waitBefore = RunnableWaitNs(programTid);
        {
            RunWatch watch(Status().size());
            // Run starts the run, and between scans goes on with the next;
            // the commit comes back while the scan runs.
            ok = Script("commit MAIN.RUN\nexpect status \"Repetition " + std::to_string(i + 1) +
                        " of " + std::to_string(scans) + " done\"\n");
            timing = watch.Finish();
        }
        const RunnableWait waitAfter = RunnableWaitNs(programTid);
        timing.waited = {waitAfter.all - waitBefore.all, waitAfter.one - waitBefore.one};
        std::printf("  scan %d:\n", i + 1);
        results.push_back(
            CheckScan(*light, timing, stepTimesBefore, filesBefore, work / "E", scanSteps));
        ScanResult& r = results.back();
        r.offStep = pelu::scanner.g_nOffStepFrames;
        r.retaken = pelu::scanner.g_nRetakenFrames;
        std::printf("    frames exposed off their step %d, taken again at their step %d\n",
                    r.offStep, r.retaken);
        {
            // What the scan said about its frames.
            std::istringstream said(Status().substr(std::min(statusBefore, Status().size())));
            for (std::string line; std::getline(said, line);)
                if (line.find("step") != std::string::npos ||
                    line.find("late") != std::string::npos ||
                    line.find("not taken") != std::string::npos)
                    std::printf("    status: %s\n", line.c_str());
        }
        for (int c = 0; c < 2; ++c)
            std::printf(
                "    CCD %d frames correct %3d of %d; FITS file holds the series: %s; exposure "
                "start after the step was reached: median %.1f ms, 90 %% %.1f ms, worst "
                "%.1f ms\n",
                c + 1, r.correct[c], scanSteps, r.filesHoldSeries[c] ? "yes" : "NO",
                r.delays[c].median, r.delays[c].p90, r.delays[c].worst);
        if (r.timing.complete && r.timing.programStartNs > 0)
            std::printf(
                "    program start to scan end seen %.3f s, to both series stored %.3f s; "
                "a 2 ms sleep beside the run woke up to %.1f ms late; runnable without "
                "a processor: run thread %.0f ms, all threads %.0f ms\n",
                (r.timing.scanEndNs - r.timing.programStartNs) / 1e9,
                (r.timing.storedNs - r.timing.programStartNs) / 1e9, r.timing.worstWakeLateMs,
                r.timing.waited.one / 1e6, r.timing.waited.all / 1e6);
    }
    ok = ok && Script("commit MAIN.STOP\n") && WaitFor(RunReturned, 60);

    // The same program on the controller alone, twice; the shorter counts.
    const double alone1 = ProgramAloneSeconds();
    const double alone2 = ProgramAloneSeconds();
    const double alone = std::min(alone1, alone2);

    int worst[2] = {scanSteps, scanSteps}, total[2] = {0, 0};
    bool filesOk = true;
    std::vector<double> ratios;
    for (const ScanResult& r : results) {
        for (int c = 0; c < 2; ++c) {
            worst[c] = std::min(worst[c], r.correct[c]);
            total[c] += r.correct[c];
            filesOk = filesOk && r.filesHoldSeries[c];
        }
        if (r.timing.complete && r.timing.programStartNs > 0 && alone > 0)
            ratios.push_back((r.timing.storedNs - r.timing.programStartNs) / 1e9 / alone);
    }
    const int n = static_cast<int>(results.size());
    const bool lossless = n == scans && worst[0] == scanSteps && worst[1] == scanSteps && filesOk;
    std::printf(
        "1. lossless: frames correct, worst scan: CCD 1 %d of %d, CCD 2 %d of %d "
        "(all %d scans: %d and %d of %d); FITS files hold the series: %s\n"
        "   target %d of %d in every scan: %s\n",
        worst[0], scanSteps, worst[1], scanSteps, n, total[0], total[1], n * scanSteps,
        filesOk ? "yes" : "NO", scanSteps, scanSteps, bench::Verdict(lossless));
    if (ratios.size() == size_t(n) && n > 0) {
        std::sort(ratios.begin(), ratios.end());
        std::printf(
            "2. overhead: program alone on the controller %.3f s (%.3f, %.3f; %d x %.0f ms "
            "x %g = %.3f s, then the return home)\n",
            alone, alone1, alone2, scanSteps, stepMs, scanScale,
            scanSteps * stepMs / 1000.0 * scanScale);
        std::printf(
            "   ratio (program start to both series stored / program alone) median %.4f, "
            "worst %.4f   target <= 1.02: %s\n",
            ratios[ratios.size() / 2], ratios.back(), bench::Verdict(ratios.back() <= 1.02));
    } else {
        std::printf(
            "2. overhead: NOT measured (%zu of %d scans timed, baseline %.3f s)   "
            "target <= 1.02: NOT met\n",
            ratios.size(), n, alone);
    }

    // ---- 3: peak memory of a 1000-step run --------------------------------------------------
    if (memoryScale > 0) {
        SetTimeScale(setUpScale);
        {
            // What the settings OK frees first: the run starts from no series at all.
            pelu::CameraLock cameras;
            pelu::FreeFrameBuffers();
        }
        malloc_trim(0);
        const long rssBeforeKb = StatusKb("VmRSS");
        const bool peakReset = ResetPeak();
        ok = Script(Settings(memorySteps, exposure, 1) + "expect status \"Scanner_status is 1\"\n");
        const long rssSetKb = StatusKb("VmRSS"), peakSetKb = StatusKb("VmHWM");
        SetTimeScale(memoryScale);
        // The scans above said "Repetition 1 of 1 done" already: a fresh box.
        ui::ResetTextBox(state.mainPanel, pelu::MAIN_STATUS, "");
        const auto memoryStart = Clock::now();
        ok = ok && Script("commit MAIN.RUN\nexpect status \"Repetition 1 of 1 done\"\n");
        const double memoryRunSeconds =
            std::chrono::duration<double>(Clock::now() - memoryStart).count();
        const long rssStoredKb = StatusKb("VmRSS"), peakStoredKb = StatusKb("VmHWM");
        ok = ok && Script("commit MAIN.STOP\n") && WaitFor(RunReturned, 120);
        const long peakKb = StatusKb("VmHWM");
        const long rssEndKb = StatusKb("VmRSS");
        const Camera big1 = CameraOf(1), big2 = CameraOf(2);
        const double seriesBytes = 2.0 * memorySteps * double(big1.Plane() + big2.Plane());
        const double growth = (peakKb - rssBeforeKb) * 1024.0;
        std::printf(
            "3. memory: %d-step run (time scale %g, %.1f s from Run to the run waiting), "
            "two series of %.1f MB\n",
            memorySteps, memoryScale, memoryRunSeconds, seriesBytes / 1e6);
        std::printf(
            "   resident before the settings %.1f MB, peak to the end of the run %.1f MB%s\n",
            rssBeforeKb * 1024.0 / 1e6, peakKb * 1024.0 / 1e6,
            peakReset ? "" : " (peak not reset: since program start)");
        auto mb = [&](long kb) { return (kb - rssBeforeKb) * 1024.0 / 1e6; };
        std::printf(
            "   growth in MB (resident / peak so far): after the settings OK %.1f / %.1f, "
            "series stored %.1f / %.1f, run ended %.1f / %.1f\n",
            mb(rssSetKb), mb(peakSetKb), mb(rssStoredKb), mb(peakStoredKb), mb(rssEndKb),
            mb(peakKb));
        const double memoryRatio = growth / seriesBytes;
        std::printf("   ratio (peak growth / two series) %.3f   target <= 1.1: %s\n", memoryRatio,
                    bench::Verdict(memoryRatio <= 1.1));
    } else {
        std::printf("3. memory: not measured (memory time scale 0)\n");
    }

    for (const ui::PopupRecord& popup : g_frontEnd.Popups())
        std::printf("   popup during the bench: %s: %s\n", popup.title.c_str(), popup.text.c_str());
    if (!ok) std::printf("   a step of the bench script failed (see above)\n");

    SetTimeScale(setUpScale);
    Script("quit\n");
    program.join();
    ui::SetFrontEnd(nullptr);
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(work);
    return ok ? 0 : 1;
}
