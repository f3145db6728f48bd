// How the test and demo side of the process reaches the simulated motion
// controller inside its shared library: one table of the functions of
// simulator.h, handed out by the library's Motion6kSimulatorControl(). A
// vendor library has no such entry point.
#pragma once

#include "platform/motion6k/simulator.h"

namespace motion6k {

struct SimulatorControl {
    void (*configure)(const SimulatorConfig& config);
    SimulatorConfig (*configuration)();
    void (*reset)();
    void (*overrideReply)(const std::string& query, const std::string& reply);
    void (*clearReplyOverrides)();
    std::vector<std::string> (*commands)();
    std::vector<std::string> (*calls)();
    void (*clearTrace)();
    AxisSnapshot (*axis)(int axis);
    std::string (*outputs)();
    bool (*linkOpen)();
    bool (*linkInitialised)();
};

inline constexpr const char* kSimulatorControlEntry = "Motion6kSimulatorControl";

}  // namespace motion6k

extern "C" const motion6k::SimulatorControl* Motion6kSimulatorControl();
