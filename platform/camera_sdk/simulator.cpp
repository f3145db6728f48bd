// The simulated camera pair. One mutex guards the simulator's state; each
// camera renders its frames on a worker thread of its own, as a real camera
// reads out while the host polls its status.
#include "platform/camera_sdk/simulator.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/camera_sdk/simulator_control.h"
#include "platform/os/os.h"
#include "platform/os/realtime.h"

namespace camsim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFirstHandle = 100;
// FIFO priority of the read-out workers: above every thread of the program.
constexpr int kReadoutPriority = os::kAcquisitionPriority + 10;
constexpr int kMaxCameras = 2;

// Instrument seconds between two moments of the host clock.
double InstrumentSeconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count() / os::TimeScale();
}

Clock::time_point After(Clock::time_point from, double instrumentSeconds) {
    return from + std::chrono::duration_cast<Clock::duration>(
                      std::chrono::duration<double>(instrumentSeconds * os::TimeScale()));
}

// Renders a camera's acquisition on its own thread into memory the camera
// keeps; the host copies it out with GetAcquiredData16.
class Renderer {
public:
    struct Job {
        FrameRequest request;
        SensorModel sensor;
        std::shared_ptr<const LightModel> light;
        int frames = 0;
        size_t frameSize = 0;
    };

    ~Renderer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            cancel_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    // Starts rendering; any earlier job has finished or been cancelled.
    void Start(Job job) {
        Cancel();
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t needed = size_t(job.frames) * job.frameSize;
        if (data_.size() < needed) data_.resize(needed);  // grows once per geometry, not per frame
        job_ = std::move(job);
        rendered_ = 0;
        cancel_ = false;
        pending_ = true;
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        wake_.notify_all();
    }

    // Stops a running job and waits until the worker has let go of the data.
    void Cancel() {
        std::unique_lock<std::mutex> lock(mutex_);
        cancel_ = true;
        pending_ = false;
        idle_.wait(lock, [this] { return !busy_; });
    }

    int Rendered() const { return rendered_.load(std::memory_order_acquire); }
    // Valid while no job runs.
    const uint16_t* Data() const { return data_.data(); }

private:
    void Run() {
        // The worker stands in for the camera's own electronics, which read
        // out whatever else the host does: it runs ahead of the host's
        // threads where the system allows it.
        const os::RealTimeSection realTime(kReadoutPriority);
        pthread_setname_np(pthread_self(), "camsim readout");
        std::vector<double> scratch;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || pending_; });
            if (stop_) return;
            pending_ = false;
            busy_ = true;
            Job job = job_;
            uint16_t* data = data_.data();
            lock.unlock();
            // A light that does not change is binned once for the whole series.
            const bool reuseLight = job.light && job.light->Static();
            if (reuseLight) BinnedLight(job.request, job.light.get(), scratch);
            for (int f = 0; f < job.frames && !cancel_.load(); ++f) {
                FrameRequest request = job.request;
                request.context.frameNumber += uint64_t(f);
                uint16_t* frame = data + size_t(f) * job.frameSize;
                if (reuseLight)
                    RenderFrameWithLight(request, job.sensor, scratch, frame, job.frameSize);
                else
                    RenderFrame(request, job.sensor, job.light.get(), frame, job.frameSize, scratch);
                rendered_.store(f + 1, std::memory_order_release);
            }
            lock.lock();
            busy_ = false;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::thread thread_;
    bool stop_ = false, pending_ = false, busy_ = false;
    std::atomic<bool> cancel_{false};
    std::atomic<int> rendered_{0};
    Job job_;
    std::vector<uint16_t> data_;
};

struct Camera {
    CameraModel model;
    int index = 0;
    int handle = 0;
    bool initialized = false;

    // settings
    int acquisitionMode = 1, frameTransfer = 0, kinetics = 1;
    float kineticCycle = 0;
    int readMode = 4, vsSpeed = 0, adChannel = 0, hsSpeed = 0;
    int shutterMode = 0, fanMode = 0, preAmpGain = 0, emGain = 0, triggerMode = 0;
    int hbin = 1, vbin = 1, hstart = 1, hend = 1, vstart = 1, vend = 1;
    float exposure = 0.01f;
    int baselineClamp = 0, baselineOffset = 0;

    // cooling
    bool coolerOn = false;
    int setPoint = 10;
    double temperature = 20;
    double held = 0;  // instrument seconds at the set point
    Clock::time_point thermalTime;

    // acquisition
    bool acquiring = false, continuous = false, hung = false, haveData = false;
    Clock::time_point readyAt;
    int seriesFrames = 0;
    size_t frameSize = 0;
    double lastSeconds = 0;
    uint64_t framesExposed = 0;
    Renderer renderer;

    void DefaultSettings() {
        acquisitionMode = 1;
        frameTransfer = 0;
        kinetics = 1;
        kineticCycle = 0;
        readMode = 4;
        vsSpeed = adChannel = hsSpeed = 0;
        shutterMode = fanMode = preAmpGain = emGain = triggerMode = 0;
        hbin = vbin = hstart = vstart = 1;
        hend = model.width;
        vend = model.height;
        exposure = 0.01f;
        baselineClamp = baselineOffset = 0;
    }
};

struct Simulator {
    std::mutex mutex;
    bool configured = false;
    Config config;
    std::vector<std::unique_ptr<Camera>> cameras;
    int current = 0;  // index of the current camera
    std::vector<Call> trace;
    std::vector<int> faultCounts;  // calls of each fault's name so far
};

