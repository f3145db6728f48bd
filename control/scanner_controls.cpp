#include "control/scanner_controls.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>

#include "camera/camera.h"
#include "control/work.h"
#include "platform/motion6k/motion6k.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"
#include "state/status.h"

namespace pelu {
namespace {

ScannerSwitch g_switch;  // set at registration, before the event loop runs

void SetScanToggle(int value, const char* label) {
    ui::SetCtrlVal(state.mainPanel, MAIN_SCAN_TOGGLE, value);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_SCAN_TOGGLE, ui::ATTR_LABEL_TEXT, label);
}

void SetAmpTimer(bool enabled) {
    ui::SetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, enabled ? 1 : 0);
}

void ScannerOff() {
    if (state.Scanning == 1) {
        ui::MessagePopup("Error", "Motor is still running.");
        SetScanToggle(1, "Scan On");
        return;
    }
    SetScanToggle(0, "Scan Off");
    SetAmpTimer(false);
    // Ends the monitoring loop and waits until it has left the controller.
    CloseDevice();
    ui::SetCtrlVal(state.mainPanel, MAIN_SCAN_LED, 0);
    const ScannerEdition& edition = CurrentScannerEdition();
    for (int i = 0; i < edition.monitoredCount; ++i)
        ui::SetCtrlVal(state.mainPanel, edition.monitored[i].lamp, 0);
}

void ScannerOn() {
    SetScanToggle(1, "Scan On");
    if (g_switch.open() == 0) {
        // Nothing to watch or home without a controller.
        SetScanToggle(0, "Scan Off");
        return;
    }
    ui::SetCtrlVal(state.mainPanel, MAIN_SCAN_LED, 1);
    SetAmpTimer(true);
    SetDimmed(state.mainPanel, MAIN_RUN, false);
    const int page = SettingsPage(SETTINGS_TAB, SCANNER_PAGE_INDEX);
    for (int control : {SCANNER_PAGE_SCANMODE, SCANNER_PAGE_STEPSIZE, SCANNER_PAGE_STEPTIME})
        SetDimmed(page, control, false);
    ui::Delay(1.0);
    // The switch stays pressed on the stack while the scanner is on; other
    // callbacks, the switch-off among them, run while it waits.
    int monitor = 0;
    ui::ScheduleThreadFunction(g_switch.monitoringThread, &monitor);
    ui::WaitForThreadFunctionCompletion(monitor);
    ui::ReleaseThreadFunctionID(monitor);
}

// Moves the jog target by `counts` and sends the stage there.
void Jog(int64_t counts) {
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return;
    }
    const int64_t target = std::clamp<int64_t>(scanner.g_nJogPosition + counts, INT_MIN, INT_MAX);
    scanner.g_nJogPosition = static_cast<int>(target);
    getresponse(Format("#1J=%d", scanner.g_nJogPosition));
}

int64_t JogCounts() {
    return 10 * static_cast<int64_t>(TextToInt(GetText(state.testpanel, TEST_JOGSTEP)));
}

}  // namespace

int Scan_TurnOnOff(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    const bool on = state.Scanner_status == kDeviceOn;
    // A running scan refuses with its own message; any other work that may
    // use the scanner refuses in the status box. Switching on waits for the
    // scanner's whole session, which would hold the work up.
    if (state.Scanning != 1 && RefuseWhileBusy("Scanner switch")) {
        SetScanToggle(on ? 1 : 0, on ? "Scan On" : "Scan Off");
        return 0;
    }
    if (on)
        ScannerOff();
    else
        ScannerOn();
    return 0;
}

int SlitStepDecrease(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) Jog(JogCounts());
    return 0;
}

int SlitStepIncrease(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) Jog(-JogCounts());
    return 0;
}

int SetZero(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (!ScannerConnected()) {
        ShowStatus(kScannerNotConnected);
        return 0;
    }
    scanner.g_nJogPosition = 0;
    getresponse("HMZ");
    return 0;
}

int upload_data(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) UploadQuickGather(1);
    return 0;
}

int radio_scan(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    ui::SetCtrlVal(state.testpanel, TEST_RADIO_SCAN, 1);
    ui::SetCtrlVal(state.testpanel, TEST_RADIO_MOTOR, 0);
    return 0;
}

int radio_motor(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    ui::SetCtrlVal(state.testpanel, TEST_RADIO_SCAN, 0);
    ui::SetCtrlVal(state.testpanel, TEST_RADIO_MOTOR, 1);
    return 0;
}

int STR_Command(int, int, int event, void*, int eventData1, int) {
    if (event != ui::EVENT_KEYPRESS || eventData1 != ui::VAL_ENTER_VKEY) return 0;
    const int panel = state.testpanel;
    const bool scanner = GetInt(panel, TEST_RADIO_SCAN) != 0;
    const bool motor = GetInt(panel, TEST_RADIO_MOTOR) != 0;
    const std::string command = GetText(panel, TEST_COMMAND);
    SetText(panel, TEST_COMMAND, "");
    if (scanner && !motor) {
        ui::SetCtrlVal(panel, TEST_REPLY, "Scanner> " + command + "\n");
        getresponse(command);
    } else if (motor && !scanner) {
        ui::SetCtrlVal(panel, TEST_REPLY, "6K_Motor> " + command + "\n");
        Write_6KE(command.c_str());
        ui::Delay(0.05);
        char reply[256] = {};
        Read_HS(reply, sizeof reply);
        reply[sizeof reply - 1] = '\0';
        LogControllerCommand("motor", command, reply, reply[0] != '\0');
        ui::SetCtrlVal(panel, TEST_REPLY, std::string(reply) + "\n");
    }
    return 0;
}

void RegisterScannerCallbacks(const ScannerSwitch& scannerSwitch) {
    g_switch = scannerSwitch;
    struct Named {
        const char* name;
        ui::CtrlCallbackPtr callback;
    };
    for (const Named& c :
         {Named{"Scan_TurnOnOff", Scan_TurnOnOff}, Named{"Ampon_timer", Ampon_timer},
          Named{"SlitStepDecrease", SlitStepDecrease}, Named{"SlitStepIncrease", SlitStepIncrease},
          Named{"SetZero", SetZero}, Named{"upload_data", upload_data},
          Named{"radio_scan", radio_scan}, Named{"radio_motor", radio_motor},
          Named{"STR_Command", STR_Command}})
        ui::RegisterCallback(c.name, c.callback);
}

}  // namespace pelu
