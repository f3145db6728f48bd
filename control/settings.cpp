// The observation settings dialog: the one place where the observer changes
// camera, scan, wavelength and observation settings. Its OK applies them to
// every device that is switched on.
#include <array>
#include <string>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/work.h"
#include "data/bias_dark.h"
#include "data/directory.h"
#include "motors/grating_focus.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/progress.h"
#include "state/status.h"

namespace pelu {
namespace {

struct CameraSelection {
    const char* summary;
    const char* status;
};

// Camera ring value -> summary text and status message.
constexpr std::array<CameraSelection, 5> kCameraSelections = {{
    {"CCD 1", "Set Current Camera 1\n"},
    {"CCD 2", "Set Current Camera 2\n"},
    {"Both CCDs", "Use Both Cameras\n"},
    {"Both CCDs(2CCD in 1 Step)", "Use Both Cameras 2 frame in 1 step\n"},
    {"Flat Fielding", "Flat Fielding Mode\n"},
}};

int Page(int pageIndex) {
    return SettingsPage(SETTINGS_TAB, pageIndex);
}

// The values the OK reads from the dialog, before anything is applied.
struct DialogValues {
    int camera = 0;
    int takeMode = 0;
    std::string framesText;
    std::string exposureText;
    std::string gainText;
    int binning = 0;
    std::string customHText, customVText;
    int repetitions = 0;
    int shutterMode = 0;
    int fanMode = 0;
    int scanMode = -1;
    double stepSize = 0, speed = 0, distance = 0;
    int wavelengthIndex = -1;
};

DialogValues ReadDialog() {
    DialogValues v;
    int camera = Page(CAMERA_PAGE_INDEX);
    v.camera = GetInt(camera, CAMERA_PAGE_CAMERA);
    v.takeMode = GetInt(camera, CAMERA_PAGE_TAKEMODE);
    v.framesText = GetText(camera, CAMERA_PAGE_FRAMES);
    v.exposureText = GetText(camera, CAMERA_PAGE_EXPOSURE);
    v.gainText = GetText(camera, CAMERA_PAGE_GAIN);
    v.binning = GetInt(camera, CAMERA_PAGE_BINNING);
    v.customHText = GetText(camera, CAMERA_PAGE_HBIN);
    v.customVText = GetText(camera, CAMERA_PAGE_VBIN);
    v.repetitions = GetInt(camera, CAMERA_PAGE_REPEAT);
    v.shutterMode = GetInt(camera, CAMERA_PAGE_SHUTTER);
    v.fanMode = GetInt(camera, CAMERA_PAGE_FAN);
    int scanner = Page(SCANNER_PAGE_INDEX);
    ui::GetCtrlIndex(scanner, SCANNER_PAGE_SCANMODE, &v.scanMode);
    v.stepSize = GetDouble(scanner, SCANNER_PAGE_STEPSIZE);
    v.speed = GetDouble(scanner, SCANNER_PAGE_SPEED);
    v.distance = GetDouble(scanner, SCANNER_PAGE_DISTANCE);
    ui::GetCtrlIndex(Page(MOTOR_PAGE_INDEX), MOTOR_PAGE_WVLIST, &v.wavelengthIndex);
    return v;
}

bool TakeModeReadsFrames(int takeMode) { return takeMode == 1 || takeMode == 5 || takeMode == 6; }

// Values that would crash or corrupt a later step are refused before anything
// changes: a binning below 1 divides by zero in the camera geometry, a
// negative count sizes a buffer or a loop, and an imaging scan needs a speed
// to divide by and a distance to cover. Returns the complaint, or "".
// Text that is not a number within its field's range is refused too, rather
// than read as 0: "ten" frames would turn a scan into a live view.
std::string Refusal(const DialogValues& v) {
    if (state.CCD_status == kDeviceOn) {
        const std::string refusal =
            CameraFieldsRefusal({TakeModeReadsFrames(v.takeMode), v.framesText, v.exposureText,
                                 v.gainText, v.binning == 4, v.customHText, v.customVText});
        if (!refusal.empty()) return refusal;
        if (v.repetitions < 0) return "Repetitions must not be negative.";
    }
    if (state.Scanner_status == kDeviceOn && v.scanMode == 1) {
        if (!(v.speed > 0)) return "Imaging speed must be above 0 um/s.";
        if (!(v.distance > 0)) return "Imaging distance must be above 0 mm.";
    }
    return "";
}


void ApplyCameraSettings(const DialogValues& v) {
    StopLiveView();
    // While the buffers are replaced and the cameras configured, no other
    // thread (the monitoring loop, the temperature watch) addresses a camera
    // between two calls; the settle and exposure pauses inside let go of the
    // lock and make the camera being configured current again.
    CameraLock cameras;
    FreeFrameBuffers();

    state.ccd_camera = v.camera;
    Sdk(SetCurrentCamera(v.camera == kCameraTwo ? state.nCameraHandle2 : state.nCameraHandle1));
    if (v.camera >= 0 && v.camera < static_cast<int>(kCameraSelections.size()))
        ShowStatus(kCameraSelections[v.camera].status);

    int acquisitionMode = 0;
    if (v.takeMode == 0) {
        state.g_nFrameNumber1 = 0;
        acquisitionMode = 1;
    } else if (TakeModeReadsFrames(v.takeMode)) {
        state.g_nFrameNumber1 = TextToInt(v.framesText);
        acquisitionMode = v.takeMode;
    } else if (v.takeMode >= 2 && v.takeMode <= 4) {
        acquisitionMode = v.takeMode;
    }

    state.g_fExpTime1 = static_cast<float>(TextToDouble(v.exposureText));
    state.ccd_Gain = TextToInt(v.gainText);
    std::string binningText;
    switch (v.binning) {
        case 1: state.ccd_HBin = state.ccd_VBin = 1; binningText = "1 x 1"; break;
        case 2: state.ccd_HBin = state.ccd_VBin = 2; binningText = "2 x 2"; break;
        case 3: state.ccd_HBin = state.ccd_VBin = 4; binningText = "4 x 4"; break;
        case 4:
            state.ccd_HBin = TextToInt(v.customHText);
            state.ccd_VBin = TextToInt(v.customVText);
            binningText = Format("%d x %d", state.ccd_HBin, state.ccd_VBin);
            break;
        default: break;  // outside the table: unchanged, no summary
    }
    if (!binningText.empty()) SetText(state.mainPanel, MAIN_SUM_BINNING, binningText);
    state.sequential_number = v.repetitions;

    BuildDataDirectory();

    // Each configured camera takes its bias/dark frame with the new settings
    // before it is configured for observing (read mode 4 image, trigger 0
    // internal).
    const int handle1 = state.nCameraHandle1, handle2 = state.nCameraHandle2;
    auto takeBiasDark = [](int handle) {
        TakeBiasDark(state.ccd_Gain, state.ccd_HBin, state.ccd_VBin, state.g_fExpTime1, handle,
                     state.entire_directory);
    };
    auto configure = [&](int handle) {
        SetCameraParam(acquisitionMode, 4, 0, state.ccd_Gain, state.ccd_HBin, state.ccd_VBin,
                       state.g_fExpTime1, v.shutterMode, v.fanMode, state.g_nFrameNumber1, handle);
    };
    if (state.ccd_camera == kBothCameras || state.ccd_camera == kBothCamerasEachStep ||
        state.ccd_camera == kFlatFielding) {
        Sdk(SetCurrentCamera(handle1));
        takeBiasDark(handle1);
        configure(handle1);
        Sdk(SetCurrentCamera(handle2));
        takeBiasDark(handle2);
        configure(handle2);
        Sdk(SetCurrentCamera(handle1));
    } else if (state.ccd_camera == kCameraOne || state.ccd_camera == kCameraTwo) {
        const int handle = state.ccd_camera == kCameraOne ? handle1 : handle2;
        Sdk(SetCurrentCamera(handle));
        if (state.g_nFrameNumber1 != 0) takeBiasDark(handle);
        configure(handle);
    }

    const int frames = state.g_nFrameNumber1;
    int scanner = Page(SCANNER_PAGE_INDEX);
    ui::SetCtrlVal(scanner, SCANNER_PAGE_STEPS_SPEC, frames);
    ui::SetCtrlVal(scanner, SCANNER_PAGE_STEPS_IMG, frames);

    const bool twoFramesPerStep =
        state.ccd_camera == kBothCamerasEachStep || state.ccd_camera == kFlatFielding;
    state.scan_duration = twoFramesPerStep ? 2 * 1000 * state.g_fExpTime1 + 70
                                           : 1000 * state.g_fExpTime1 + 70;
    ui::SetCtrlVal(scanner, SCANNER_PAGE_STEPTIME, static_cast<double>(state.scan_duration));

    SetText(state.mainPanel, MAIN_SUM_TOTAL, Format("%.1f", 0.001 * state.scan_duration * frames));
    if (state.ccd_camera >= 0 && state.ccd_camera < static_cast<int>(kCameraSelections.size()))
        SetText(state.mainPanel, MAIN_SUM_CAMERA, kCameraSelections[state.ccd_camera].summary);
    SetText(state.mainPanel, MAIN_SUM_EXPOSURE, Format("%.2f", state.g_fExpTime1));
    SetText(state.mainPanel, MAIN_SUM_FRAMES, Format("%d", frames));
    SetText(state.mainPanel, MAIN_SUM_REPEAT, Format("%d", state.sequential_number));

    if (state.ccd_camera == kFlatFielding) {
        const size_t plane1 = size_t(state.nhDim1) * size_t(state.nvDim1);
        const size_t plane2 = size_t(state.nhDim2) * size_t(state.nvDim2);
        state.flatdata1.Allocate(plane1);
        state.flatcube1.Allocate(7 * plane1);
        state.flatdata2.Allocate(plane2);
        state.flatcube2.Allocate(7 * plane2);
    }
}

void ApplyScannerSettings(const DialogValues& v) {
    state.scan_mode = v.scanMode;
    const int frames = state.g_nFrameNumber1;
    if (state.scan_mode == 0) {
        // The step duration is read back here: the camera block has just shown
        // the value for the new exposure in that field.
        state.scan_duration =
            static_cast<float>(GetDouble(Page(SCANNER_PAGE_INDEX), SCANNER_PAGE_STEPTIME));
        state.scan_size = static_cast<float>(v.stepSize) / 2;
        if (state.CCD_status == kDeviceOn && frames > 1) {
            ScanCommandWrite(frames, state.scan_duration, state.scan_size, 0.0f, 0.0f);
            ShowStatus("Spectrograph mode script of Scanner generated\n");
        }
    } else if (state.scan_mode == 1) {
        state.scan_speed = static_cast<float>(v.speed);
        state.scan_stroke = static_cast<float>(v.distance);
        if (state.CCD_status == kDeviceOn && frames > 1) {
            ScanCommandWrite(frames, 0.0f, 0.0f, state.scan_speed, state.scan_stroke);
            ShowStatus("\nImaging mode script of Scanner generated\n");
        }
    }
    ShowStatus(Format("Scanner_status is %d\n", state.Scanner_status.load()));

    const int main = state.mainPanel;
    // The two summary fields name what they hold in each mode.
    const bool stepping = state.scan_mode != 1;
    ui::SetCtrlAttribute(main, MAIN_SUM_STEPTIME, ui::ATTR_LABEL_TEXT,
                         stepping ? "Step time (ms)" : "Speed (µm/s)");
    ui::SetCtrlAttribute(main, MAIN_SUM_STEPSIZE, ui::ATTR_LABEL_TEXT,
                         stepping ? "Step (µm)" : "Distance (mm)");
    if (state.scan_mode == 0) {
        SetText(main, MAIN_SUM_MODE, "Spectrograph");
        SetText(main, MAIN_SUM_STEPTIME, Format("%.1f", state.scan_duration));
        SetText(main, MAIN_SUM_STEPSIZE, Format("%.1f", 2 * state.scan_size));
        if (frames == 0) SetText(main, MAIN_SUM_TOTAL, Format("%.1f", 0.001 * state.scan_duration));
        SetText(main, MAIN_SUM_EXTENT,
                Format("%.3f", 0.08 * (2 * state.scan_size * frames) / 16.0));
    } else if (state.scan_mode == 1) {
        SetText(main, MAIN_SUM_MODE, "Imaging");
        SetText(main, MAIN_SUM_STEPTIME, Format("%.1f", state.scan_speed));
        SetText(main, MAIN_SUM_STEPSIZE, Format("%.1f", state.scan_stroke));
        SetText(main, MAIN_SUM_TOTAL, Format("%.1f", state.scan_stroke / state.scan_speed));
    }
}

// The grating moves to the chosen row's step position, Wv.ini is rewritten
// with the selection and the row's wavelength is shown on the main panel.
// With no row chosen (an empty list) nothing moves.
void ApplyMotorSettings(const DialogValues& v) { SelectWavelength(v.wavelengthIndex); }

}  // namespace

void FreeFrameBuffers() {
    state.g_pRawData.Free();
    state.g_pRawData2.Free();
    state.BiasDark1.Free();
    state.BiasDark2.Free();
    // A single frame's plane only refers to the raw buffer freed above: the
    // reference is dropped with it, an owned copy is freed.
    state.planeDataCCD.Release();
    state.pusFitsData.Free();
    state.pFitsData.Free();
    state.flatdata1.Free();
    state.flatdata2.Free();
}

int Set_PELU_parameter(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // Opening the dialog discards the bias/dark frames a run may be using.
    if (RefuseWhileBusy("Settings")) return 0;
    ui::DisplayPanel(state.PELUpanelSetting);
    SetDimmed(state.mainPanel, MAIN_PICTURE, true);
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD1, true);
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD2, true);
    state.BiasDark1.Free();
    state.BiasDark2.Free();
    const int pageDevice[] = {state.CCD_status, state.Scanner_status, state.Motor_status};
    for (int page = 0; page < 3; ++page)
        ui::SetTabPageAttribute(state.PELUpanelSetting, SETTINGS_TAB, page, ui::ATTR_DIMMED,
                                pageDevice[page] == kDeviceOn ? 0 : 1);
    return 0;
}