Simulator& Sim() {
    static Simulator simulator;
    return simulator;
}

void Apply(Simulator& sim, const Config& config) {
    sim.cameras.clear();  // joins the workers
    sim.config = config;
    if (!sim.config.light) sim.config.light = std::make_shared<SpectrumLight>();
    const int count = std::clamp(config.cameras, 0, kMaxCameras);
    const Clock::time_point now = Clock::now();
    for (int i = 0; i < count; ++i) {
        auto camera = std::make_unique<Camera>();
        camera->model = i < int(config.models.size()) ? config.models[size_t(i)] : DefaultCamera(i);
        camera->index = i;
        camera->handle = kFirstHandle + i;
        camera->temperature = config.ambientCelsius;
        camera->thermalTime = now;
        camera->DefaultSettings();
        sim.cameras.push_back(std::move(camera));
    }
    sim.current = 0;
    sim.trace.clear();
    sim.faultCounts.assign(sim.config.faults.size(), 0);
    sim.configured = true;
}

void UpdateThermal(const Config& config, Camera& c, Clock::time_point now) {
    double dt = InstrumentSeconds(c.thermalTime, now);
    c.thermalTime = now;
    if (dt <= 0) return;
    const double target = c.coolerOn ? std::max<double>(c.setPoint, c.model.minTemperature)
                                     : config.ambientCelsius;
    const double rate = c.temperature > target ? config.coolingRate : config.warmingRate;
    const double distance = std::abs(target - c.temperature);
    if (rate * dt >= distance) {
        c.temperature = target;
        c.held = c.coolerOn ? c.held + dt - distance / rate : 0;
    } else {
        c.temperature += (target > c.temperature ? 1 : -1) * rate * dt;
        c.held = 0;
    }
}

unsigned TemperatureStatus(const Config& config, const Camera& c) {
    if (!c.coolerOn) return DRV_TEMP_OFF;
    if (std::abs(c.temperature - c.setPoint) >= 0.5) return DRV_TEMP_NOT_REACHED;
    if (c.held < config.stabiliseSeconds) return DRV_TEMP_NOT_STABILIZED;
    return DRV_TEMP_STABILIZED;
}

// Pixels per second the output amplifier reads at the selected speed.
double PixelRate(const Camera& c) {
    const auto& table = c.model.hsSpeeds;
    float speed = 1.0f;
    if (c.adChannel >= 0 && c.adChannel < int(table.size()) && c.hsSpeed >= 0 &&
        c.hsSpeed < int(table[size_t(c.adChannel)].size()))
        speed = table[size_t(c.adChannel)][size_t(c.hsSpeed)];
    if (speed <= 0) speed = 1.0f;
    return c.model.caps.ulCameraType == 1 ? speed * 1e6 : 1e6 / speed;
}

FrameRequest RequestOf(const Camera& c) {
    FrameRequest r;
    r.context.camera = c.index;
    r.context.detectorWidth = c.model.width;
    r.context.detectorHeight = c.model.height;
    r.context.exposureSeconds = c.exposure;
    r.context.frameNumber = c.framesExposed;
    r.hbin = c.hbin;
    r.vbin = c.vbin;
    r.hstart = c.hstart;
    r.hend = c.hend;
    r.vstart = c.vstart;
    r.vend = c.vend;
    r.temperatureCelsius = c.temperature;
    r.shutterOpen = c.shutterMode != 2;
    r.emGain = c.emGain;
    return r;
}

// Instrument seconds to read one frame: every row is shifted, the binned
// pixels go through the amplifier.
double ReadoutSeconds(const Camera& c) {
    float vs = c.vsSpeed >= 0 && c.vsSpeed < int(c.model.vsSpeeds.size())
                   ? c.model.vsSpeeds[size_t(c.vsSpeed)]
                   : 1.0f;
    const FrameRequest r = RequestOf(c);
    const double pixels = double(FrameWidth(r)) * double(FrameHeight(r));
    return 0.001 + c.model.height * vs * 1e-6 + pixels / PixelRate(c);
}

struct Timings {
    double exposure, accumulate, kinetic;
};
Timings TimingsOf(const Camera& c) {
    const double readout = ReadoutSeconds(c);
    const double exposure = c.exposure;
    double kinetic = c.frameTransfer ? std::max(exposure, readout) : exposure + readout;
    kinetic = std::max(kinetic, double(c.kineticCycle));
    return {exposure, exposure + readout, kinetic};
}

int SeriesFrames(const Camera& c) {
    const bool series = c.acquisitionMode == 3 || c.acquisitionMode == 6 || c.frameTransfer == 1;
    return series && c.kinetics > 1 ? c.kinetics : 1;
}

// ---- one call --------------------------------------------------------------------

void Append(std::ostringstream&) {}
template <class T, class... Rest>
void Append(std::ostringstream& out, const T& first, const Rest&... rest) {
    if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, std::string>)
        out << '"' << first << '"';
    else
        out << first;
    if constexpr (sizeof...(rest) > 0) {
        out << ", ";
        Append(out, rest...);
    }
}

bool IsPoll(std::string_view name) { return name == "GetStatus" || name == "GetTemperature"; }

// Holds the simulator for the length of one API call, finds the current
// camera, applies faults and records the call.
class CallScope {
public:
    explicit CallScope(const char* name) : lock_(Sim().mutex), sim_(Sim()), name_(name) {
        if (!sim_.configured) Apply(sim_, ConfigFromEnvironment());
        if (sim_.current >= 0 && sim_.current < int(sim_.cameras.size()))
            camera_ = sim_.cameras[size_t(sim_.current)].get();
    }
    Simulator& sim() { return sim_; }
    Camera* camera() { return camera_; }

