// simulator.h's functions on the caller's side: each forwards to the
// simulated cameras in the library the cameras would load (a site's library
// only once it is loaded; else the simulator beside the programs). Without a
// simulator they do nothing and report cameras that are not there.
#include "platform/camera_sdk/simulator_control.h"
#include "platform/devices/bound_library.h"

namespace camsim {
namespace {

const SimulatorControl* Control() {
    return devices::SimulatorControl<SimulatorControl>(devices::Device::Camera,
                                                       kSimulatorControlEntry);
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
