// Camera discovery, opening, capability report and closing; configuration;
// acquisition into the raw series buffers.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "platform/camera_sdk/binding.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using Clock = std::chrono::steady_clock;

// Camera 1 for a handle that is neither camera's, as the messages name it.
int CameraNumber(int handle) { return CameraSlotOfHandle(handle).number == 2 ? 2 : 1; }

// Start of `frames` frames of width x height from frame `frameIndex` on in
// the camera's buffer, or null (with a status line) when they would not fit.
uint16_t* FrameSlot(int width, int height, int handle, int frameIndex, int frames) {
    Buffer<uint16_t>* buffer = CameraSlotOfHandle(handle).raw;
    const size_t frameSize = width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
    const bool fits = buffer && *buffer && frameSize > 0 && frameIndex >= 0 && frames >= 1 &&
                      (size_t(frameIndex) + size_t(frames)) * frameSize <= buffer->size();
    if (fits) return buffer->get() + size_t(frameIndex) * frameSize;
    if (!buffer || !*buffer)
        ShowStatus(Format("\nCamera %d has no frame buffer: acquisition refused\n", CameraNumber(handle)));
    else
        ShowStatus(Format("\nFrame %d of %d x %d lies outside camera %d's buffer: acquisition refused\n",
                          frameIndex, width, height, CameraNumber(handle)));
    return nullptr;
}

enum class Poll { Idle, Failed, TimedOut };

// Polls of an acquisition's status without pause, then the pause between
// polls (instrument milliseconds).
constexpr int kIdlePollsWithoutPause = 50;
constexpr double kIdlePollPauseMs = 0.1;

// Instrument seconds an acquisition of `frames` frames may take before the
// camera counts as hung: twice its cycle time as reported at configuration
// (or exposure plus a second when it was not configured), plus 5 s.
double AcquisitionTimeout(int handle, int frames) {
    const bool second = CameraSlotOfHandle(handle).number == 2;
    double cycle = second ? ccd.frameSeconds2.load() : ccd.frameSeconds1.load();
    if (!(cycle > 0)) cycle = state.g_fExpTime1 + 1.0;
    return 5.0 + 2.0 * std::max(frames, 1) * cycle;
}

// GetStatus until idle. The first polls follow each other at once; after
// them the poller sleeps a little between polls, so that waiting for a frame
// does not keep a processor busy that the scan's own polling and the camera
// need. A camera that never becomes idle (run till abort, a hung head) is
// given up after `timeout` instrument seconds, and never before five seconds
// of host time so that a slow host does not abort a healthy acquisition.
// The pauses let go of the camera lock; `handle` is made current again after
// each.
Poll PollUntilIdle(int handle, double timeout) {
    const auto scaled = std::chrono::duration<double>(timeout * os::TimeScale());
    const auto deadline = Clock::now() + std::max<Clock::duration>(
        std::chrono::duration_cast<Clock::duration>(scaled), std::chrono::seconds(5));
    int status = 0;
    for (int poll = 0;; ++poll) {
        if (Sdk(GetStatus(&status)) != DRV_SUCCESS) return Poll::Failed;
        if (status == int(DRV_IDLE)) return Poll::Idle;
        if (Clock::now() > deadline) return Poll::TimedOut;
        if (poll >= kIdlePollsWithoutPause) CameraPause(handle, kIdlePollPauseMs);
    }
}

// A camera's acquisition from its start to its read-out. Its waits let go
// of the camera lock, so another thread that wants the same camera (a live
// view and the monitoring loop) waits here for its turn instead of starting
// a second acquisition on it.
class CameraInUse {
public:
    explicit CameraInUse(int handle) : flag_(InUse(handle)) {
        while (flag_.exchange(true)) CameraPause(handle, kIdlePollPauseMs);
    }
    ~CameraInUse() { flag_ = false; }
    CameraInUse(const CameraInUse&) = delete;
    CameraInUse& operator=(const CameraInUse&) = delete;

private:
    static std::atomic<bool>& InUse(int handle) {
        static std::atomic<bool> inUse[3];  // by camera number; 0 for an unknown handle
        return inUse[CameraSlotOfHandle(handle).number];
    }
    std::atomic<bool>& flag_;
};

