// PELU_dbg: acquisition and control program of the spectrograph.
#include <cstdio>

#include "platform/ui/app.h"
#include "platform/ui/ui.h"

namespace {

int mainPanel = 0;

int panel_proc(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) ui::QuitUserInterface(0);
    return 0;
}

int QuitCallback(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) ui::QuitUserInterface(0);
    return 0;
}

int ProgramMain() {
    if (ui::InitRuntime() < 0) return -1;
    mainPanel = ui::LoadPanel(0, "PELU.uir", 2);
    if (mainPanel < 0) {
        std::fprintf(stderr, "PELU_dbg: %s\n", ui::LastLoadError().c_str());
        return -1;
    }
    ui::DisplayPanel(mainPanel);
    ui::RunUserInterface();
    ui::DiscardPanel(mainPanel);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ui::RegisterCallback("panel_proc", panel_proc);
    ui::RegisterCallback("QuitCallback", QuitCallback);
    return ui::RunProgram(argc, argv, "PELU_dbg", ProgramMain);
}
