// Camera control: discovery and opening of the camera pair, the capability
// report, configuration, acquisition and cooling.
// Camera 1 and camera 2 are the cameras at library index 0 and 1; the
// functions take a camera handle and compare it with nCameraHandle1 and
// nCameraHandle2 to choose which camera's variables and buffer to use.
#pragma once

#include <functional>

#include <atomic>
#include <string>
#include <vector>

#include "platform/camera_sdk/atmcd.h"

namespace pelu {

// Values of the camera subsystem that no other subsystem needs by name.
struct CameraGlobals {
    AndorCapabilities caps{};          // of the camera last queried
    char ccd_path[256] = {};           // working directory handed to Initialize
    std::atomic<unsigned> errorValue{0};  // last library status
    std::atomic<int> temp_thread{1};   // the temperature watch runs while 0
    int temp_thread_id = 0;            // its thread-pool id
    std::atomic<int> nUnknownCameraHandle{0};  // current camera as the monitoring loop read it
    std::atomic<int> nhDim{0}, nvDim{0};  // image size last configured, either camera
    // Instrument seconds of one frame cycle as each camera reported it when
    // configured; bounds how long an acquisition may take.
    std::atomic<float> frameSeconds1{0}, frameSeconds2{0};
    std::atomic<int> setPoint1{10}, setPoint2{10};  // last temperature asked of each cooler
};

inline CameraGlobals ccd;

// Back to the values of program start (tests).
void ResetCameraGlobals();

// Stores a library status in errorValue and returns it.
inline unsigned Sdk(unsigned status) {
    ccd.errorValue = status;
    return status;
}

// ---- discovery, opening, report, closing ------------------------------------------

// Initialises the current camera and records its detector size. Returns 1,
// or 0 when the camera did not initialise (it is then not on).
int OpenCamera(int handle);
// The start of both programs' OpenCamera: the capability size the program
// reports, then Initialize with the working directory. False after the
// "Initialize Error" popup. The caller holds the camera lock.
bool InitializeCurrentCamera(uint32_t capabilitySize);
// Capability report of the current camera (fills caps as it goes).
std::string GetCameraInfo();
// Shuts the current camera down and frees its buffers. Returns 0 when the
// camera could not be polled and was left as it was, else 1.
int CloseCamera(int handle);

// What the two programs do differently when the cameras are switched on:
// the message for two cameras and the opening of one (made current first).
struct CameraBringUp {
    const char* twoCamerasMessage = "\n2 Two Cameras Detected!!\n";
    int (*open)(int handle) = OpenCamera;
};

// Counts the cameras and opens one or two of them (camera 1 current afterwards).
// True when every camera found was opened; otherwise the failure has been
// reported and the cameras are not on.
bool CamerasOn(const CameraBringUp& bringUp = {});
// Warms the cameras, then closes camera 1 and camera 2 in that order.
void CamerasOff();
// Closes the one camera, or camera 1 and then camera 2, each made current
// first, with `close`.
void CloseEachCamera(int (*close)(int handle));

// ---- configuration ---------------------------------------------------------------------

void SetCameraParam(int acquisitionMode, int readMode, int triggerMode, int gain, int hbin,
                    int vbin, float exposure, int shutterMode, int fanMode, int frames,
                    int handle);

// The read-out part of a configuration, shared by both programs' SetCameraParam:
// read mode, speeds, shutter, fan, gains, image area, trigger, exposure and
// baseline clamp, in that order, each failure reported and passed over.
struct ReadoutSettings {
    int readMode = 4;
    int vsIndex = 4;
    int shutterMode = 0;
    int fanMode = 0;
    int gain = 0;
    int triggerMode = 0;
    float exposure = 0.0f;
    int hbin = 1, vbin = 1;      // as SetImage gets them
    int columns = 0, rows = 0;   // image area 1..columns x 1..rows
    const char* baselineMessage = "BaseLine Clamp On\n";
    int handle = 0;              // the camera whose frame time is recorded
};
void ApplyReadoutSettings(const ReadoutSettings& settings);
// The read-out settings that SetCameraParam's own arguments give; the image
// area, vertical speed and handle are the caller's to fill in.
ReadoutSettings ReadoutOf(int readMode, int triggerMode, int gain, float exposure, int shutterMode,
                          int fanMode);
// A binning below 1 is refused with a status line (the settings refuse it
// too; a configuration never divides by it). True when refused.
bool BinningRefused(int hbin, int vbin);

// ---- acquisition -------------------------------------------------------------------------

// The scan request a frame answers: its step (from 1), the stage position
// when it was requested, whether it came late and whether it is a retake.
// Step 0: no scan.
struct ScanRequest {
    int step = 0;
    float positionRequested = 0.0f;
    bool late = false;
    bool retaken = false;  // taken again after the scan, the stage standing at its step
};

// One acquisition of the current camera into frame `frameIndex` of the
// buffer of camera `handle`, recorded in that camera's frame log. False when
// it was refused (no record: the slot does not exist) or failed.
bool TakeImage(int width, int height, int handle, int frameIndex, const ScanRequest& request = {});
// Reads the acquired frame into that slot. False when nothing was read.
bool DataDump(int width, int height, int handle, int frameIndex);
// One acquisition of a series of `frames` frames into the whole buffer; a
// record for each frame.
bool TakeImage_FTmode(int width, int height, int frames, int handle);

// ---- cooling ---------------------------------------------------------------------------------

// Cooler on at a temperature (flag 0) or off (non-zero) for each camera, then
// watches until stable when a cooler went on. 0 when a cooler command failed.
// `applied` runs once every command has been taken, before the watch.
int TempSet(int coolerOff1, int coolerOff2, int temperature1, int temperature2,
            const std::function<void()>& applied = {});
// The temperature watch (a thread function). Returns 0.
int setTempThread();
// Warms both cameras to 10 C before they are shut down. Returns 1.
int CameraQuitCooling();

// Temperatures read by the watch and the warm-up, for the history plot.
struct CoolingSample {
    double seconds = 0;  // instrument seconds since the watch or warm-up began
    int setPoint1 = 0, temperature1 = 0;
    int setPoint2 = 0, temperature2 = 0;
    bool hasCamera2 = false;
};
std::vector<CoolingSample> CoolingHistory();
// Reads both sensors and shows their temperature and cooler state on the
// main panel (empty while the cameras are off).
void ShowSensorStates();
void ClearCoolingHistory();

}  // namespace pelu
