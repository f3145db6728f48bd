// The process-wide state of the instrument: which devices are on, what the
// observer chose in the settings, the per-step handshake between the scan
// program and the camera thread, the frame buffers and the panel handles.
//
// Every subsystem reads and writes it by name (`state.CCD_status`). Values
// that another thread reads or writes while the user-interface thread runs
// are atomic; buffers are owned here and empty when not allocated.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/os/waitable.h"
#include "state/buffer.h"
#include "state/frame_record.h"

namespace pelu {

// Device flags: -1 never opened in this run, 1 on, 0 switched off again.
constexpr int kDeviceNeverOpened = -1;
constexpr int kDeviceOn = 1;
constexpr int kDeviceOff = 0;

// Camera selection (`ccd_camera`).
constexpr int kCameraOne = 0;
constexpr int kCameraTwo = 1;
constexpr int kBothCameras = 2;
constexpr int kBothCamerasEachStep = 3;
constexpr int kFlatFielding = 4;

struct InstrumentState {
    // ---- devices
    std::atomic<int> CCD_status{kDeviceNeverOpened};
    std::atomic<int> Scanner_status{kDeviceNeverOpened};
    std::atomic<int> Motor_status{kDeviceNeverOpened};

    // ---- camera settings
    std::atomic<int> ccd_camera{0};
    float g_fExpTime1 = 0.0f;
    int ccd_Gain = 0;
    int ccd_HBin = 0;
    int ccd_VBin = 0;
    std::atomic<int> g_nFrameNumber1{0};
    int sequential_number = 0;
    std::atomic<int> nCameraHandle1{0};
    std::atomic<int> nCameraHandle2{0};
    int nNumberOfCameras = 0;
    std::atomic<int> nhDim1{0}, nvDim1{0};
    std::atomic<int> nhDim2{0}, nvDim2{0};
    std::atomic<int> g_nXPixels1{0}, g_nYPixels1{0};  // detector size, filled when opened
    std::atomic<int> g_nXPixels2{0}, g_nYPixels2{0};

    // ---- scan settings
    int scan_mode = -1;          // -1 none, 0 spectrograph (steps), 1 imaging (continuous)
    float scan_duration = 0.0f;  // one step, milliseconds
    float scan_size = 0.0f;      // half the step size entered, micrometres
    float scan_speed = 0.0f;     // imaging mode, micrometres per second
    float scan_stroke = 0.0f;    // imaging mode, millimetres

    // ---- run handshake and live view
    // 1: the scanner reached the next step; the monitoring loop sets it back
    // to 0 once the frame is in, which wakes the scan waiting for it.
    os::WaitableInt take{0};
    std::atomic<int> Scanpos_CCDframe{0};  // 1-based frame the pending request fills
    std::atomic<int> Scanpos_late{0};      // 1: that request came after the stage had left
    std::atomic<float> Scanpos_requested{0.0f};  // stage position when it was made
    std::atomic<int> Scanpos_retake{
        0};  // 1: the frame is taken again, the stage standing at its step
    std::atomic<int> pelu_take_mode{0};    // 0 current camera, 1 camera 1 then camera 2
    std::atomic<float> scanpos{0.0f};
    std::atomic<int> Scanner_InPosition{0};
    std::atomic<int> Scanning{0};
    // 1 once the observer pressed Stop (or quit) during a run: a scan ends at
    // its next poll with the frames taken so far, and the run stops after
    // saving them. Each run starts with 0.
    std::atomic<int> runStop{0};
    std::atomic<int> threadparam{-1};      // live view runs while 0
    std::atomic<int> threadfunctionID{0};  // thread-pool id of the live view, 0 = none
    std::atomic<int> DataSource{0};        // 1 camera data shown, 0 a stored file
    std::atomic<int> PmacAccessible{0};    // 1 while the scanner connection is open
    // The display's plot in the main panel's graph (histogram or line
    // profile), 0 = none. Whoever takes it out of here deletes it.
    std::atomic<int> plotHandle{0};

    // The refusals of real-time scheduling and of locked memory are told
    // once per program run.
    std::atomic<bool> realTimeRefusalShown{false};
    std::atomic<bool> memoryLockRefusalShown{false};

    // ---- frame buffers
    Buffer<uint16_t> g_pRawData, g_pRawData2;  // frames x width x height per camera
    Buffer<uint16_t> BiasDark1, BiasDark2;     // width x height
    Buffer<float> flatdata1, flatdata2;        // one float plane (flat fielding)
    Buffer<float> flatcube1, flatcube2;        // seven float planes (flat fielding)
    Buffer<uint16_t> pFitsData;                // a stored file's data (read as signed 16-bit)
    Buffer<uint16_t> pusFitsData;              // the plane built from a stored cube
    Plane<uint16_t> planeDataCCD;              // the camera plane on screen
    FrameLog frames1, frames2;                 // records of the series in g_pRawData, g_pRawData2

    // ---- directories (logical Windows paths)
    const std::string data_directory = "E:\\DRAV_Data\\";
    std::string entire_directory;  // without trailing separator; "" until built

    // ---- user interface
    int mainPanel = 0;
    int PELUpanelSetting = 0;
    int testpanel = 0;
    int aboutPanel = 0;
    int menubar = 0;
    int TabPanelHandle = 0;
    int panelwidth = 0;
    int panelheight = 0;

    // ---- display
    int colortable[256] = {};  // palette of the picture, 0x00RRGGBB; a grey ramp once filled

    // ---- what the observer must not miss, counted since the program started
    std::atomic<int> warnedFrames{0};   // frames taken late or missing
    std::atomic<int> warnedSaves{0};    // products that did not reach the disk
    std::atomic<int> warnedDevices{0};  // device faults

    // ---- other shared values
    int CurrentSelect_Wv = 0;
    int64_t gliFreq = 0, gliStart = 0, gliEnd = 0;
};

inline InstrumentState state;

// Back to the values of program start (tests).
void ResetInstrumentState();

}  // namespace pelu
