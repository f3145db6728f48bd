#include "data/bias_dark.h"

#include <fitsio.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "camera/camera_facts.h"
#include "camera/camera_lock.h"
#include "data/fits_file.h"
#include "data/fits_writer.h"
#include "data/save_timer.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/os/os.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"
#include "state/progress.h"
#include "state/status.h"

namespace pelu {
namespace {

// The read-out geometry the camera configuration uses: the wide sensor
// leaves out its last two rows and is read with twice the binning.
struct Geometry {
    int vsSpeedIndex = 0;
    int hbin = 1, vbin = 1;  // as told to the camera
    int columns = 0, rows = 0;
    int width = 0, height = 0;
};

Geometry GeometryFor(int detectorWidth, int detectorHeight, int hbin, int vbin) {
    Geometry g;
    if (detectorWidth > 1000) {
        g.vsSpeedIndex = 3;
        g.hbin = 2 * hbin;
        g.vbin = 2 * vbin;
        g.columns = detectorWidth;
        g.rows = detectorHeight - 2;
        g.width = (detectorWidth / hbin) / 2;
        g.height = ((detectorHeight - 2) / vbin) / 2;
    } else {
        g.vsSpeedIndex = 4;
        g.hbin = hbin;
        g.vbin = vbin;
        g.columns = detectorWidth;
        g.rows = detectorHeight;
        g.width = detectorWidth / hbin;
        g.height = detectorHeight / vbin;
    }
    return g;
}

// Longest the series may take before the camera counts as hung: ten times
// its exposures, and never less than a minute of instrument time.
double SeriesTimeoutSeconds(float exposureSeconds) {
    return std::max(60.0, 10.0 * kBiasDarkFrames * static_cast<double>(exposureSeconds));
}

double InstrumentSeconds() {
    int64_t count = 0, frequency = 1;
    os::QueryPerformanceCounter(&count);
    os::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count) / static_cast<double>(frequency);
}

// Polls until the camera is idle. False (after the popup) on a failed poll
// or a camera that never finishes. The progress area counts the frames by
// the camera's cycle time meanwhile.
bool WaitForSeries(int handle, float exposureSeconds, float cycleSeconds) {
    const double started = InstrumentSeconds();
    const double deadline = started + SeriesTimeoutSeconds(exposureSeconds);
    const int camera = CameraSlotOfHandle(handle).number;
    // Read-out and transfer take real time whatever the time scale: a camera
    // counts as hung only after a few real seconds as well.
    const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = DRV_ACQUIRING;
    while (status != static_cast<int>(DRV_IDLE)) {
        if (GetStatus(&status) != DRV_SUCCESS) {
            CameraPopup("Status", "System not initialized");
            return false;
        }
        if (status != static_cast<int>(DRV_IDLE) && InstrumentSeconds() > deadline &&
            std::chrono::steady_clock::now() > realDeadline) {
            AbortAcquisition();
            CameraPopup("Error", "The bias/dark series did not finish; it was aborted.");
            return false;
        }
        if (status == static_cast<int>(DRV_IDLE)) break;
        const double elapsed = InstrumentSeconds() - started;
        const int frame = cycleSeconds > 0
                              ? std::clamp(int(elapsed / cycleSeconds) + 1, 1, kBiasDarkFrames)
                              : 1;
        ShowProgress(Format("Bias/dark of CCD %d: frame %d of %d", camera, frame, kBiasDarkFrames),
                     double(frame - 1) / kBiasDarkFrames, elapsed,
                     cycleSeconds > 0 ? std::max(0.0, kBiasDarkFrames * cycleSeconds - elapsed)
                                      : -1.0);
        CameraPause(handle, 1.0);
    }
    return true;
}

}  // namespace

void AverageFrames(const uint16_t* series, size_t plane, int frames, uint16_t* master) {
    if (frames < 1) return;
    for (size_t p = 0; p < plane; ++p) {
        uint32_t sum = 0;
        for (size_t k = 0; k < size_t(frames); ++k) sum += series[k * plane + p];
        master[p] = static_cast<uint16_t>(sum / uint32_t(frames));
    }
}