    // Status before the call's own work: an injected fault, no camera, or a
    // camera not initialised (when the call needs it). DRV_SUCCESS to go on.
    unsigned Check(bool needsInitialize = true) {
        for (size_t i = 0; i < sim_.config.faults.size(); ++i) {
            const Fault& f = sim_.config.faults[i];
            if (f.call != name_) continue;
            if (f.handle != 0 && (!camera_ || camera_->handle != f.handle)) continue;
            if (sim_.faultCounts[i]++ >= f.after) return f.status;
        }
        if (!camera_) return DRV_NOT_INITIALIZED;
        if (needsInitialize && !camera_->initialized) return DRV_NOT_INITIALIZED;
        return DRV_SUCCESS;
    }

    template <class... Args>
    unsigned Done(unsigned status, const Args&... args) {
        if (!sim_.config.trace) return status;
        std::ostringstream text;
        text << name_ << '(';
        Append(text, args...);
        text << ')';
        const int handle = camera_ ? camera_->handle : 0;
        std::string line = text.str();
        if (!sim_.trace.empty() && IsPoll(name_)) {
            Call& last = sim_.trace.back();
            if (last.handle == handle && last.result == status && last.text == line) {
                ++last.repeats;
                return status;
            }
        }
        sim_.trace.push_back(Call{handle, std::move(line), status, 1, Clock::now()});
        return status;
    }

private:
    std::unique_lock<std::mutex> lock_;
    Simulator& sim_;
    const char* name_;
    Camera* camera_ = nullptr;
};

// Ends an acquisition whose data are ready.
void SettleAcquisition(Camera& c, Clock::time_point now) {
    if (!c.acquiring || c.hung || c.continuous) return;
    if (now >= c.readyAt && c.renderer.Rendered() >= c.seriesFrames) {
        c.acquiring = false;
        c.haveData = true;
    }
}

}  // namespace

// ---- configuration ------------------------------------------------------------------

CameraModel DefaultCamera(int index) {
    CameraModel m;
    AndorCapabilities& caps = m.caps;
    caps.ulSize = sizeof(AndorCapabilities);
    caps.ulAcqModes = 0x7F;
    caps.ulReadModes = 0x3F;
    caps.ulPixelMode = 0x1;  // 16-bit
    caps.ulSetFunctions = 0x3FF;
    caps.ulGetFunctions = 0xFF;
    caps.ulFeatures = 0x3F;
    caps.ulPCICard = 0;
    if (index == 0) {
        m.headModel = "EMCCD-512-BV";
        m.width = m.height = 512;
        caps.ulTriggerModes = 0x8B;   // internal, external, start and continuous
        caps.ulCameraType = 1;        // horizontal speeds in MHz
        caps.ulEMGainCapability = 0x3;
        caps.ulFTReadModes = 0x20;
        m.vsSpeeds = {0.3f, 0.5f, 0.9f, 1.7f, 3.3f};
        m.hsSpeeds = {{10.0f, 5.0f, 3.0f, 1.0f}, {3.0f, 1.0f, 0.08f}};
        m.hardwareVersion = {3, 11, 0, 0, 5, 61};
        m.softwareVersion = {1, 17, 2, 6, 14, 2};
        m.minTemperature = -100;
        m.maxTemperature = 20;
        m.softwareTrigger = true;
    } else {
        m.headModel = "EMCCD-1004-FT";
        m.width = 1004;
        m.height = 1002;
        caps.ulTriggerModes = 0x03;   // internal and external only
        caps.ulCameraType = 4;        // horizontal speeds in microseconds per pixel
        caps.ulEMGainCapability = 0x1;
        caps.ulFTReadModes = 0x20;
        m.vsSpeeds = {1.0f, 2.0f, 4.0f, 8.0f, 16.0f};
        m.hsSpeeds = {{0.1f, 0.2f, 1.0f}};
        m.hardwareVersion = {4, 2, 0, 0, 7, 18};
        m.softwareVersion = {2, 3, 2, 6, 14, 2};
        m.minTemperature = -80;
        m.maxTemperature = 20;
        m.softwareTrigger = false;
        m.sensor.darkRateAt20C = 60.0;
        m.sensor.readNoiseElectrons = 8.0;
    }
#ifdef PELU_EXAMPLE_CAMERA
    // The example site library: cameras of their own model with a smaller
    // sensor and a higher bias, so that their frames cannot be mistaken for
    // the simulator's.
    m.headModel = index == 0 ? "EXAMPLE-256" : "EXAMPLE-256-B";
    m.width = m.height = 256;
    m.sensor.baselineAdu = 3000.0;
#endif
    return m;
}

