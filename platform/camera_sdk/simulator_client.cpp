// simulator.h's functions on the caller's side: each forwards to the
// simulated cameras in the library the cameras would load (a site's library
// only once it is loaded; else the simulator beside the programs). Without a
// simulator they do nothing and report cameras that are not there.
#include <dlfcn.h>

#include "platform/camera_sdk/simulator_control.h"
#include "platform/devices/device_library.h"
#include "platform/os/os.h"

namespace camsim {
namespace {

// The simulator's control table in the library at `path`; `mayLoad` false
// only looks into a library that is loaded already.
const SimulatorControl* ControlIn(const std::string& path, bool mayLoad) {
    const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE | (mayLoad ? 0 : RTLD_NOLOAD);
    void* library = dlopen(path.c_str(), flags);
    if (library == nullptr) return nullptr;
    using ControlFn = const SimulatorControl* (*)();
    auto control = reinterpret_cast<ControlFn>(dlsym(library, kSimulatorControlEntry));
    const SimulatorControl* table = control != nullptr ? control() : nullptr;
    dlclose(library);  // it stays in the process (RTLD_NODELETE)
    return table;
}

// A site's library is looked into only once the program has loaded it:
// looking must not load, and so start, a vendor's library.
const SimulatorControl* Control() {
    const devices::LibraryChoice choice = devices::ChooseLibrary(devices::Device::Camera);
    if (!choice.path.empty()) {
        const bool simulator = choice.source == devices::Source::Simulator;
        if (const SimulatorControl* control = ControlIn(choice.path, simulator)) return control;
    }
    return ControlIn(os::ExecutableDirectory() + "/" +
                         devices::Describe(devices::Device::Camera).simulatorFile,
                     true);
}

}  // namespace

bool SimulatorPresent() { return Control() != nullptr; }

CameraModel DefaultCamera(int index) {
    auto* c = Control();
    return c ? c->defaultCamera(index) : CameraModel{};
}
Config ConfigFromEnvironment() {
    auto* c = Control();
    return c ? c->configFromEnvironment() : Config{};
}
bool ParseFaults(const std::string& text, std::vector<Fault>* faults) {
    auto* c = Control();
    return c && c->parseFaults(text, faults);
}
void Reset(const Config& config) {
    if (auto* c = Control()) c->reset(config);
}
void Reset() {
    if (auto* c = Control()) c->resetFromEnvironment();
}
void AddFault(const Fault& fault) {
    if (auto* c = Control()) c->addFault(fault);
}
std::vector<Call> Trace() {
    auto* c = Control();
    return c ? c->trace() : std::vector<Call>{};
}
std::vector<std::string> TraceTexts(int handle) {
    auto* c = Control();
    return c ? c->traceTexts(handle) : std::vector<std::string>{};
}
void ClearTrace() {
    if (auto* c = Control()) c->clearTrace();
}
int HandleOfIndex(int index) {
    auto* c = Control();
    return c ? c->handleOfIndex(index) : 0;
}
CameraView Inspect(int index) {
    auto* c = Control();
    return c ? c->inspect(index) : CameraView{};
}
void SetSensorTemperature(int index, double celsius, bool stabilised) {
    if (auto* c = Control()) c->setSensorTemperature(index, celsius, stabilised);
}

}  // namespace camsim
