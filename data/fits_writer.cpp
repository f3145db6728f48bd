#include "data/fits_writer.h"

#include <fitsio.h>

#include <array>

#include "data/camera_facts.h"
#include "data/fits_file.h"
#include "data/save_timer.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

constexpr int kActiveRegion = 3;
constexpr int kOtherTarget = 8;

// TARGET card values of the target selector 0..7; 8 is the free text.
constexpr std::array<const char*, 8> kTargetNames = {
    "Near Disk Center", "Close to or on the Limb", "Quiet Region", "Active Region",
    "Corona Hole",      "Sunspot",                 "Filament",     "Prominence"};

// Which camera a handle is, its file letter, buffer and header values.
struct CameraOfHandle {
    int number = 0;  // 1 or 2; 0 for a handle that is neither camera
    char letter = 0;
    int detectorWidth = 0, detectorHeight = 0;
    const char* wavelength = "";
    const char* wavelengthComment = "";
};

CameraOfHandle Camera(int handle) {
    CameraOfHandle c;
    if (handle == state.nCameraHandle1) {
        c = {1, 'A', state.g_nXPixels1, state.g_nYPixels1, "6562.8", "CCD1 Wavenength(angstrom)"};
    } else if (handle == state.nCameraHandle2) {
        c = {2, 'B', state.g_nXPixels2, state.g_nYPixels2, "8542", "CCD2 Wavenength(angstrom)"};
    }
    return c;
}

// Refuses what cannot make an image; reports it. True when the save can go on.
bool Acceptable(const char* what, int naxis1, int naxis2, int naxis3, const CameraOfHandle& camera,
                int handle) {
    if (camera.number == 0) {
        ShowStatus(Format("\n%s not written: handle %d is neither camera\n", what, handle));
        return false;
    }
    if (naxis1 < 1 || naxis2 < 1 || naxis3 < 1) {
        ShowStatus(Format("\n%s of camera %d not written: image size %d x %d x %d\n", what,
                          camera.number, naxis1, naxis2, naxis3));
        return false;
    }
    return true;
}

size_t ElementCount(int naxis1, int naxis2, int naxis3) {
    return size_t(naxis1) * size_t(naxis2) * size_t(naxis3);
}

// The cards every product shares, after DATE: exposure, binning, gain and the
// scan's times.
void SettingsCards(FitsOutput& file, float exposureSeconds, const std::string& startTime,
                   const std::string& endTime, float elapsedSeconds) {
    file.Float("EXPTIME", exposureSeconds, "Second");
    file.Unsigned("HBINNING", static_cast<unsigned>(state.ccd_HBin), "");
    file.Unsigned("VBINNING", static_cast<unsigned>(state.ccd_VBin), "");
    file.Unsigned("GAIN", static_cast<unsigned>(state.ccd_Gain), "Value Range: 0-255");
    file.String("STRTIME", startTime, "Scan Start Time");
    file.String("ENDTIME", endTime, "Scan Finish Time");
    file.Float("ELAPTIME", elapsedSeconds, "Elapse Time During Scanning(Second)");
}

void ModeCards(FitsOutput& file) {
    const int scanner = state.Scanner_status;
    if (scanner == kDeviceOff) {
        file.String("PELUMODE", "None(Only CCD)", "PELU Mode");
        return;
    }
    if (scanner != kDeviceOn) return;
    switch (state.scan_mode) {
        case 0: {
            const float stepSize = static_cast<float>(static_cast<int>(2.0 * state.scan_size));
            file.String("PELUMODE", "Spectrograph", "PELU Mode");
            file.Float("STEPTIME", state.scan_duration, "1 Step Duration time(millisecond)");
            file.Float("STEPSIZE", stepSize, "1 step size to move scanner(micrometer)");
            break;
        }
        case 1:
            file.String("PELUMODE", "Imaging", "PELU Mode");
            file.Float("SCNSPEED", state.scan_speed, "Scan Speed(micrometer/second)");
            file.Float("SCANDIST", state.scan_stroke, "Distance to Scan(millimeter)");
            break;
        case -1: file.String("PELUMODE", "None(Only CCD)", "PELU Mode"); break;
        default: break;
    }
}

void CameraCards(FitsOutput& file, int handle, const CameraOfHandle& camera) {
    const CameraFacts facts = ReadCameraFacts(handle);
    file.Int("CCDTEMP", facts.temperature, "Cooling Temperature of CCD");
    file.String("CCDNAME", facts.headModel, "Productname of CCD");
    file.String("WAVELEN", camera.wavelength, camera.wavelengthComment);
    file.Unsigned("CCD_XPIX", static_cast<unsigned>(camera.detectorWidth), "Full Pixel Size of X");
    file.Unsigned("CCD_YPIX", static_cast<unsigned>(camera.detectorHeight), "Full Pixel Size of Y");
}

