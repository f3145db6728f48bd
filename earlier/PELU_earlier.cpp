#include "earlier/PELU_earlier.h"

#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/program_shell.h"
#include "control/scanner_controls.h"
#include "display/display.h"
#include "earlier/devices_earlier.h"
#include "earlier/display_earlier.h"
#include "earlier/earlier_state.h"
#include "earlier/fits_earlier.h"
#include "earlier/scanner_earlier.h"
#include "earlier/wv_earlier.h"
#include "motors/grating_focus.h"
#include "platform/ui/ui.h"
#include "resources/earlier_uir.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

const char* const kResourceFile = "PELU.uir";

bool Load(int resource, int* handle) {
    return LoadProgramPanel("PELU", kResourceFile, resource, handle);
}

int Page(int pageIndex) {
    return SettingsPage(SETTINGS_TAB, pageIndex);
}

// The picture and the histogram: what the take-images command shows for one
// frame and the live view, and hides while it takes a series.
void ShowDisplayControls(bool visible) {
    for (int control : {MAIN_PICTURE, MAIN_GRAPH})
        ui::SetCtrlAttribute(state.mainPanel, control, ui::ATTR_VISIBLE, visible ? 1 : 0);
}

int CurrentCamera() {
    CameraLock lock;
    int32_t current = 0;
    Sdk(GetCurrentCamera(&current));
    return current;
}

// A fresh series of `frames` frames: no frame of the last one stays in the
// buffer or its records, so a frame the camera fails to deliver holds zeros,
// never an older frame.
void StartSeries(int frames) {
    const size_t count = size_t(earlierState.nhDim) * size_t(earlierState.nvDim) * size_t(frames);
    if (count > 0 && count <= state.g_pRawData.size()) state.g_pRawData.Clear(count);
    state.frames1.Start(frames);
}

// Saves `frames` frames of the raw buffer when it holds them. The file's
// layout has no room to mark a frame the camera did not deliver: the
// observer is told which frames of which file hold zeros instead of data.
void SaveSeries(int frames, int cameraHandle) {
    const size_t count = size_t(earlierState.nhDim) * size_t(earlierState.nvDim) * size_t(frames);
    if (frames < 1 || count == 0 || count > state.g_pRawData.size()) {
        ShowStatus("\nNo frames to save: the camera is not configured for them.\n");
        return;
    }
    std::string file;
    if (!SaveFits(earlierState.nhDim, earlierState.nvDim, frames, state.g_pRawData.get(),
                  state.g_fExpTime1, cameraHandle, &file))
        return;
    // Frames the camera failed to read are counted here; frames the scan
    // never requested were counted by the scan.
    std::vector<bool> read(size_t(frames), false);
    int failedReads = 0;
    for (const FrameRecord& r : state.frames1.Records()) {
        if (r.index < 0 || r.index >= frames) continue;
        read[size_t(r.index)] = r.read;
        if (!r.read) ++failedReads;
    }
    std::string unread;
    int missing = 0;
    for (int f = 0; f < frames; ++f) {
        if (read[size_t(f)]) continue;
        if (++missing <= 20) unread += (missing > 1 ? ", " : "") + std::to_string(f + 1);
    }
    if (missing > 20) unread += ", ...";
    if (missing > 0)
        ShowWarning(Warning::Frames,
                    Format("\n%s: %d of %d frames hold zeros, not data: the camera did not "
                           "deliver frame%s %s.\n",
                           file.c_str(), missing, frames, missing == 1 ? "" : "s", unread.c_str()),
                    failedReads);
}

struct CameraChoice {
    bool second;
    const char* message;
};
constexpr CameraChoice kCameraChoices[] = {{false, "Set Current Camera 1\n"},
                                           {true, "Set Current Camera 2\n"},
                                           {false, "Usable Both Cameras\n"}};