bool ParseFaults(const std::string& text, std::vector<Fault>* faults) {
    bool ok = true;
    std::stringstream list(text);
    std::string entry;
    while (std::getline(list, entry, ',')) {
        entry.erase(0, entry.find_first_not_of(" \t"));
        entry.erase(entry.find_last_not_of(" \t") + 1);
        if (entry.empty()) continue;
        Fault fault;
        size_t at = entry.find('@');
        size_t eq = entry.find('=');
        fault.call = entry.substr(0, std::min(at, eq));
        bool good = !fault.call.empty();
        for (char ch : fault.call) good = good && (std::isalnum(static_cast<unsigned char>(ch)) != 0);
        char* end = nullptr;
        if (good && at != std::string::npos) {
            long after = std::strtol(entry.c_str() + at + 1, &end, 10);
            good = end != entry.c_str() + at + 1 && after >= 0 && after < 1000000000 &&
                   (*end == '\0' || *end == '=');
            fault.after = int(after);
        }
        if (good && eq != std::string::npos) {
            unsigned long status = std::strtoul(entry.c_str() + eq + 1, &end, 10);
            good = end != entry.c_str() + eq + 1 && *end == '\0' && status > 0 && status < 100000;
            fault.status = unsigned(status);
        }
        if (good)
            faults->push_back(fault);
        else
            ok = false;
    }
    return ok;
}

Config ConfigFromEnvironment() {
    Config config;
    auto warn = [](const char* name, const char* value) {
        std::fprintf(stderr, "camera simulator: ignoring %s=%s\n", name, value);
    };
    if (const char* v = std::getenv("PELU_SIM_CAMERAS"); v && *v) {
        if (std::strcmp(v, "0") == 0 || std::strcmp(v, "1") == 0 || std::strcmp(v, "2") == 0)
            config.cameras = v[0] - '0';
        else
            warn("PELU_SIM_CAMERAS", v);
    }
    if (const char* v = std::getenv("PELU_SIM_SEED"); v && *v) {
        char* end = nullptr;
        unsigned long long seed = std::strtoull(v, &end, 10);
        if (*end == '\0')
            config.seed = seed;
        else
            warn("PELU_SIM_SEED", v);
    }
    if (const char* v = std::getenv("PELU_SIM_CAMERA_FAULTS"); v && *v) {
        if (!ParseFaults(v, &config.faults)) warn("PELU_SIM_CAMERA_FAULTS (in part)", v);
    }
    if (const char* v = std::getenv("PELU_SIM_CAMERA_HANG"); v && *v) config.hangAcquisition = v[0] == '1';
    if (const char* v = std::getenv("PELU_SIM_AMBIENT"); v && *v) {
        char* end = nullptr;
        double ambient = std::strtod(v, &end);
        if (*end == '\0' && std::isfinite(ambient) && ambient > -60 && ambient < 60)
            config.ambientCelsius = ambient;
        else
            warn("PELU_SIM_AMBIENT", v);
    }
    return config;
}

void Reset(const Config& config) {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    Apply(Sim(), config);
}

void Reset() { Reset(ConfigFromEnvironment()); }

void AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    if (!Sim().configured) Apply(Sim(), ConfigFromEnvironment());
    Sim().config.faults.push_back(fault);
    Sim().faultCounts.push_back(0);
}

std::vector<Call> Trace() {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    return Sim().trace;
}

std::vector<std::string> TraceTexts(int handle) {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    std::vector<std::string> texts;
    for (const Call& call : Sim().trace)
        if (handle == 0 || call.handle == handle) texts.push_back(call.text);
    return texts;
}

void ClearTrace() {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    Sim().trace.clear();
}

int HandleOfIndex(int index) { return kFirstHandle + index; }

CameraView Inspect(int index) {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    Simulator& sim = Sim();
    CameraView v;
    if (index < 0 || index >= int(sim.cameras.size())) return v;
    Camera& c = *sim.cameras[size_t(index)];
    UpdateThermal(sim.config, c, Clock::now());
    SettleAcquisition(c, Clock::now());
    v.initialized = c.initialized;
    v.acquiring = c.acquiring;
    v.coolerOn = c.coolerOn;
    v.setPoint = c.setPoint;
    v.temperature = c.temperature;
    v.acquisitionMode = c.acquisitionMode;
    v.frameTransfer = c.frameTransfer;
    v.kinetics = c.kinetics;
    v.readMode = c.readMode;
    v.vsSpeed = c.vsSpeed;
    v.hsSpeed = c.hsSpeed;
    v.adChannel = c.adChannel;
    v.preAmpGain = c.preAmpGain;
    v.emGain = c.emGain;
    v.shutterMode = c.shutterMode;
    v.fanMode = c.fanMode;
    v.triggerMode = c.triggerMode;
    v.hbin = c.hbin;
    v.vbin = c.vbin;
    v.hstart = c.hstart;
    v.hend = c.hend;
    v.vstart = c.vstart;
    v.vend = c.vend;
    v.exposure = c.exposure;
    v.baselineClamp = c.baselineClamp;
    v.baselineOffset = c.baselineOffset;
    v.framesExposed = c.framesExposed;
    v.lastAcquisitionSeconds = c.lastSeconds;
    return v;
}

void SetSensorTemperature(int index, double celsius, bool stabilised) {
    std::lock_guard<std::mutex> lock(Sim().mutex);
    Simulator& sim = Sim();
    if (!sim.configured) Apply(sim, ConfigFromEnvironment());
    if (index < 0 || index >= int(sim.cameras.size())) return;
    Camera& c = *sim.cameras[size_t(index)];
    c.temperature = celsius;
    c.thermalTime = Clock::now();
    c.held = stabilised ? sim.config.stabiliseSeconds : 0;
}

}  // namespace camsim

// ---- the C API -------------------------------------------------------------------------

using camsim::CallScope;