// Starts an acquisition and waits for it. False after a failure, which has
// been reported.
bool Acquire(int handle, int frames) {
    if (Sdk(StartAcquisition()) != DRV_SUCCESS) {
        CameraPopup("Error", "Start acquisition error");
        Sdk(AbortAcquisition());
        return false;
    }
    const double timeout = AcquisitionTimeout(handle, frames);
    switch (PollUntilIdle(handle, timeout)) {
        case Poll::Idle: return true;
        case Poll::Failed: CameraPopup("Status", "System not initialized"); return false;
        case Poll::TimedOut:
            Sdk(AbortAcquisition());
            CameraPopup("Error", Format("Camera %d did not finish its acquisition within %.1f s; "
                                        "the acquisition was aborted.",
                                        CameraNumber(handle), timeout));
            return false;
    }
    return false;
}

bool OpenCameraNumbered(int number, int handle, int (*open)(int handle)) {
    CameraSession session(handle);
    ShowStatus(Format("\nCamera%d is Opening\n", number));
    if (open(handle) == 0) {
        // The camera's own box has named the failed call.
        ShowSwitchOnFailure("camera", Format("camera %d did not initialise", number),
                            "Check that it is powered and its cable is connected, then switch "
                            "the cameras on again.",
                            false);
        return false;
    }
    ShowStatus(Format("\nCamera%d Open Complete!!\n", number));
    return true;
}

}  // namespace

void ResetCameraGlobals() {
    ccd.caps = AndorCapabilities{};
    std::fill(std::begin(ccd.ccd_path), std::end(ccd.ccd_path), '\0');
    ccd.errorValue = 0;
    ccd.temp_thread = 1;
    ccd.temp_thread_id = 0;
    ccd.nUnknownCameraHandle = 0;
    ccd.nhDim = 0;
    ccd.nvDim = 0;
    ccd.frameSeconds1 = 0;
    ccd.frameSeconds2 = 0;
    ccd.setPoint1 = 10;
    ccd.setPoint2 = 10;
    ClearCoolingHistory();
}

// ---- discovery, opening, report, closing ---------------------------------------------

bool CamerasOn(const CameraBringUp& bringUp) {
    int32_t count = 0;
    {
        CameraLock lock;
        // The library is chosen again at every switch-on: a site may have
        // edited devices.ini in between. A refused one leaves no camera.
        std::string refusal;
        if (!camera_sdk::BindLibrary(&refusal)) {
            ShowStatus("\n" + refusal + "\n");
            CameraPopup("Camera", refusal);
            return false;
        }
        ShowStatus("\n" + camera_sdk::LibraryLine() + "\n");
        Sdk(GetAvailableCameras(&count));
    }
    state.nNumberOfCameras = count;
    bool opened = false;
    if (count == 1) {
        ShowStatus("\n1 Camera Detected!!\n");
        int32_t handle = 0;
        Sdk(GetCameraHandle(0, &handle));
        state.nCameraHandle1 = handle;
        opened = OpenCameraNumbered(1, handle, bringUp.open);
    } else if (count == 2) {
        ShowStatus(bringUp.twoCamerasMessage);
        int32_t handle1 = 0, handle2 = 0;
        Sdk(GetCameraHandle(0, &handle1));
        Sdk(GetCameraHandle(1, &handle2));
        state.nCameraHandle1 = handle1;
        state.nCameraHandle2 = handle2;
        const bool first = OpenCameraNumbered(1, handle1, bringUp.open);
        const bool second = OpenCameraNumbered(2, handle2, bringUp.open);
        opened = first && second;
        CameraSession session(handle1);
        ShowStatus("\nSet to Current Camera1\n");
    } else {
        ShowSwitchOnFailure("camera",
                            count == 0 ? std::string("no camera was detected")
                                       : Format("the camera library reports %d "
                                                "cameras; this program drives one or two",
                                                count),
                            "Check that the cameras are powered and their cables are connected.");
    }
    // On only when every camera found is ready.
    if (!opened && state.CCD_status == kDeviceOn) state.CCD_status = kDeviceOff;
    return opened && state.CCD_status == kDeviceOn;
}

void CamerasOff() {
    CameraQuitCooling();
    CloseEachCamera(CloseCamera);
}