// Text that is not a number within its field's range is refused before
// anything is applied, rather than read as 0.
std::string CameraSettingsRefusal(int cameraPage) {
    return CameraFieldsRefusal(
        {GetInt(cameraPage, CAMERA_PAGE_TAKEMODE) == 1, GetText(cameraPage, CAMERA_PAGE_FRAMES),
         GetText(cameraPage, CAMERA_PAGE_EXPOSURE), GetText(cameraPage, CAMERA_PAGE_GAIN),
         GetInt(cameraPage, CAMERA_PAGE_BINNING) == 4, GetText(cameraPage, CAMERA_PAGE_HBIN),
         GetText(cameraPage, CAMERA_PAGE_VBIN)});
}

void ApplyCameraSettings(int cameraPage) {
    state.threadparam = 1;
    const int camera = GetInt(cameraPage, CAMERA_PAGE_CAMERA);
    if (camera >= 0 && camera < 3) {
        CameraLock lock;
        Sdk(SetCurrentCamera(kCameraChoices[camera].second ? state.nCameraHandle2
                                                           : state.nCameraHandle1));
        ShowStatus(kCameraChoices[camera].message);
    }
    int frames = 0;
    if (GetInt(cameraPage, CAMERA_PAGE_TAKEMODE) == 1)
        frames = std::max(0, TextToInt(GetText(cameraPage, CAMERA_PAGE_FRAMES)));
    state.g_nFrameNumber1 = frames;
    state.g_fExpTime1 = static_cast<float>(TextToDouble(GetText(cameraPage, CAMERA_PAGE_EXPOSURE)));
    state.ccd_Gain = TextToInt(GetText(cameraPage, CAMERA_PAGE_GAIN));
    switch (GetInt(cameraPage, CAMERA_PAGE_BINNING)) {
        case 1: state.ccd_HBin = state.ccd_VBin = 1; break;
        case 2: state.ccd_HBin = state.ccd_VBin = 2; break;
        case 3: state.ccd_HBin = state.ccd_VBin = 4; break;
        case 4:
            state.ccd_HBin = TextToInt(GetText(cameraPage, CAMERA_PAGE_HBIN));
            state.ccd_VBin = TextToInt(GetText(cameraPage, CAMERA_PAGE_VBIN));
            break;
        default: break;
    }
    SetCameraParam(1, 4, 0, state.ccd_Gain, state.ccd_HBin, state.ccd_VBin, state.g_fExpTime1,
                   GetInt(cameraPage, CAMERA_PAGE_SHUTTER), 0, frames,
                   earlierState.g_nNumberKinetics1, 0.0f);
}

}  // namespace

int PELU_main() {
    if (ui::InitRuntime() < 0) return -1;
    OpenObservingLog(state.data_directory);
    if (!Load(MAIN_RESOURCE, &state.mainPanel) || !Load(SETTINGS_RESOURCE, &state.PELUpanelSetting) ||
        !Load(TEST_RESOURCE, &state.testpanel))
        return -1;
    ui::DisplayPanel(state.mainPanel);
    return RunMainPanel();
}

int panel_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) QuitCallback(panel, 0, ui::EVENT_COMMIT, nullptr, 0, 0);
    return 0;
}

int QuitCallback(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // A temperature watch still waiting for the set point ends: the program
    // quits only once the callback that started it has returned.
    earlierState.temperatureStop = 1;
    if (state.CCD_status == kDeviceOn) {
        CamerasOff();  // frees the buffers as each camera closes
        state.CCD_status = kDeviceOff;
    }
    if (state.Scanner_status == kDeviceOn) {
        if (state.Scanning == 1)
            ui::MessagePopup("Error", "Motor is still running.");
        else
            CloseDevice();
    }
    if (state.Motor_status == kDeviceOn) {
        MotorDisconnect();
        state.Motor_status = kDeviceOff;
    }
    ui::QuitUserInterface(0);
    return 0;
}

int Obs_Test(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    ResetPanel();
    OpenFileF();
    InitPanel();
    ui::DisplayPanel(state.testpanel);
    return 0;
}

int test_panel_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) ui::HidePanel(panel);
    return 0;
}

int Set_PELU_parameter(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) ui::DisplayPanel(state.PELUpanelSetting);
    return 0;
}

int PELU_setApply(int, int, int, void*, int, int) { return 0; }

