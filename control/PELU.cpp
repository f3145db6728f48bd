// PELU_dbg's shell: start-up, the main panel's close box, the menus, the
// device test panel and the ordered shutdown.
#include <cstdio>
#include <string>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "control/callbacks.h"
#include "control/program_shell.h"
#include "control/work.h"
#include "display/display.h"
#include "display/display_panel.h"
#include "motors/grating_focus.h"
#include "motors/wv_file.h"
#include "platform/camera_sdk/binding.h"
#include "platform/motion6k/binding.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"
#include "state/status.h"

namespace pelu {
namespace {

const char* const kResourceFile = "PELU.uir";

// The sections of the device test panel that Obs_Test enables for the
// devices that are on and that closing the panel dims again.
constexpr int kCameraSection[] = {TEST_COOLER1, TEST_COOLER2, TEST_TEMP1, TEST_TEMP2,
                                  TEST_SETCOOLER};
constexpr int kScannerSection[] = {TEST_JOGSTEP, TEST_JOG_DEC,      TEST_JOG_INC,
                                   TEST_ZERO,    TEST_RADIO_SCAN,   TEST_RADIO_MOTOR,
                                   TEST_COMMAND, TEST_REPLY};
constexpr int kMotorSection[] = {TEST_MOTOR_SELECT, TEST_MOTOR_STEP, TEST_MOTOR_INC,
                                 TEST_MOTOR_DEC,    TEST_MOTOR_STOP, TEST_WVLIST};

template <size_t N>
void DimSection(const int (&controls)[N], bool dimmed) {
    for (int id : controls) SetDimmed(state.testpanel, id, dimmed);
}

bool Load(int resource, int* handle) {
    return LoadProgramPanel("PELU_dbg", kResourceFile, resource, handle);
}

void Commit(ui::CtrlCallbackPtr callback) {
    callback(state.mainPanel, 0, ui::EVENT_COMMIT, nullptr, 0, 0);
}

}  // namespace

int PELU_main() {
    if (ui::InitRuntime() < 0) return -1;
    OpenObservingLog(state.data_directory);
    if (!Load(MAIN_RESOURCE, &state.mainPanel) ||
        !Load(SETTINGS_RESOURCE, &state.PELUpanelSetting) ||
        !Load(TEST_RESOURCE, &state.testpanel) || !Load(ABOUT_RESOURCE, &state.aboutPanel) ||
        !Load(HEADER_RESOURCE, &display.headerPanel))
        return -1;
    state.menubar = ui::LoadMenuBar(state.mainPanel, kResourceFile, MENUBAR_RESOURCE);
    if (state.menubar <= 0) {
        std::fprintf(stderr, "PELU_dbg: %s\n", ui::LastLoadError().c_str());
        return -1;
    }
    ui::ConvertTreeToRadioGroup(state.mainPanel, MAIN_VIEW);
    ui::DisplayPanel(state.mainPanel);
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_WIDTH, &state.panelwidth);
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_HEIGHT, &state.panelheight);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_SPLASH, ui::ATTR_VISIBLE, 0);
    return RunMainPanel();
}

int panel_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) QuitCallback(panel, 0, ui::EVENT_COMMIT, nullptr, 0, 0);
    return 0;
}

int QuitCallback(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const Work work = CurrentWork();
    if (work == Work::Quit) return 0;  // shutting down already
    if (work != Work::None) {
        // The work ends first (a scan stops and its frames are saved); the
        // shutdown follows when it has.
        const bool scanning = state.Scanning == 1;
        DeferQuitUntilWorkEnds();
        ShowStatus(Format("\nQuit: the program ends once %s has stopped.\n", WorkName(work)));
        if (scanning) ui::MessagePopup("Error", "Motor is still running.");
        return 0;
    }
    LongWork shutdown(Work::Quit);
    StopLiveView();

    if (state.Motor_status == kDeviceOn) {
        MotorDisconnect();
        state.Motor_status = kDeviceOff;
    }

    if (state.CCD_status == kDeviceOn) {
        {
            // The monitoring loop may still be acquiring into these.
            CameraLock lock;
            state.pFitsData.Free();
            state.pusFitsData.Free();
            state.planeDataCCD.Release();
            state.g_pRawData.Free();
            state.g_pRawData2.Free();
            state.BiasDark1.Free();
            state.BiasDark2.Free();
        }
        CamerasOff();  // warm-up, then camera 1 before camera 2
        state.CCD_status = kDeviceOff;
    }

    if (state.Scanner_status == kDeviceOn) {
        if (state.Scanning == 1) {
            ui::MessagePopup("Error", "Motor is still running.");
        } else {
            // Ends the monitoring loop's access and waits until it has left
            // the controller before closing it.
            CloseDevice();
        }
    }
    ui::QuitUserInterface(0);
    return 0;
}