static unsigned VersionCall(const char* name, bool hardware, unsigned int* v[6]) {
    CallScope s(name);
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        const auto& values = hardware ? s.camera()->model.hardwareVersion
                                      : s.camera()->model.softwareVersion;
        const unsigned invalid[6] = {DRV_P1INVALID, DRV_P2INVALID, DRV_P3INVALID,
                                     DRV_P4INVALID, DRV_P5INVALID, DRV_P6INVALID};
        for (int i = 0; i < 6 && status == DRV_SUCCESS; ++i)
            if (!v[i]) status = invalid[i];
        if (status == DRV_SUCCESS)
            for (int i = 0; i < 6; ++i) *v[i] = values[size_t(i)];
    }
    return s.Done(status);
}

// A setter: the camera must be initialised and idle; `apply` checks the
// arguments and returns DRV_SUCCESS or the code of the bad parameter.
template <class Apply, class... Args>
static unsigned Setter(const char* name, Apply apply, const Args&... args) {
    CallScope s(name);
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::SettleAcquisition(*s.camera(), camsim::Clock::now());
        status = s.camera()->acquiring ? DRV_ACQUIRING : apply(*s.camera());
    }
    return s.Done(status, args...);
}

extern "C" {

unsigned int GetAvailableCameras(int32_t* totalCameras) {
    CallScope s("GetAvailableCameras");
    unsigned status = s.Check(false);
    if (status == DRV_NOT_INITIALIZED) status = DRV_SUCCESS;  // counting needs no camera
    if (status == DRV_SUCCESS) {
        if (!totalCameras) status = DRV_P1INVALID;
        else *totalCameras = int32_t(s.sim().cameras.size());
    }
    return s.Done(status);
}

unsigned int GetCameraHandle(int32_t cameraIndex, int32_t* cameraHandle) {
    CallScope s("GetCameraHandle");
    unsigned status = s.Check(false);
    if (status == DRV_NOT_INITIALIZED) status = DRV_SUCCESS;
    if (status == DRV_SUCCESS) {
        if (cameraIndex < 0 || cameraIndex >= int(s.sim().cameras.size())) status = DRV_P1INVALID;
        else if (!cameraHandle) status = DRV_P2INVALID;
        else *cameraHandle = camsim::HandleOfIndex(cameraIndex);
    }
    return s.Done(status, cameraIndex);
}

unsigned int SetCurrentCamera(int32_t cameraHandle) {
    CallScope s("SetCurrentCamera");
    unsigned status = s.Check(false);
    if (status == DRV_NOT_INITIALIZED) status = DRV_SUCCESS;
    if (status == DRV_SUCCESS) {
        int index = cameraHandle - camsim::HandleOfIndex(0);
        if (index < 0 || index >= int(s.sim().cameras.size())) status = DRV_P1INVALID;
        else s.sim().current = index;
    }
    return s.Done(status, cameraHandle);
}

unsigned int GetCurrentCamera(int32_t* cameraHandle) {
    CallScope s("GetCurrentCamera");
    unsigned status = s.Check(false);
    if (status == DRV_SUCCESS) {
        if (!cameraHandle) status = DRV_P1INVALID;
        else *cameraHandle = s.camera()->handle;
    }
    return s.Done(status);
}

unsigned int Initialize(const char* directory) {
    CallScope s("Initialize");
    unsigned status = s.Check(false);
    if (status == DRV_NOT_INITIALIZED) status = DRV_VXDNOTINSTALLED;  // no camera at all
    if (status == DRV_SUCCESS) {
        s.camera()->renderer.Cancel();
        s.camera()->initialized = true;
        s.camera()->acquiring = s.camera()->haveData = false;
        s.camera()->DefaultSettings();
    }
    return s.Done(status, directory ? directory : "");
}

unsigned int ShutDown() {
    CallScope s("ShutDown");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        c.renderer.Cancel();
        camsim::UpdateThermal(s.sim().config, c, camsim::Clock::now());
        c.initialized = c.acquiring = c.haveData = false;
        c.coolerOn = false;  // the head loses power; the sensor drifts back to ambient
    }
    return s.Done(status);
}

unsigned int GetCapabilities(AndorCapabilities* caps) {
    CallScope s("GetCapabilities");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!caps || caps->ulSize != sizeof(AndorCapabilities)) status = DRV_P1INVALID;
        else *caps = s.camera()->model.caps;
    }
    return s.Done(status);
}

unsigned int GetHeadModel(char* name) {
    CallScope s("GetHeadModel");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!name) status = DRV_P1INVALID;
        else std::snprintf(name, 32, "%s", s.camera()->model.headModel.c_str());
    }
    return s.Done(status);
}

unsigned int GetDetector(int* xpixels, int* ypixels) {
    CallScope s("GetDetector");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!xpixels) status = DRV_P1INVALID;
        else if (!ypixels) status = DRV_P2INVALID;
        else {
            *xpixels = s.camera()->model.width;
            *ypixels = s.camera()->model.height;
        }
    }
    return s.Done(status);
}

unsigned int GetNumberVSSpeeds(int* speeds) {
    CallScope s("GetNumberVSSpeeds");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!speeds) status = DRV_P1INVALID;
        else *speeds = int(s.camera()->model.vsSpeeds.size());
    }
    return s.Done(status);
}

unsigned int GetVSSpeed(int index, float* speed) {
    CallScope s("GetVSSpeed");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        const auto& table = s.camera()->model.vsSpeeds;
        if (index < 0 || index >= int(table.size())) status = DRV_P1INVALID;
        else if (!speed) status = DRV_P2INVALID;
        else *speed = table[size_t(index)];
    }
    return s.Done(status, index);
}