void CloseEachCamera(int (*close)(int handle)) {
    if (state.nNumberOfCameras == 1) {
        CameraSession session(state.nCameraHandle1);
        close(state.nCameraHandle1);
    } else if (state.nNumberOfCameras == 2) {
        {
            CameraSession session(state.nCameraHandle1);
            close(state.nCameraHandle1);
        }
        CameraSession session(state.nCameraHandle2);
        close(state.nCameraHandle2);
    }
}

bool InitializeCurrentCamera(uint32_t capabilitySize) {
    ccd.caps.ulSize = capabilitySize;
    std::snprintf(ccd.ccd_path, sizeof ccd.ccd_path, "%s", os::WorkingDirectory().c_str());
    if (Sdk(Initialize(ccd.ccd_path)) == DRV_SUCCESS) return true;
    CameraPopup("Error", "Initialize Error");
    return false;
}

int OpenCamera(int handle) {
    CameraLock lock;
    if (!InitializeCurrentCamera(48)) return 0;
    if (const CameraSlot camera = CameraSlotOfHandle(handle); camera.known()) {
        int width = 0, height = 0;
        Sdk(GetDetector(&width, &height));
        *camera.detectorWidth = width;
        *camera.detectorHeight = height;
    }
    if (ccd.errorValue != DRV_SUCCESS) CameraPopup("Error", "Get Detector information Error");
    for (int i = 0; i < 256; ++i) state.colortable[i] = i * 0x010101;
    state.CCD_status = kDeviceOn;
    GetCameraInfo();  // for its effect of filling caps
    return 1;
}

std::string GetCameraInfo() {
    CameraLock lock;
    std::string text;
    ccd.caps.ulSize = sizeof(AndorCapabilities);
    if (Sdk(GetCapabilities(&ccd.caps)) != DRV_SUCCESS)
        CameraPopup("Error", "Get Andor Capabilities information Error");

    char model[32] = {};
    if (Sdk(GetHeadModel(model)) != DRV_SUCCESS) CameraPopup("Error", "Get Head Model information Error");
    model[sizeof model - 1] = '\0';
    text = Format("Head Model : %s\n", model);

    int width = 0, height = 0;
    if (Sdk(GetDetector(&width, &height)) != DRV_SUCCESS)
        CameraPopup("Error", "Get Detector information Error");
    text += Format("Size of CCD : %d X %d pixels\n", width, height);

    // The fastest vertical shift is the largest value; the first of equals wins.
    int vsCount = 0, vsIndex = 0;
    float best = 0.0f, speed = 0.0f;
    Sdk(GetNumberVSSpeeds(&vsCount));
    for (int i = 0; i < vsCount; ++i) {
        speed = 0.0f;
        Sdk(GetVSSpeed(i, &speed));
        if (speed > best) {
            best = speed;
            vsIndex = i;
        }
    }
    speed = 0.0f;
    Sdk(GetVSSpeed(vsIndex, &speed));
    text += Format("VSNumber is %d\n", vsIndex);
    text += Format("Vertical Speed : %g microseconds per pixel shift\n", speed);

    int channels = 0, adIndex = 0, hsIndex = 0;
    if (Sdk(GetNumberADChannels(&channels)) != DRV_SUCCESS) {
        CameraPopup("Error", "Get number AD Channel Error\n");
    } else {
        best = 0.0f;
        for (int channel = 0; channel < channels; ++channel) {
            int hsCount = 0;
            Sdk(GetNumberHSSpeeds(channel, 0, &hsCount));
            for (int i = 0; i < hsCount; ++i) {
                speed = 0.0f;
                Sdk(GetHSSpeed(channel, 0, i, &speed));
                if (speed > best) {
                    best = speed;
                    hsIndex = i;
                    adIndex = channel;
                }
            }
        }
    }
    text += Format("ADNumber is %d\n", adIndex);
    text += Format("HSNumber is %d\n", hsIndex);
    speed = 0.0f;
    Sdk(GetHSSpeed(0, 0, hsIndex, &speed));
    text += ccd.caps.ulCameraType == 1
                ? Format("Horizontal Speed : %g MHz\n", speed)
                : Format("Horizontal Speed : %g microseconds per pixel shift\n", speed);

    unsigned v[6] = {};
    Sdk(GetHardwareVersion(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]));
    text += Format("Plug-in card version : %.2f\n", double(v[0]));
    text += Format("Flex 10K file version : %.1f\n", double(v[1]));
    text += Format("Camera FirmWare Version :%.2f\n", double(v[4]));
    text += Format("Cam Firmware Build No : %.2f\n", double(v[5]));

    unsigned s[6] = {};
    Sdk(GetSoftwareVersion(&s[0], &s[1], &s[2], &s[3], &s[4], &s[5]));
    text += Format("EPROM_ver : %.1f\n", double(s[0]));
    text += Format("COF_file_ver : %.1f\n", double(s[1]));
    text += Format("Driver_revision_num : %.1f\n", double(s[2]));
    text += Format("Driver_ver : %.1f\n", double(s[3]));
    text += Format("DLL_revision_number : %.1f\n", double(s[4]));
    text += Format("DLL_ver : %.1f\n", double(s[5]));

    int low = 0, high = 0;
    Sdk(GetTemperatureRange(&low, &high));
    text += Format("Temperature range : From %d C to %d C\n", low, high);
    low = high = 0;
    Sdk(GetEMGainRange(&low, &high));
    text += Format("EM Gain range : From %d to %d\n", low, high);
    int gain = 0;
    Sdk(GetEMCCDGain(&gain));
    text += Format("Current EMGain value :%d\n", gain);
    int preAmps = 0;
    Sdk(GetNumberPreAmpGains(&preAmps));
    text += Format("pre amp gain :%d\n", preAmps);

    text += (ccd.caps.ulTriggerModes & 8u) ? "Correct Hardware for Continuous Mode\n"
                                           : "InCorrect HardWare for Continuous Mode\n";
    text += Sdk(IsTriggerModeAvailable(10)) == DRV_SUCCESS ? "Software Trigger Mode Available\n"
                                                           : "Not Valid Mode for Software Trigger\n";
    return text;
}

