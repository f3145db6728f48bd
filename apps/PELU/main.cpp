// PELU: the earlier one-camera edition of the acquisition program.
#include "earlier/PELU_earlier.h"
#include "platform/ui/app.h"

int main(int argc, char** argv) {
    pelu::earlier::RegisterEarlierCallbacks();
    return ui::RunProgram(argc, argv, "PELU", pelu::earlier::PELU_main);
}
