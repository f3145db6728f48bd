// PELU: the earlier one-camera edition of the acquisition program.
#include "apps/simulated_instrument/simulated_instrument.h"
#include "earlier/PELU_earlier.h"
#include "platform/ui/qt/app.h"

int main(int argc, char** argv) {
    pelu::earlier::RegisterEarlierCallbacks();
    pelu::InstallSolarScene();
    return ui::RunProgram(argc, argv, "PELU", pelu::earlier::PELU_main);
}