unsigned int GetNumberADChannels(int* channels) {
    CallScope s("GetNumberADChannels");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!channels) status = DRV_P1INVALID;
        else *channels = int(s.camera()->model.hsSpeeds.size());
    }
    return s.Done(status);
}

unsigned int GetNumberHSSpeeds(int channel, int type, int* speeds) {
    CallScope s("GetNumberHSSpeeds");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        const auto& table = s.camera()->model.hsSpeeds;
        if (channel < 0 || channel >= int(table.size())) status = DRV_P1INVALID;
        else if (type != 0 && type != 1) status = DRV_P2INVALID;
        else if (!speeds) status = DRV_P3INVALID;
        else *speeds = int(table[size_t(channel)].size());
    }
    return s.Done(status, channel, type);
}

unsigned int GetHSSpeed(int channel, int type, int index, float* speed) {
    CallScope s("GetHSSpeed");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        const auto& table = s.camera()->model.hsSpeeds;
        if (channel < 0 || channel >= int(table.size())) status = DRV_P1INVALID;
        else if (type != 0 && type != 1) status = DRV_P2INVALID;
        else if (index < 0 || index >= int(table[size_t(channel)].size())) status = DRV_P3INVALID;
        else if (!speed) status = DRV_P4INVALID;
        else *speed = table[size_t(channel)][size_t(index)];
    }
    return s.Done(status, channel, type, index);
}

unsigned int GetHardwareVersion(unsigned int* pcb, unsigned int* decode, unsigned int* dummy1,
                                unsigned int* dummy2, unsigned int* cameraFirmwareVersion,
                                unsigned int* cameraFirmwareBuild) {
    unsigned int* v[6] = {pcb, decode, dummy1, dummy2, cameraFirmwareVersion, cameraFirmwareBuild};
    return VersionCall("GetHardwareVersion", true, v);
}

unsigned int GetSoftwareVersion(unsigned int* eprom, unsigned int* coffile, unsigned int* vxdrev,
                                unsigned int* vxdver, unsigned int* dllrev, unsigned int* dllver) {
    unsigned int* v[6] = {eprom, coffile, vxdrev, vxdver, dllrev, dllver};
    return VersionCall("GetSoftwareVersion", false, v);
}

unsigned int GetTemperatureRange(int* mintemp, int* maxtemp) {
    CallScope s("GetTemperatureRange");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!mintemp) status = DRV_P1INVALID;
        else if (!maxtemp) status = DRV_P2INVALID;
        else {
            *mintemp = s.camera()->model.minTemperature;
            *maxtemp = s.camera()->model.maxTemperature;
        }
    }
    return s.Done(status);
}

unsigned int GetEMGainRange(int* low, int* high) {
    CallScope s("GetEMGainRange");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!low) status = DRV_P1INVALID;
        else if (!high) status = DRV_P2INVALID;
        else {
            *low = s.camera()->model.emGainLow;
            *high = s.camera()->model.emGainHigh;
        }
    }
    return s.Done(status);
}

unsigned int GetEMCCDGain(int* gain) {
    CallScope s("GetEMCCDGain");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!gain) status = DRV_P1INVALID;
        else *gain = s.camera()->emGain;
    }
    return s.Done(status);
}

unsigned int GetNumberPreAmpGains(int* noGains) {
    CallScope s("GetNumberPreAmpGains");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!noGains) status = DRV_P1INVALID;
        else *noGains = s.camera()->model.preAmpGains;
    }
    return s.Done(status);
}

unsigned int IsTriggerModeAvailable(int triggerMode) {
    CallScope s("IsTriggerModeAvailable");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        const camsim::CameraModel& m = s.camera()->model;
        bool available = triggerMode == 10 ? m.softwareTrigger
                         : triggerMode >= 0 && triggerMode < 32
                             ? (m.caps.ulTriggerModes & (1u << triggerMode)) != 0 || triggerMode == 0
                             : false;
        if (!available) status = DRV_NOT_AVAILABLE;
    }
    return s.Done(status, triggerMode);
}

// ---- settings ------------------------------------------------------------------------------

unsigned int SetAcquisitionMode(int mode) {
    return Setter("SetAcquisitionMode", [&](camsim::Camera& c) -> unsigned {
        if (mode < 1 || mode > 7) return DRV_P1INVALID;
        c.acquisitionMode = mode;
        return DRV_SUCCESS;
    }, mode);
}

unsigned int SetFrameTransferMode(int mode) {
    return Setter("SetFrameTransferMode", [&](camsim::Camera& c) -> unsigned {
        if (mode != 0 && mode != 1) return DRV_P1INVALID;
        c.frameTransfer = mode;
        return DRV_SUCCESS;
    }, mode);
}

unsigned int SetNumberKinetics(int number) {
    return Setter("SetNumberKinetics", [&](camsim::Camera& c) -> unsigned {
        if (number < 1) return DRV_P1INVALID;
        c.kinetics = number;
        return DRV_SUCCESS;
    }, number);
}

unsigned int SetKineticCycleTime(float time) {
    return Setter("SetKineticCycleTime", [&](camsim::Camera& c) -> unsigned {
        if (!(time >= 0)) return DRV_P1INVALID;
        c.kineticCycle = time;
        return DRV_SUCCESS;
    }, time);
}

unsigned int SetReadMode(int mode) {
    return Setter("SetReadMode", [&](camsim::Camera& c) -> unsigned {
        if (mode < 0 || mode > 5) return DRV_P1INVALID;
        c.readMode = mode;
        return DRV_SUCCESS;
    }, mode);
}

