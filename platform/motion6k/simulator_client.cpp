// simulator.h's functions on the caller's side: each forwards to the
// simulated controller in the library the motors would load (or, when that
// is a site's own library, the simulator beside the programs). Without a
// simulator they do nothing and report a controller at rest.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "platform/devices/device_library.h"
#include "platform/motion6k/simulator_control.h"
#include "platform/os/os.h"

namespace motion6k {
namespace {

const SimulatorControl* ControlIn(const std::string& path) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) return nullptr;
    using ControlFn = const SimulatorControl* (*)();
    auto control = reinterpret_cast<ControlFn>(dlsym(library, kSimulatorControlEntry));
    const SimulatorControl* table = control != nullptr ? control() : nullptr;
    dlclose(library);  // it stays in the process (RTLD_NODELETE)
    return table;
}

const SimulatorControl* Control() {
    const std::string chosen = devices::ChooseLibrary(devices::Device::Motors).path;
    if (const SimulatorControl* control = ControlIn(chosen)) return control;
    return ControlIn(os::ExecutableDirectory() + "/" +
                     devices::Describe(devices::Device::Motors).simulatorFile);
}

}  // namespace

bool SimulatorPresent() { return Control() != nullptr; }

void Configure(const SimulatorConfig& config) {
    if (auto* c = Control()) c->configure(config);
}
SimulatorConfig Configuration() {
    auto* c = Control();
    return c ? c->configuration() : SimulatorConfig{};
}
void Reset() {
    if (auto* c = Control()) c->reset();
}
void OverrideReply(const std::string& query, const std::string& reply) {
    if (auto* c = Control()) c->overrideReply(query, reply);
}
void ClearReplyOverrides() {
    if (auto* c = Control()) c->clearReplyOverrides();
}
std::vector<std::string> Commands() {
    auto* c = Control();
    return c ? c->commands() : std::vector<std::string>{};
}
std::vector<std::string> Calls() {
    auto* c = Control();
    return c ? c->calls() : std::vector<std::string>{};
}
void ClearTrace() {
    if (auto* c = Control()) c->clearTrace();
}
AxisSnapshot Axis(int axis) {
    auto* c = Control();
    return c ? c->axis(axis) : AxisSnapshot{};
}
std::string Outputs() {
    auto* c = Control();
    return c ? c->outputs() : std::string();
}
bool LinkOpen() {
    auto* c = Control();
    return c && c->linkOpen();
}
bool LinkInitialised() {
    auto* c = Control();
    return c && c->linkInitialised();
}

}  // namespace motion6k