void TakeBiasDark(int gain, int hbin, int vbin, float exposureSeconds, int handle,
                  const std::string& directory) {
    const CameraSlot camera = CameraSlotOfHandle(handle);
    if (!camera.known()) {
        ShowStatus(Format("\nNo bias/dark frame: handle %d is neither camera\n", handle));
        return;
    }
    if (hbin < 1 || vbin < 1) {
        ShowStatus(Format("\nNo bias/dark frame: binning %d x %d\n", hbin, vbin));
        return;
    }
    const Geometry g = GeometryFor(*camera.detectorWidth, *camera.detectorHeight, hbin, vbin);
    *camera.imageWidth = g.width;
    *camera.imageHeight = g.height;

    if (g.width < 1 || g.height < 1) {
        ShowStatus(Format("\nNo bias/dark frame for camera %d: image %d x %d (is it open?)\n",
                          camera.number, g.width, g.height));
        return;
    }
    Buffer<uint16_t>& master = *camera.biasDark;
    const size_t plane = g.width > 0 && g.height > 0 ? size_t(g.width) * size_t(g.height) : 0;
    Buffer<uint16_t> series;
    if (!master.Allocate(plane) || !series.Allocate(plane * kBiasDarkFrames)) {
        master.Free();
        ShowStatus(Format("\nNo bias/dark frame for camera %d: no memory for %d x %d x %d pixels\n",
                          camera.number, g.width, g.height, kBiasDarkFrames));
        return;
    }

    // The camera is current already; the pauses below let other threads use
    // the cameras and make this one current again. The lock is let go
    // before the save, which may ask the observer for a folder.
    std::optional<CameraLock> lock(std::in_place);
    SetAcquisitionMode(6);
    SetFrameTransferMode(1);
    SetNumberKinetics(kBiasDarkFrames);
    SetReadMode(4);
    SetVSSpeed(g.vsSpeedIndex);
    SetADChannel(0);
    SetHSSpeed(0, 0);
    SetShutter(1, 2, 1, 1);
    SetFanMode(0);
    SetPreAmpGain(2);
    SetEMCCDGain(gain);
    CameraPause(handle, 250.0);
    SetImage(g.hbin, g.vbin, 1, g.columns, 1, g.rows);
    SetTriggerMode(0);
    ShowStatus(Format("\nsetting exposute time is %f\n", exposureSeconds));
    SetExposureTime(exposureSeconds);
    SetBaselineClamp(1);
    if (SetBaselineOffset(1000) != DRV_SUCCESS) ShowStatus("Not Set Baseline Clamp\n");
    float exposure = 0, accumulate = 0, kinetic = 0;
    GetAcquisitionTimings(&exposure, &accumulate, &kinetic);

    if (StartAcquisition() != DRV_SUCCESS) {
        CameraPopup("Error", "Start acquisition error");
        AbortAcquisition();
        return;
    }
    if (!WaitForSeries(handle, exposureSeconds, kinetic)) return;
    if (GetAcquiredData16(series.get(), static_cast<uint32_t>(series.size())) != DRV_SUCCESS) {
        ShowStatus(Format("\nThe bias/dark series of camera %d could not be read\n", camera.number));
        return;
    }

    AverageFrames(series.get(), plane, kBiasDarkFrames, master.get());
    state.DataSource = 1;
    series.Free();  // before the save: the file write needs no second copy
    BiasDarkHeader header;
    header.exposureSeconds = exposureSeconds;
    header.hbin = state.ccd_HBin;
    header.vbin = state.ccd_VBin;
    header.gain = state.ccd_Gain;
    header.facts = ReadCameraFacts(handle);
    lock.reset();
    const std::string what = Format("bias/dark frame of camera %d", camera.number);
    if (SaveOrOfferAnother(what, directory, [&](const std::string& folder) {
            return SaveBiasDark(g.width, g.height, master.get(), master.size(), camera.number,
                                header, folder);
        }).empty())
        ShowStatus("\nThe " + what + " stays in memory for this run only.\n");
}

SaveResult SaveBiasDark(int width, int height, const uint16_t* master, size_t available, int camera,
                        const BiasDarkHeader& header, const std::string& directory) {
    SaveResult result;
    if (camera != 1 && camera != 2) {
        ShowWarning(Warning::Save,
                    Format("\nBias/dark file not written: camera %d is neither camera\n", camera));
        return result;
    }
    const size_t count = width > 0 && height > 0 ? size_t(width) * size_t(height) : 0;
    if (count == 0 || master == nullptr || available < count) {
        ShowWarning(Warning::Save,
                    Format("\nBias/dark file of camera %d not written: no %d x %d master frame\n",
                           camera, width, height));
        return result;
    }

    SaveTimer timer;
    FitsOutput file;
    file.Create(directory, ProductFileName(os::UtcNow(), camera == 1 ? 'A' : 'B', "_BiasDark"));
    result.path = file.path();
    file.CreateImage(SHORT_IMG, width, height, 1);
    file.Date();
    file.Float("EXPTIME", header.exposureSeconds, "Second");
    file.Unsigned("HBINNING", static_cast<unsigned>(header.hbin), "");
    file.Unsigned("VBINNING", static_cast<unsigned>(header.vbin), "");
    file.Unsigned("GAIN", static_cast<unsigned>(header.gain), "Value Range: 0-255");
    file.Int("CCDTEMP", header.facts.temperature, "Cooling Temperature of CCD");
    file.String("CCDNAME", header.facts.headModel, "Productname of CCD");
    file.Delete("COMMENT");
    file.Delete("COMMENT");
    file.Words(master, count);
    result.written = file.Close();
    timer.ShowInStatusBox();
    if (result.written) ShowStatus("\nFile written: " + result.path + "\n");
    return result;
}

void BiasDarkCorrection(int width, int height, int handle, int frameIndex) {
    const CameraSlot camera = CameraSlotOfHandle(handle);
    if (!camera.known()) return;
    if (width < 1 || height < 1 || frameIndex < 0) return;
    Buffer<uint16_t>& raw = *camera.raw;
    const Buffer<uint16_t>& master = *camera.biasDark;
    const size_t n = size_t(width) * size_t(height);
    const size_t offset = n * size_t(frameIndex);
    if (master.size() < n || raw.size() < offset + n) return;
    uint16_t* frame = raw.get() + offset;
    const uint16_t* dark = master.get();
    for (size_t i = 0; i < n; ++i) frame[i] = static_cast<uint16_t>(frame[i] - dark[i]);
}

}  // namespace pelu