unsigned int SetVSSpeed(int index) {
    return Setter("SetVSSpeed", [&](camsim::Camera& c) -> unsigned {
        if (index < 0 || index >= int(c.model.vsSpeeds.size())) return DRV_P1INVALID;
        c.vsSpeed = index;
        return DRV_SUCCESS;
    }, index);
}

unsigned int SetADChannel(int channel) {
    return Setter("SetADChannel", [&](camsim::Camera& c) -> unsigned {
        if (channel < 0 || channel >= int(c.model.hsSpeeds.size())) return DRV_P1INVALID;
        c.adChannel = channel;
        return DRV_SUCCESS;
    }, channel);
}

unsigned int SetHSSpeed(int type, int index) {
    return Setter("SetHSSpeed", [&](camsim::Camera& c) -> unsigned {
        if (type != 0 && type != 1) return DRV_P1INVALID;
        if (index < 0 || index >= int(c.model.hsSpeeds[size_t(c.adChannel)].size()))
            return DRV_P2INVALID;
        c.hsSpeed = index;
        return DRV_SUCCESS;
    }, type, index);
}

unsigned int SetShutter(int type, int mode, int closingTime, int openingTime) {
    return Setter("SetShutter", [&](camsim::Camera& c) -> unsigned {
        if (type != 0 && type != 1) return DRV_P1INVALID;
        if (mode < 0 || mode > 2) return DRV_P2INVALID;
        if (closingTime < 0) return DRV_P3INVALID;
        if (openingTime < 0) return DRV_P4INVALID;
        c.shutterMode = mode;
        return DRV_SUCCESS;
    }, type, mode, closingTime, openingTime);
}

unsigned int SetFanMode(int mode) {
    return Setter("SetFanMode", [&](camsim::Camera& c) -> unsigned {
        if (mode < 0 || mode > 2) return DRV_P1INVALID;
        c.fanMode = mode;
        return DRV_SUCCESS;
    }, mode);
}

unsigned int SetPreAmpGain(int index) {
    return Setter("SetPreAmpGain", [&](camsim::Camera& c) -> unsigned {
        if (index < 0 || index >= c.model.preAmpGains) return DRV_P1INVALID;
        c.preAmpGain = index;
        return DRV_SUCCESS;
    }, index);
}

unsigned int SetEMCCDGain(int gain) {
    return Setter("SetEMCCDGain", [&](camsim::Camera& c) -> unsigned {
        if (gain < c.model.emGainLow || gain > c.model.emGainHigh) return DRV_P1INVALID;
        c.emGain = gain;
        return DRV_SUCCESS;
    }, gain);
}

unsigned int SetImage(int hbin, int vbin, int hstart, int hend, int vstart, int vend) {
    return Setter("SetImage", [&](camsim::Camera& c) -> unsigned {
        const int w = c.model.width, h = c.model.height;
        if (hbin < 1 || hbin > w) return DRV_P1INVALID;
        if (vbin < 1 || vbin > h) return DRV_P2INVALID;
        if (hstart < 1 || hstart > w) return DRV_P3INVALID;
        if (hend < hstart || hend > w) return DRV_P4INVALID;
        if (vstart < 1 || vstart > h) return DRV_P5INVALID;
        if (vend < vstart || vend > h) return DRV_P6INVALID;
        c.hbin = hbin;
        c.vbin = vbin;
        c.hstart = hstart;
        c.hend = hend;
        c.vstart = vstart;
        c.vend = vend;
        return DRV_SUCCESS;
    }, hbin, vbin, hstart, hend, vstart, vend);
}

unsigned int SetTriggerMode(int mode) {
    return Setter("SetTriggerMode", [&](camsim::Camera& c) -> unsigned {
        bool known = mode == 0 || mode == 1 || mode == 6 || mode == 7 || mode == 10;
        if (!known || (mode == 10 && !c.model.softwareTrigger)) return DRV_P1INVALID;
        c.triggerMode = mode;
        return DRV_SUCCESS;
    }, mode);
}

unsigned int SetExposureTime(float time) {
    return Setter("SetExposureTime", [&](camsim::Camera& c) -> unsigned {
        if (!(time >= 0) || time > 3600) return DRV_P1INVALID;
        c.exposure = time;
        return DRV_SUCCESS;
    }, time);
}

unsigned int SetBaselineClamp(int state) {
    return Setter("SetBaselineClamp", [&](camsim::Camera& c) -> unsigned {
        if (state != 0 && state != 1) return DRV_P1INVALID;
        c.baselineClamp = state;
        return DRV_SUCCESS;
    }, state);
}

unsigned int SetBaselineOffset(int offset) {
    return Setter("SetBaselineOffset", [&](camsim::Camera& c) -> unsigned {
        if (offset < -1000 || offset > 1000) return DRV_P1INVALID;
        c.baselineOffset = offset;
        return DRV_SUCCESS;
    }, offset);
}

// ---- acquisition -----------------------------------------------------------------------------

