// The camera switch of the main panel, the cooling controls of the device
// test panel and the camera choice of the settings dialog.
#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/work.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

// The menu items that need camera data: saving the display and the device test.
void DimCameraMenuItems(bool dimmed) {
    ui::SetMenuBarAttribute(state.menubar, MENUBAR_FILE_SAVE, ui::ATTR_DIMMED, dimmed ? 1 : 0);
    ui::SetMenuBarAttribute(state.menubar, MENUBAR_SETUP_TEST, ui::ATTR_DIMMED, dimmed ? 1 : 0);
}

void AppendCooling(const std::string& text) {
    ui::SetCtrlVal(state.testpanel, TEST_COOLSTATUS, text);
}

}  // namespace

int CCD_TurnOnOff(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const int main = state.mainPanel;
    if (RefuseWhileBusy("Camera switch")) {
        ui::SetCtrlVal(main, MAIN_CCD_TOGGLE, state.CCD_status == kDeviceOn ? 1 : 0);
        return 0;
    }
    // Opening and warming the cameras take long; the window answers meanwhile.
    LongWork switching(Work::Cameras);
    if (state.CCD_status == kDeviceOn) {
        // The live view acquires into the buffers freed below.
        StopLiveView();
        ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD Off");
        SetDimmed(main, MAIN_PICTURE, true);
        {
            CameraLock lock;
            state.pFitsData.Free();
            state.pusFitsData.Free();
            state.planeDataCCD.Release();
            state.BiasDark1.Free();
            state.BiasDark2.Free();
        }
        CamerasOff();
        DimCameraMenuItems(true);
        ui::SetCtrlVal(main, MAIN_CCD_LED, 0);
    } else {
        ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD On");
        if (!CamerasOn()) {
            // The failure has been reported; lamp and switch show the cameras off.
            ui::SetCtrlVal(main, MAIN_CCD_TOGGLE, 0);
            ui::SetCtrlAttribute(main, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, "CCD Off");
            ui::SetCtrlVal(main, MAIN_CCD_LED, 0);
            return 0;
        }
        ui::SetCtrlVal(main, MAIN_CCD_LED, 1);
        DimCameraMenuItems(false);
        TempSet(1, 1, GetInt(state.testpanel, TEST_TEMP1), GetInt(state.testpanel, TEST_TEMP2));
    }
    return 0;
}

int setCooler(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // The watch waits for stable temperatures: under other work it would hold that work up.
    if (RefuseWhileBusy("Cooler setting")) return 0;
    AppendCooling("CCD Cooling Status\n");
    const int off1 = GetInt(state.testpanel, TEST_COOLER1);
    const int off2 = GetInt(state.testpanel, TEST_COOLER2);
    const int temperature1 = GetInt(state.testpanel, TEST_TEMP1);
    const int temperature2 = GetInt(state.testpanel, TEST_TEMP2);
    // What the coolers do now is said once the cameras have taken the
    // commands: a refused command never reads as "Cooler On!".
    auto sayApplied = [&] {
        if (off1 == 0 && off2 == 0) {
            AppendCooling("\nCamera 1, 2 Cooler On!\n");
            AppendCooling(Format("Cooling Temperature : %d, %d\n", temperature1, temperature2));
        } else if (off1 == 0) {
            AppendCooling("\nCamera 1 Cooler On!\n");
            AppendCooling(Format("Cooling Temperature : %d\n", temperature1));
        } else if (off2 == 0) {
            AppendCooling("\nCamera 2 Cooler On!\n");
            AppendCooling(Format("Cooling Temperature : %d\n", temperature2));
        } else {
            AppendCooling("\nCamera 1,2 off!\n");
        }
    };
    if (TempSet(off1, off2, temperature1, temperature2, sayApplied) == 0) {
        const std::string text =
            "The cooler setting was not applied: a camera refused the cooler command. Check "
            "that the cameras are on and answer.";
        AppendCooling("\n" + text + "\n");
        ShowWarning(Warning::Device, "\n" + text + "\n");
        ui::MessagePopup("Error", text);
    }
    return 0;
}

int CCD_setCamera(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    state.TabPanelHandle = SettingsPage(SETTINGS_TAB, CAMERA_PAGE_INDEX);
    state.ccd_camera = GetInt(state.TabPanelHandle, CAMERA_PAGE_CAMERA);
    const int observation = SettingsPage(SETTINGS_TAB, OBS_PAGE_INDEX);
    if (state.ccd_camera == kFlatFielding) {
        ui::SetCtrlVal(observation, OBS_PAGE_TARGET, -1);
        SetDimmed(observation, OBS_PAGE_TARGET, true);
    } else {
        SetDimmed(observation, OBS_PAGE_TARGET, false);
    }
    return 0;
}

// Main-panel timer: the sensors' temperature and cooler state, kept current
// whether or not a cooling watch runs.
int showSensorStates(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_TIMER_TICK) ShowSensorStates();
    return 0;
}

void RegisterCameraCallbacks() {
    ui::RegisterCallback("CCD_TurnOnOff", CCD_TurnOnOff);
    ui::RegisterCallback("showSensorStates", showSensorStates);
    ui::RegisterCallback("setCooler", setCooler);
    ui::RegisterCallback("CCD_setCamera", CCD_setCamera);
}

}  // namespace pelu
