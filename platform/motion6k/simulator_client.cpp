// simulator.h's functions on the caller's side: each forwards to the
// simulated controller in the library the motors would load (a site's library
// only once it is loaded; else the simulator beside the programs). Without a
// simulator they do nothing and report a controller at rest.
#include "platform/devices/bound_library.h"
#include "platform/motion6k/simulator_control.h"

namespace motion6k {
namespace {

const SimulatorControl* Control() {
    return devices::SimulatorControl<SimulatorControl>(devices::Device::Motors,
                                                       kSimulatorControlEntry);
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