int SetPELU_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) ui::HidePanel(panel);
    return 0;
}

int PELU_setCancel(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) ui::HidePanel(state.PELUpanelSetting);
    return 0;
}

int CCD_setBinning(int panel, int control, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const bool custom = GetInt(panel, control) == 4;
    SetDimmed(panel, CAMERA_PAGE_HBIN, !custom);
    SetDimmed(panel, CAMERA_PAGE_VBIN, !custom);
    return 0;
}

int Scan_Mode(int panel, int control, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    int mode = -1;
    ui::GetCtrlIndex(panel, control, &mode);
    if (mode != 0 && mode != 1) return 0;
    const bool spectrograph = mode == 0;
    ShowStatus(spectrograph ? "Spectrograph mode" : "Imaging mode");
    for (int id : {SCANNER_PAGE_STEPSIZE, SCANNER_PAGE_STEPTIME, SCANNER_PAGE_SPEC_GROUP})
        SetDimmed(panel, id, !spectrograph);
    for (int id : {SCANNER_PAGE_SPEED, SCANNER_PAGE_DISTANCE, SCANNER_PAGE_IMG_GROUP})
        SetDimmed(panel, id, spectrograph);
    // The step counts are outputs in both modes.
    SetDimmed(panel, SCANNER_PAGE_STEPS_SPEC, true);
    SetDimmed(panel, SCANNER_PAGE_STEPS_IMG, true);
    return 0;
}

