// The simulated camera pair behind the camera SDK's C API (atmcd.h): its
// configuration, the trace of every call it received, and a few handles for
// tests. Programs never include this header; they only see atmcd.h, so a
// vendor library with the same API can be loaded instead of the simulator.
//
// Configuration from the environment (read when the library is first used,
// and by Reset() without arguments):
//   PELU_SIM_CAMERAS=0|1|2          cameras the library reports (default 2)
//   PELU_SIM_SEED=N                 seed of the frame noise (default 1)
//   PELU_SIM_CAMERA_FAULTS=LIST     calls that fail, comma-separated entries
//                                   "Name", "Name@N" (fails after N good calls)
//                                   or "Name@N=STATUS" (that status instead of
//                                   20013), e.g. "StartAcquisition@3,CoolerON"
//   PELU_SIM_CAMERA_HANG=1          acquisitions never finish (a hung camera)
//   PELU_SIM_AMBIENT=CELSIUS        temperature the sensors drift to (default 20)
//
// Camera 1 (index 0) is a 512 x 512 EMCCD, camera 2 (index 1) a 1004 x 1002
// sensor. Both start at ambient temperature with the cooler off; cooling and
// exposures run in instrument time (os::TimeScale()).
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/frame_generator.h"

namespace camsim {

// What one simulated camera is.
struct CameraModel {
    std::string headModel;
    int width = 0, height = 0;
    AndorCapabilities caps{};
    std::vector<float> vsSpeeds;               // microseconds per row shift
    std::vector<std::vector<float>> hsSpeeds;  // per AD channel; MHz for camera type 1,
                                               // microseconds per pixel otherwise
    std::array<unsigned, 6> hardwareVersion{};
    std::array<unsigned, 6> softwareVersion{};
    int minTemperature = -100, maxTemperature = 20;
    int emGainLow = 0, emGainHigh = 255;
    int preAmpGains = 3;
    bool softwareTrigger = true;               // IsTriggerModeAvailable(10)
    SensorModel sensor;
};

// The built-in models of camera 1 (index 0) and camera 2 (index 1).
CameraModel DefaultCamera(int index);

// A call that fails: the first `after` calls of that name succeed, every
// later one returns `status`. handle 0 matches every camera.
struct Fault {
    std::string call;
    int after = 0;
    unsigned status = DRV_ERROR_ACK;
    int handle = 0;
};

struct Config {
    int cameras = 2;
    std::vector<CameraModel> models;  // empty: the built-in models
    uint64_t seed = 1;
    std::vector<Fault> faults;
    bool hangAcquisition = false;     // StartAcquisition works, GetStatus never reports idle
    double ambientCelsius = 20.0;
    double coolingRate = 1.5;         // degrees per second towards a colder set point
    double warmingRate = 1.0;         // towards a warmer set point, or ambient with the cooler off
    double stabiliseSeconds = 10.0;   // time held at the set point before "stabilised"
    bool trace = true;                // keep the call trace (benchmarks switch it off)
    std::shared_ptr<const LightModel> light;  // null: a slit spectrum
};

// The simulator lives in its own shared library (libpelu_camsim.so); these
// functions reach it there (simulator_client.cpp), in the library the
// cameras would load (a site's library only once it is loaded) or else the
// one beside the programs. False when there is none: the functions below
// then do nothing.
bool SimulatorPresent();

// Parses the environment variables above. Malformed entries are reported on
// stderr and skipped.
Config ConfigFromEnvironment();
// Parses a fault list as PELU_SIM_CAMERA_FAULTS gives it; false when an entry
// was malformed (the good ones are still returned).
bool ParseFaults(const std::string& text, std::vector<Fault>* faults);

// Powers the simulated cameras off and starts again with `config`: nothing
// initialised, coolers off at ambient, trace empty.
void Reset(const Config& config);
void Reset();  // with ConfigFromEnvironment()

// Adds a fault to the running simulator (its call count starts now).
void AddFault(const Fault& fault);

// ---- call trace ------------------------------------------------------------------

struct Call {
    int handle = 0;           // current camera when the call was made
    std::string text;         // "SetImage(2, 2, 1, 1004, 1, 1000)"
    unsigned result = 0;
    int repeats = 1;          // identical consecutive polls are counted, not repeated
    std::chrono::steady_clock::time_point time;  // of the first of them
};
std::vector<Call> Trace();
// The texts only, optionally of one camera's calls (handle 0: all).
std::vector<std::string> TraceTexts(int handle = 0);
void ClearTrace();

// Handle that GetCameraHandle gives for an index.
int HandleOfIndex(int index);

// ---- looking inside (tests) ---------------------------------------------------------

struct CameraView {
    bool initialized = false;
    bool acquiring = false;
    bool coolerOn = false;
    int setPoint = 0;
    double temperature = 0;
    int acquisitionMode = 0, frameTransfer = 0, kinetics = 0, readMode = 0;
    int vsSpeed = 0, hsSpeed = 0, adChannel = 0, preAmpGain = 0, emGain = 0;
    int shutterMode = 0, fanMode = 0, triggerMode = 0;
    int hbin = 1, vbin = 1, hstart = 1, hend = 1, vstart = 1, vend = 1;
    float exposure = 0;
    int baselineClamp = 0, baselineOffset = 0;
    uint64_t framesExposed = 0;
    double lastAcquisitionSeconds = 0;  // exposure + readout of the last acquisition
};
CameraView Inspect(int index);

// Puts a sensor at a temperature at once; `stabilised` also counts it as held
// at its set point long enough.
void SetSensorTemperature(int index, double celsius, bool stabilised);

}  // namespace camsim
