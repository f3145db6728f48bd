// simulator.h's functions on the caller's side: each forwards to the
// simulated controller in the library the motors would load (a site's library
// only once it is loaded; else the simulator beside the programs). Without a
// simulator they do nothing and report a controller at rest.
#include <dlfcn.h>

#include <cstdio>
#include <mutex>

#include "platform/devices/device_library.h"
#include "platform/motion6k/simulator_control.h"
#include "platform/os/os.h"

namespace motion6k {
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
    const devices::LibraryChoice choice = devices::ChooseLibrary(devices::Device::Motors);
    if (!choice.path.empty()) {
        const bool simulator = choice.source == devices::Source::Simulator;
        if (const SimulatorControl* control = ControlIn(choice.path, simulator)) return control;
    }
    return ControlIn(os::ExecutableDirectory() + "/" +
                         devices::Describe(devices::Device::Motors).simulatorFile,
                     true);
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