int InfoPanel_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) ui::HidePanel(panel);
    return 0;
}

int Obs_Test(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    int cooler1 = 0, cooler2 = 0;
    ui::GetMarkedOption(state.testpanel, TEST_COOLER1, &cooler1);
    ui::GetMarkedOption(state.testpanel, TEST_COOLER2, &cooler2);
    ui::DisplayPanel(state.testpanel);
    if (state.CCD_status == kDeviceOn) DimSection(kCameraSection, false);
    if (state.Scanner_status == kDeviceOn) DimSection(kScannerSection, false);
    if (state.Motor_status == kDeviceOn) {
        // Both wavelength lists, the test panel's and the settings dialog's.
        ResetPanel();
        OpenFileF();
        InitPanel();
        DimSection(kMotorSection, false);
    }
    return 0;
}

int test_panel_proc(int panel, int, int event, void*, int, int) {
    if (event != ui::EVENT_CLOSE) return 0;
    DimSection(kCameraSection, true);
    DimSection(kScannerSection, true);
    DimSection(kMotorSection, true);
    ui::HidePanel(panel);
    return 0;
}

void mnuOpen(int, int, void*, int) { cmdOpen(state.mainPanel, MAIN_OPEN, ui::EVENT_COMMIT, nullptr, 0, 0); }

void mnuSave(int, int, void*, int) { SaveDisplayAsBitmap(); }

void mnuExit(int, int, void*, int) { Commit(QuitCallback); }

void mnuSetup(int, int, void*, int) {
    Commit(Set_PELU_parameter);
    for (int item : {MENUBAR_FILE_SAVE, MENUBAR_SETUP_TEST, MENUBAR_HELP_ABOUT})
        ui::SetMenuBarAttribute(state.menubar, item, ui::ATTR_DIMMED, 0);
}

void mnuTest(int, int, void*, int) { Commit(Obs_Test); }

void mnuAbout(int, int, void*, int) {
    ui::DisplayPanel(state.aboutPanel);
    const int handles[] = {state.nCameraHandle1, state.nCameraHandle2};
    for (int i = 0; i < 2; ++i) {
        std::string report;
        if (handles[i] == 0) {
            // Never found: asking would report whichever camera is current.
            report = "No camera connected\n";
        } else {
            CameraSession session(handles[i]);
            report = GetCameraInfo();
        }
        ui::SetCtrlVal(state.aboutPanel, ABOUT_INFO,
                       Format("============CCD%d===========\n", i + 1) + report);
    }
    // Which library serves each device: the simulator or the site's own.
    ui::SetCtrlVal(state.aboutPanel, ABOUT_INFO,
                   "============Devices===========\n" + camera_sdk::LibraryLine() + "\n" +
                       PmacLibraryLine() + "\n" + motion6k::LibraryLine() + "\n");
}

void RegisterControlCallbacks() {
    struct Named {
        const char* name;
        ui::CtrlCallbackPtr callback;
    };
    for (const Named& c :
         {Named{"panel_proc", panel_proc}, Named{"QuitCallback", QuitCallback},
          Named{"InfoPanel_proc", InfoPanel_proc}, Named{"Obs_Test", Obs_Test},
          Named{"test_panel_proc", test_panel_proc},
          Named{"Set_PELU_parameter", Set_PELU_parameter}, Named{"SetPELU_proc", SetPELU_proc},
          Named{"PELU_setCancel", PELU_setCancel}, Named{"CCD_setBinning", CCD_setBinning},
          Named{"Scan_Mode", Scan_Mode}, Named{"PELU_setOK", PELU_setOK}, Named{"cmd_Run", cmd_Run},
          Named{"cmdStop", cmdStop}, Named{"cmdOpen", cmdOpen},
          Named{"cmdShowHeader", cmdShowHeader}, Named{"HeaderPanel_proc", HeaderPanel_proc}})
        ui::RegisterCallback(c.name, c.callback);
    RegisterDisplayCallbacks();
    struct NamedMenu {
        const char* name;
        ui::MenuCallbackPtr callback;
    };
    for (const NamedMenu& m : {NamedMenu{"mnuOpen", mnuOpen}, NamedMenu{"mnuSave", mnuSave},
                               NamedMenu{"mnuExit", mnuExit}, NamedMenu{"mnuSetup", mnuSetup},
                               NamedMenu{"mnuTest", mnuTest}, NamedMenu{"mnuAbout", mnuAbout},
                               NamedMenu{"mnuHeader", mnuHeader}})
        ui::RegisterMenuCallback(m.name, m.callback);
    RegisterCameraCallbacks();
}

}  // namespace pelu
