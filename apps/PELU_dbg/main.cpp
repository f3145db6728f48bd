// PELU_dbg: acquisition and control program of the two-camera spectrograph.
#include "apps/simulated_instrument/simulated_instrument.h"
#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/ui/qt/app.h"

int main(int argc, char** argv) {
    pelu::RegisterControlCallbacks();
    pelu::RegisterScannerCallbacks();
    pelu::RegisterDataCallbacks();
    pelu::RegisterMotorCallbacks();
    pelu::InstallSolarScene();
    return ui::RunProgram(argc, argv, "PELU_dbg", pelu::PELU_main);
}
