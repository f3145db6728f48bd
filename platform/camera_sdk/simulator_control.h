// How the test and demo side of the process reaches the simulated cameras
// inside their shared library: one table of simulator.h's functions, handed
// out by the library's CameraSimulatorControl(). A vendor library has no
// such entry point.
#pragma once

#include "platform/camera_sdk/simulator.h"

namespace camsim {

struct SimulatorControl {
    CameraModel (*defaultCamera)(int index);
    Config (*configFromEnvironment)();
    bool (*parseFaults)(const std::string& text, std::vector<Fault>* faults);
    void (*reset)(const Config& config);
    void (*resetFromEnvironment)();
    void (*addFault)(const Fault& fault);
    std::vector<Call> (*trace)();
    std::vector<std::string> (*traceTexts)(int handle);
    void (*clearTrace)();
    int (*handleOfIndex)(int index);
    CameraView (*inspect)(int index);
    void (*setSensorTemperature)(int index, double celsius, bool stabilised);
};

inline constexpr const char* kSimulatorControlEntry = "CameraSimulatorControl";

}  // namespace camsim

extern "C" const camsim::SimulatorControl* CameraSimulatorControl();