unsigned int StartAcquisition() {
    CallScope s("StartAcquisition");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        const auto now = camsim::Clock::now();
        camsim::SettleAcquisition(c, now);
        if (c.acquiring) {
            status = DRV_ACQUIRING;
        } else {
            const camsim::Config& config = s.sim().config;
            camsim::UpdateThermal(config, c, now);
            const camsim::FrameRequest request = [&] {
                camsim::FrameRequest r = camsim::RequestOf(c);
                r.seed = config.seed;
                r.temperatureCelsius = c.temperature;
                return r;
            }();
            c.continuous = c.acquisitionMode == 5;
            c.hung = config.hangAcquisition;
            c.seriesFrames = c.continuous ? 0 : camsim::SeriesFrames(c);
            c.frameSize = size_t(camsim::FrameWidth(request)) * size_t(camsim::FrameHeight(request));
            const camsim::Timings t = camsim::TimingsOf(c);
            c.lastSeconds = c.seriesFrames > 0
                                ? (c.seriesFrames - 1) * t.kinetic + t.accumulate
                                : t.accumulate;
            c.readyAt = camsim::After(now, c.lastSeconds);
            c.acquiring = true;
            c.haveData = false;
            if (!c.continuous && !c.hung) {
                c.renderer.Start({request, c.model.sensor, config.light, c.seriesFrames, c.frameSize});
                c.framesExposed += uint64_t(c.seriesFrames);
            }
        }
    }
    return s.Done(status);
}

unsigned int GetStatus(int* state) {
    CallScope s("GetStatus");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!state) {
            status = DRV_P1INVALID;
        } else {
            camsim::SettleAcquisition(*s.camera(), camsim::Clock::now());
            *state = int(s.camera()->acquiring ? DRV_ACQUIRING : DRV_IDLE);
        }
    }
    return s.Done(status);
}

unsigned int GetAcquiredData16(uint16_t* array, uint32_t size) {
    CallScope s("GetAcquiredData16");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::SettleAcquisition(c, camsim::Clock::now());
        const size_t available = size_t(c.seriesFrames) * c.frameSize;
        if (c.acquiring) status = DRV_ACQUIRING;
        else if (!c.haveData) status = DRV_NO_NEW_DATA;
        else if (!array) status = DRV_P1INVALID;
        // Fewer elements than acquired gives the first frames of the series.
        else if (size == 0 || size > available) status = DRV_P2INVALID;
        else std::memcpy(array, c.renderer.Data(), size_t(size) * sizeof(uint16_t));
    }
    return s.Done(status, size);
}

unsigned int AbortAcquisition() {
    CallScope s("AbortAcquisition");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::SettleAcquisition(c, camsim::Clock::now());
        if (!c.acquiring) {
            status = DRV_IDLE;
        } else {
            c.renderer.Cancel();
            c.acquiring = false;
            c.haveData = false;
        }
    }
    return s.Done(status);
}

unsigned int GetAcquisitionTimings(float* exposure, float* accumulate, float* kinetic) {
    CallScope s("GetAcquisitionTimings");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        if (!exposure) status = DRV_P1INVALID;
        else if (!accumulate) status = DRV_P2INVALID;
        else if (!kinetic) status = DRV_P3INVALID;
        else {
            const camsim::Timings t = camsim::TimingsOf(*s.camera());
            *exposure = float(t.exposure);
            *accumulate = float(t.accumulate);
            *kinetic = float(t.kinetic);
        }
    }
    return s.Done(status);
}

// ---- cooling ------------------------------------------------------------------------------------

unsigned int SetTemperature(int temperature) {
    CallScope s("SetTemperature");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::UpdateThermal(s.sim().config, c, camsim::Clock::now());
        if (temperature < c.model.minTemperature || temperature > c.model.maxTemperature) {
            status = DRV_P1INVALID;
        } else if (temperature != c.setPoint) {
            c.setPoint = temperature;
            c.held = 0;
        }
    }
    return s.Done(status, temperature);
}

unsigned int CoolerON() {
    CallScope s("CoolerON");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::UpdateThermal(s.sim().config, c, camsim::Clock::now());
        if (!c.coolerOn) c.held = 0;
        c.coolerOn = true;
    }
    return s.Done(status);
}

unsigned int CoolerOFF() {
    CallScope s("CoolerOFF");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::UpdateThermal(s.sim().config, c, camsim::Clock::now());
        c.coolerOn = false;
        c.held = 0;
    }
    return s.Done(status);
}

unsigned int GetTemperature(int* temperature) {
    CallScope s("GetTemperature");
    unsigned status = s.Check();
    if (status == DRV_SUCCESS) {
        camsim::Camera& c = *s.camera();
        camsim::UpdateThermal(s.sim().config, c, camsim::Clock::now());
        if (!temperature) {
            status = DRV_P1INVALID;
        } else {
            *temperature = int(std::lround(c.temperature));
            status = camsim::TemperatureStatus(s.sim().config, c);
        }
    }
    return s.Done(status);
}

}  // extern "C"

// ---- the simulator's own entry points (absent from a vendor library) --------------------

extern "C" {

// The worked example of a site library (docs/devices.md) is this simulator
// built again under another name; it says so in its version.
#ifndef PELU_CAMERA_LIBRARY_VERSION
#define PELU_CAMERA_LIBRARY_VERSION "1.0"
#endif

const char* PeluDeviceLibraryVersion(void) { return PELU_CAMERA_LIBRARY_VERSION; }

const camsim::SimulatorControl* CameraSimulatorControl() {
    static const camsim::SimulatorControl control{
        camsim::DefaultCamera,
        camsim::ConfigFromEnvironment,
        camsim::ParseFaults,
        [](const camsim::Config& config) { camsim::Reset(config); },
        [] { camsim::Reset(); },
        camsim::AddFault,
        camsim::Trace,
        camsim::TraceTexts,
        camsim::ClearTrace,
        camsim::HandleOfIndex,
        camsim::Inspect,
        camsim::SetSensorTemperature,
    };
    return &control;
}

}  // extern "C"