int CloseCamera(int handle) {
    CameraLock lock;
    const int frames = std::max(1, state.g_nFrameNumber1.load());
    switch (PollUntilIdle(handle, AcquisitionTimeout(handle, frames))) {
        case Poll::Idle: break;
        case Poll::Failed: CameraPopup("Status", "System not initialized1"); return 0;
        case Poll::TimedOut: Sdk(AbortAcquisition()); break;  // a camera stuck acquiring still closes
    }
    const unsigned shutter = Sdk(SetShutter(1, 0, 1, 1));
    ShowStatus("Set to Shutter Auto Mode\n");
    if (shutter != DRV_SUCCESS) CameraPopup("Error", "Shutter Error");
    Sdk(SetFanMode(2));
    if (Sdk(ShutDown()) != DRV_SUCCESS) CameraPopup("Error", "Error shutting down");
    if (const CameraSlot camera = CameraSlotOfHandle(handle); camera.known()) {
        camera.raw->Free();
        camera.frames->Start(0);
    }
    state.pusFitsData.Free();
    state.pFitsData.Free();
    state.planeDataCCD.Release();
    state.BiasDark1.Free();
    state.BiasDark2.Free();
    ShowStatus("Complete Shut Down\n");
    state.CCD_status = kDeviceOff;
    return 1;
}

// ---- configuration ----------------------------------------------------------------------