// Observer, target and telescope position, read from the observation page
// now, not when the settings were applied.
void ObservationCards(FitsOutput& file) {
    int page = 0;
    ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, OBS_PAGE_INDEX, &page);
    file.String("OBSERVER", GetText(page, OBS_PAGE_OBSERVER), "The Name of Main Observer");
    const int target = GetInt(page, OBS_PAGE_TARGET);
    if (target == -1) {
        file.String("TARGET", "NONE", "NONE");
    } else if (target >= 0 && target < static_cast<int>(kTargetNames.size())) {
        file.String("TARGET", kTargetNames[target], "Observation Target");
        if (target == kActiveRegion)
            file.String("ARNUMBER", GetText(page, OBS_PAGE_ARNUMBER), "Active Region Number");
    } else if (target == kOtherTarget) {
        file.String("TARGET", GetText(page, OBS_PAGE_OTHER_TARGET), "Observation Target");
    }
    file.Int("TEL_XPOS", GetInt(page, OBS_PAGE_TEL_X), "X position of Telescope on the Sun");
    file.Int("TEL_YPOS", GetInt(page, OBS_PAGE_TEL_Y), "Y position of Telescope on the Sun");
}

}  // namespace

int SaveFits(int naxis1, int naxis2, int naxis3, float exposureSeconds, int handle,
             const std::string& startTime, const std::string& endTime, float elapsedSeconds,
             const std::string& directory) {
    const CameraOfHandle camera = Camera(handle);
    if (!Acceptable("Observation file", naxis1, naxis2, naxis3, camera, handle)) return 1;
    Buffer<uint16_t>& raw = camera.number == 1 ? state.g_pRawData : state.g_pRawData2;
    const size_t count = ElementCount(naxis1, naxis2, naxis3);

    SaveTimer timer;
    FitsOutput file;
    file.Create(directory, ProductFileName(os::UtcNow(), camera.letter, ""));
    file.CreateImage(SHORT_IMG, naxis1, naxis2, naxis3);
    file.Date();
    SettingsCards(file, exposureSeconds, startTime, endTime, elapsedSeconds);
    ModeCards(file);
    CameraCards(file, handle, camera);
    file.Delete("COMMENT");
    file.Delete("COMMENT");
    file.Delete("EXTEND");
    ObservationCards(file);
    // The frames go last, once the header is complete and cannot move them.
    if (raw.size() >= count) {
        file.Words(raw.get(), count);
    } else if (file.ok()) {
        ShowStatus(Format("\nFITS file %s: camera %d holds %zu pixels, not %zu; no frames written\n",
                          file.path().c_str(), camera.number, raw.size(), count));
    }
    file.Close();
    timer.ShowOnMainPanel();
    return 1;
}

int SaveFlatFits(int naxis1, int naxis2, int naxis3, float exposureSeconds, int handle,
                 const std::string& startTime, const std::string& endTime, float elapsedSeconds,
                 const std::string& directory) {
    const CameraOfHandle camera = Camera(handle);
    if (!Acceptable("Flat file", naxis1, naxis2, naxis3, camera, handle)) return 1;
    Buffer<float>& cube = camera.number == 1 ? state.flatcube1 : state.flatcube2;
    Buffer<float>& sums = camera.number == 1 ? state.flatdata1 : state.flatdata2;
    const size_t count = ElementCount(naxis1, naxis2, naxis3);

    SaveTimer timer;
    FitsOutput file;
    file.Create(directory, ProductFileName(os::UtcNow(), camera.letter, "_Flat"));
    file.CreateImage(FLOAT_IMG, naxis1, naxis2, naxis3);
    file.Date();
    SettingsCards(file, exposureSeconds, startTime, endTime, elapsedSeconds);
    CameraCards(file, handle, camera);
    if (cube.size() >= count) {
        file.Floats(cube.get(), count);
    } else if (file.ok()) {
        ShowStatus(Format("\nFITS file %s: camera %d's flat holds %zu values, not %zu; "
                          "no planes written\n",
                          file.path().c_str(), camera.number, cube.size(), count));
    }
    file.Delete("COMMENT");
    file.Delete("COMMENT");
    file.Delete("EXTEND");
    file.Comment("BiasDark Subtracted");
    file.Comment(Format("averaged image : %d at each grating angle", state.g_nFrameNumber1.load()));
    // The planes are the only copy of the flat run: they are released once
    // they are on disk, and kept when the file could not be written.
    if (file.Close()) {
        sums.Free();
        cube.Free();
    } else {
        ShowStatus(Format("\nThe flat planes of camera %d are kept in memory\n", camera.number));
    }
    timer.ShowOnMainPanel();
    return 1;
}

}  // namespace pelu
