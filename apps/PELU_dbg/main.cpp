// PELU_dbg: acquisition and control program of the two-camera spectrograph.
#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "platform/ui/app.h"

int main(int argc, char** argv) {
    pelu::RegisterControlCallbacks();
    pelu::RegisterMotorCallbacks();
    pelu::RegisterScannerCallbacks();
    return ui::RunProgram(argc, argv, "PELU_dbg", pelu::PELU_main);
}