int PELU_setOK(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (RefuseWhileBusy("Settings OK")) return 0;
    const DialogValues values = ReadDialog();
    if (std::string refusal = Refusal(values); !refusal.empty()) {
        ui::MessagePopup("Error", refusal + "\nThe previous settings are kept.");
        return 0;
    }
    {
        // The bias/dark series, the download and the grating move take
        // seconds; the window answers meanwhile.
        LongWork applying(Work::Settings);
        if (!applying.Started()) return 0;
        state.entire_directory.clear();
        ShowProgress("Applying the settings", 0.0, -1, -1);
        if (state.CCD_status == kDeviceOn) ApplyCameraSettings(values);
        if (state.Scanner_status == kDeviceOn) {
            ShowProgress("Applying the settings: scan program", 0.8, -1, -1);
            ApplyScannerSettings(values);
        }
        if (state.Motor_status == kDeviceOn) {
            ShowProgress("Applying the settings: grating", 0.9, -1, -1);
            ApplyMotorSettings(values);
        }
        ClearProgress("Settings applied");
        // Before the work ends, so that Run is there the moment the window
        // is the observer's again (held controls take these states then).
        // Stop is for a run: the run enables it while it runs.
        SetDimmed(state.mainPanel, MAIN_RUN, false);
        ui::SetMenuBarAttribute(state.menubar, MENUBAR_FILE_SAVE, ui::ATTR_DIMMED, 0);
        ui::SetMenuBarAttribute(state.menubar, MENUBAR_SETUP_TEST, ui::ATTR_DIMMED, 0);
        ui::HidePanel(state.PELUpanelSetting);
    }
    return 0;
}

}  // namespace pelu