int PELU_setOK(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const int cameraPage = Page(CAMERA_PAGE_INDEX);
    const int scannerPage = Page(SCANNER_PAGE_INDEX);
    if (state.CCD_status == kDeviceOn) {
        if (std::string refusal = CameraSettingsRefusal(cameraPage); !refusal.empty()) {
            ui::MessagePopup("Error", refusal + "\nThe previous settings are kept.");
            return 0;
        }
        ApplyCameraSettings(cameraPage);
    }

    const int frames = state.g_nFrameNumber1;
    ui::SetCtrlVal(scannerPage, SCANNER_PAGE_STEPS_SPEC, frames);
    ui::SetCtrlVal(scannerPage, SCANNER_PAGE_STEPS_IMG, frames);
    SetDimmed(state.mainPanel, MAIN_TAKE, false);
    SetDimmed(state.mainPanel, MAIN_RUN, false);

    if (state.Scanner_status == kDeviceOn) {
        int mode = -1;
        ui::GetCtrlIndex(scannerPage, SCANNER_PAGE_SCANMODE, &mode);
        state.scan_mode = mode;
        if (mode == 0) {
            // The step size goes to the program as the observer entered it.
            state.scan_duration = static_cast<float>(GetDouble(scannerPage, SCANNER_PAGE_STEPTIME));
            state.scan_size = static_cast<float>(GetDouble(scannerPage, SCANNER_PAGE_STEPSIZE));
            cmdrun(frames, state.scan_duration, state.scan_size, 0.0f, 0.0f);
        } else if (mode == 1) {
            state.scan_speed = static_cast<float>(GetDouble(scannerPage, SCANNER_PAGE_SPEED));
            state.scan_stroke = static_cast<float>(GetDouble(scannerPage, SCANNER_PAGE_DISTANCE));
            cmdrun(frames, 0.0f, 0.0f, state.scan_speed, state.scan_stroke);
        }
    }
    if (state.Motor_status == kDeviceOn) {
        int index = -1;
        ui::GetCtrlIndex(Page(MOTOR_PAGE_INDEX), MOTOR_PAGE_WVLIST, &index);
        if (index >= 0 && index < wvTable.nWV_FileIO) {
            wvTable.CurrentSelectWV_FileIO = index;
            Gratingtracking(kTrackAbsolute, wvTable.Data[index].step);
        }
    }
    ui::HidePanel(state.PELUpanelSetting);
    return 0;
}

int LiveViewThread() {
    while (state.threadparam == 0) {
        if (!TakeFrame(0)) {
            ShowStatus("\nLive view stopped: no frame could be taken.\n");
            break;
        }
        DisplayCCDImage(earlierState.nhDim, earlierState.nvDim, 1);
    }
    return 0;
}

int cmdOK(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (state.CCD_status != kDeviceOn) {
        ShowStatus(
            "\nTake images not started: the camera is off. Switch it on (CCD switch), then "
            "apply the settings (OK).\n");
        return 0;
    }
    const int current = CurrentCamera();
    if (earlierState.g_nNumberKinetics1 != 0) return 0;
    const int frames = state.g_nFrameNumber1;
    const RunWarnings warnings;
    if (frames == 1) {
        ShowDisplayControls(true);
        StartSeries(1);
        if (TakeFrame(0)) {
            DisplayCCDImage(earlierState.nhDim, earlierState.nvDim, 1);
            SaveSeries(1, current);
        } else {
            ShowWarning(
                Warning::Frames,
                "\nTake images: the camera did not deliver the frame; nothing was saved.\n");
        }
    } else if (frames >= 2) {
        ShowDisplayControls(false);
        StartSeries(frames);
        for (int f = 0; f < frames; ++f)
            if (!TakeFrame(f)) {
                ShowWarning(Warning::Frames,
                            Format("\nTake images stopped: the camera did not deliver frame %d "
                                   "of %d.\n",
                                   f + 1, frames),
                            frames - f);
                break;
            }
    } else {
        state.threadparam = 0;
        ShowDisplayControls(true);
        int id = 0;
        if (ui::ScheduleThreadFunction(LiveViewThread, &id) >= 0) {
            state.threadfunctionID = id;
            ui::WaitForThreadFunctionCompletion(id);
            ui::ReleaseThreadFunctionID(id);
            state.threadfunctionID = 0;
        }
    }
    warnings.ShowSummary();
    return 0;
}