void SetCameraParam(int acquisitionMode, int readMode, int triggerMode, int gain, int hbin,
                    int vbin, float exposure, int shutterMode, int fanMode, int frames,
                    int handle) {
    const CameraSlot camera = CameraSlotOfHandle(handle);
    if (!camera.known()) {
        ShowStatus(Format("\nNo camera with handle %d to configure\n", handle));
        return;
    }
    if (BinningRefused(hbin, vbin)) return;
    CameraLock lock;
    const int x = *camera.detectorWidth;
    const int y = *camera.detectorHeight;

    // The wide sensor is read with doubled binning and without its last two rows.
    const bool wide = x > 1000;
    const int vsIndex = wide ? 3 : 4;
    const int width = wide ? (x / hbin) / 2 : x / hbin;
    const int height = wide ? ((y - 2) / vbin) / 2 : y / vbin;
    ccd.nhDim = width;
    ccd.nvDim = height;
    *camera.imageWidth = width;
    *camera.imageHeight = height;

    const size_t frameSize = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    const size_t count = frames > 0 ? frameSize * size_t(frames) : frameSize;
    if (!camera.raw->Allocate(count)) {
        std::printf(camera.number == 1 ? "Not Allocate the memory for g_pRawData\n"
                                       : "Not Allocate the memory for g_pRawData2\n");
        std::fflush(stdout);
        return;
    }
    camera.frames->Start(frames > 0 ? frames : 1);

    if (acquisitionMode == 1) {
        Sdk(SetFrameTransferMode(0));
        if (Sdk(SetAcquisitionMode(1)) != DRV_SUCCESS) CameraPopup("Error", "Set Acquisition Mode Error");
    } else if (acquisitionMode == 6) {
        Sdk(SetFrameTransferMode(1));
        if (Sdk(SetNumberKinetics(frames)) != DRV_SUCCESS) CameraPopup("Error", "Set number Frames error");
    } else if (acquisitionMode == 5) {
        Sdk(SetFrameTransferMode(0));
        Sdk(SetAcquisitionMode(5));
        Sdk(SetKineticCycleTime(0.0f));
    }
    ReadoutSettings readout =
        ReadoutOf(readMode, triggerMode, gain, exposure, shutterMode, fanMode);
    readout.vsIndex = vsIndex;
    readout.hbin = wide ? 2 * hbin : hbin;
    readout.vbin = wide ? 2 * vbin : vbin;
    readout.columns = x;
    readout.rows = wide ? y - 2 : y;
    readout.handle = handle;
    ApplyReadoutSettings(readout);
}

bool BinningRefused(int hbin, int vbin) {
    if (hbin >= 1 && vbin >= 1) return false;
    ShowStatus(Format("\nBinning %d x %d refused\n", hbin, vbin));
    return true;
}

ReadoutSettings ReadoutOf(int readMode, int triggerMode, int gain, float exposure, int shutterMode,
                          int fanMode) {
    ReadoutSettings readout;
    readout.readMode = readMode;
    readout.triggerMode = triggerMode;
    readout.gain = gain;
    readout.exposure = exposure;
    readout.shutterMode = shutterMode;
    readout.fanMode = fanMode;
    return readout;
}

void ApplyReadoutSettings(const ReadoutSettings& r) {
    CameraLock lock;
    const bool camera1 = CameraSlotOfHandle(r.handle).number == 1;
    if (Sdk(SetReadMode(r.readMode)) != DRV_SUCCESS) CameraPopup("Error", "Set Read Mode Error");
    Sdk(SetVSSpeed(r.vsIndex));
    Sdk(SetADChannel(0));
    Sdk(SetHSSpeed(0, 0));
    const unsigned shutter = Sdk(SetShutter(1, r.shutterMode, 1, 1));
    ShowStatus("\nComplete Shutter Setting\n");
    if (shutter != DRV_SUCCESS) CameraPopup("Error", "Shutter Error");
    if (Sdk(SetFanMode(r.fanMode)) != DRV_SUCCESS) CameraPopup("Error", "Fan Error");
    const unsigned preAmp = Sdk(SetPreAmpGain(2));
    ShowStatus("Set PreAmpGain is 2-4.4X\n");
    if (preAmp != DRV_SUCCESS) CameraPopup("Error", "Set PreAmpGain Error");
    if (Sdk(SetEMCCDGain(r.gain)) != DRV_SUCCESS) CameraPopup("Error", "EMCCD Gain error");
    // The head settles before the image area is set. Other threads may use
    // the cameras meanwhile; this one is made current again afterwards.
    CameraPause(r.handle, 250.0);
    Sdk(SetImage(r.hbin, r.vbin, 1, r.columns, 1, r.rows));
    if (Sdk(SetTriggerMode(r.triggerMode)) != DRV_SUCCESS) CameraPopup("Error", "Set Trigger Mode Error");
    ShowStatus(Format("\nsetting exposute time is %f\n", r.exposure));
    if (Sdk(SetExposureTime(r.exposure)) != DRV_SUCCESS) CameraPopup("Error", "Exposure time error");
    if (Sdk(SetBaselineClamp(1)) == DRV_SUCCESS) {
        ShowStatus(r.baselineMessage);
        if (Sdk(SetBaselineOffset(1000)) != DRV_SUCCESS) ShowStatus("Not Set Baseline Clamp\n");
    }
    float actualExposure = 0, accumulate = 0, kinetic = 0;
    Sdk(GetAcquisitionTimings(&actualExposure, &accumulate, &kinetic));
    ShowStatus(Format("\nactual exposure time is %f,\nvalid kinetic cycle time is %f\n",
                      actualExposure, kinetic));
    (camera1 ? ccd.frameSeconds1 : ccd.frameSeconds2) = std::max(kinetic, accumulate);
}

