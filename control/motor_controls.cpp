// Manual controls of the spectrograph motors: the main panel's motor switch
// and the motor section of the device test panel.
#include <algorithm>

#include "control/callbacks.h"
#include "control/work.h"
#include "motors/grating_focus.h"
#include "platform/motion6k/motion6k.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"

namespace pelu {

int Motor_TurnOnOff(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (RefuseWhileBusy("Motor switch")) {
        ui::SetCtrlVal(state.mainPanel, MAIN_MOTOR_TOGGLE, state.Motor_status == kDeviceOn ? 1 : 0);
        return 0;
    }
    // The homing at switch-on takes seconds; the window answers meanwhile.
    LongWork switching(Work::Motors);
    if (state.Motor_status == kDeviceOn) {
        ui::SetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT, "Motor Off");
        ui::SetCtrlVal(state.mainPanel, MAIN_MOTOR_LED, 0);
        MotorDisconnect();
        state.Motor_status = kDeviceOff;
    } else {
        ui::SetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT, "Motor On");
        ui::SetCtrlVal(state.mainPanel, MAIN_MOTOR_LED, 1);
        if (MotorConnect() == 0) {
            // The connection has said what failed; the switch shows the truth.
            ui::SetCtrlVal(state.mainPanel, MAIN_MOTOR_TOGGLE, 0);
            ui::SetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT,
                                 "Motor Off");
            ui::SetCtrlVal(state.mainPanel, MAIN_MOTOR_LED, 0);
            state.Motor_status = kDeviceOff;
            return 0;
        }
        state.Motor_status = kDeviceOn;
    }
    return 0;
}

int Motor_Stop(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    for (const char* command : {"!S:", "MC0000:"}) {
        Write_6KE(command);
        LogControllerWrite("motor", command);
    }
    return 0;
}

int motor_device_select(int panel, int control, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // The selector offers the axes this program drives.
    motorState.SelectMotor = std::clamp(GetInt(panel, control), 1, CurrentMotorEdition().axes);
    return 0;
}

int motor_step_increase(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    MotorMove(kMovePositive, GetInt(state.testpanel, TEST_MOTOR_STEP));
    return 0;
}

int motor_step_decrease(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    MotorMove(kMoveNegative, GetInt(state.testpanel, TEST_MOTOR_STEP));
    return 0;
}

void RegisterMotorCallbacks() {
    ui::RegisterCallback("Motor_TurnOnOff", Motor_TurnOnOff);
    ui::RegisterCallback("Motor_Stop", Motor_Stop);
    ui::RegisterCallback("motor_device_select", motor_device_select);
    ui::RegisterCallback("motor_step_increase", motor_step_increase);
    ui::RegisterCallback("motor_step_decrease", motor_step_decrease);
}

}  // namespace pelu