int cmd_Run(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (state.CCD_status != kDeviceOn) {
        ShowStatus(
            "\nRun not started: the camera is off. Switch it on (CCD switch), then apply "
            "the settings (OK).\n");
        return 0;
    }
    const int current = CurrentCamera();
    // While the scan runs the window answers, Stop among the rest; what would
    // start other work on the devices is held dimmed meanwhile.
    const int main = state.mainPanel;
    std::vector<ui::ControlRef> conflicts;
    for (int control : {MAIN_RUN, MAIN_TAKE, MAIN_SETUP, MAIN_OPEN, MAIN_UPLOAD, MAIN_CCD_TOGGLE,
                        MAIN_MOTOR_TOGGLE, MAIN_SETCOOLER, MAIN_FRAME, MAIN_BYTSCL_MIN,
                        MAIN_BYTSCL_MAX})
        conflicts.push_back({main, control});
    state.runStop = 0;
    const int hold = ui::HoldDimmed(conflicts);
    const int frames = state.g_nFrameNumber1;
    const RunWarnings warnings;
    StartSeries(frames);
    // Without a finished scan there are no frames to save or show.
    if (ExecuteProgram() == 1) {
        SaveSeries(frames, current);
        ShowDisplayControls(true);
        DisplayCCDImage(earlierState.nhDim, earlierState.nvDim, frames);
    }
    warnings.ShowSummary();
    ui::ReleaseHold(hold);
    return 0;
}

int cmdStop(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    state.threadparam = 1;
    if (state.Scanning == 1) state.runStop = 1;  // the scan ends at its next poll
    return 0;
}

void RegisterEarlierCallbacks() {
    struct Named {
        const char* name;
        ui::CtrlCallbackPtr callback;
    };
    const Named callbacks[] = {
        // This program's own.
        {"panel_proc", panel_proc}, {"QuitCallback", QuitCallback}, {"Obs_Test", Obs_Test},
        {"test_panel_proc", test_panel_proc}, {"Set_PELU_parameter", Set_PELU_parameter},
        {"PELU_setOK", PELU_setOK}, {"PELU_setApply", PELU_setApply}, {"cmdOK", cmdOK},
        {"cmd_Run", cmd_Run}, {"cmdStop", cmdStop}, {"cmdOpen", cmdOpen},
        {"CCD_TurnOnOff", CCD_TurnOnOff}, {"CoolerOnOff", CoolerOnOff}, {"setCooler", setCooler},
        {"pic_window", pic_window},
        {"SetFrameSlide", SetFrameSlide}, {"SetBytsclMin", SetBytsclMin},
        {"SetBytsclMax", SetBytsclMax}, {"WvListBoxF", WvListBoxF}, {"InsertBTNF", InsertBTNF},
        {"DelBTNF", DelBTNF}, {"WriteFileBTNF", WriteFileBTNF},
        // The same as PELU_dbg's: the controls they address have the same ids.
        {"SetPELU_proc", pelu::SetPELU_proc}, {"PELU_setCancel", pelu::PELU_setCancel},
        {"CCD_setBinning", pelu::CCD_setBinning}, {"Scan_Mode", pelu::Scan_Mode}};
    for (const Named& c : callbacks) ui::RegisterCallback(c.name, c.callback);
    // Motor switch, stop, axis selector and manual steps, on this
    // spectrograph's axes.
    UseEarlierMotors();
    pelu::RegisterMotorCallbacks();
    // Scanner switch, amplifier timer, jog buttons, command line, gather plot,
    // with this program's open operation, monitoring loop and messages.
    UseEarlierScanner();
    pelu::RegisterScannerCallbacks({opendevice, MonitoringThread});
}

}  // namespace pelu::earlier