// ---- acquisition --------------------------------------------------------------------------

namespace {

// A record of the frame about to be taken into slot `frameIndex`.
FrameRecord NewRecord(const CameraSlot& camera, int width, int height, int frameIndex,
                      const ScanRequest& request) {
    FrameRecord record;
    record.camera = camera.number;
    record.index = frameIndex;
    record.width = width;
    record.height = height;
    record.scanStep = request.step;
    record.positionRequested = request.step > 0 ? request.positionRequested : state.scanpos.load();
    record.late = request.late;
    record.retaken = request.retaken;
    return record;
}

}  // namespace

bool TakeImage(int width, int height, int handle, int frameIndex, const ScanRequest& request) {
    CameraLock lock;
    const CameraSlot camera = CameraSlotOfHandle(handle);
    if (!FrameSlot(width, height, handle, frameIndex, 1)) return false;
    CameraInUse inUse(handle);
    FrameRecord record = NewRecord(camera, width, height, frameIndex, request);
    record.startUtcUs = UtcMicroseconds();
    record.read = Acquire(handle, 1) && DataDump(width, height, handle, frameIndex);
    record.endUtcUs = UtcMicroseconds();
    record.positionEnded = state.scanpos;
    camera.frames->Add(record);
    return record.read;
}

bool DataDump(int width, int height, int handle, int frameIndex) {
    CameraLock lock;
    uint16_t* slot = FrameSlot(width, height, handle, frameIndex, 1);
    if (!slot) return false;
    const uint32_t count = uint32_t(size_t(width) * size_t(height));
    const bool read = Sdk(GetAcquiredData16(slot, count)) == DRV_SUCCESS;
    state.DataSource = 1;
    return read;
}

bool TakeImage_FTmode(int width, int height, int frames, int handle) {
    CameraLock lock;
    const CameraSlot camera = CameraSlotOfHandle(handle);
    uint16_t* start = FrameSlot(width, height, handle, 0, frames);
    if (!start) return false;
    CameraInUse inUse(handle);
    const int64_t startUs = UtcMicroseconds();
    if (!Acquire(handle, frames)) {
        const int64_t endUs = UtcMicroseconds();
        for (int f = 0; f < frames; ++f) {
            FrameRecord record = NewRecord(camera, width, height, f, {});
            record.startUtcUs = startUs;
            record.endUtcUs = endUs;
            camera.frames->Add(record);
        }
        return false;
    }
    const int64_t endUs = UtcMicroseconds();
    const size_t total = size_t(width) * size_t(height) * size_t(frames);
    const bool read =
        total <= UINT32_MAX && Sdk(GetAcquiredData16(start, uint32_t(total))) == DRV_SUCCESS;
    if (!read)
        ShowWarning(Warning::Frames,
                    Format("\nCamera %d: the series could not be read (error %u)\n", camera.number,
                           ccd.errorValue.load()),
                    0);  // its frames are counted where the series is reported
    // The camera reports the series as a whole; each frame gets its share of
    // the acquisition's span, in order.
    const int64_t span = endUs - startUs;
    for (int f = 0; f < frames; ++f) {
        FrameRecord record = NewRecord(camera, width, height, f, {});
        record.read = read;
        record.startUtcUs = startUs + span * f / frames;
        record.endUtcUs = startUs + span * (f + 1) / frames;
        record.positionEnded = record.positionRequested;
        camera.frames->Add(record);
    }
    state.DataSource = 1;
    return true;
}

}  // namespace pelu
