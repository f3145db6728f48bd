#include "control/program_shell.h"

#include <cstdio>

#include "platform/ui/ui.h"
#include "state/instrument_state.h"
#include "state/observing_log.h"

namespace pelu {

bool LoadProgramPanel(const char* program, const char* resourceFile, int resource, int* handle) {
    *handle = ui::LoadPanel(0, resourceFile, resource);
    if (*handle > 0) return true;
    std::fprintf(stderr, "%s: %s\n", program, ui::LastLoadError().c_str());
    return false;
}

int RunMainPanel() {
    ui::RunUserInterface();
    ui::DiscardPanel(state.mainPanel);
    CloseObservingLog();
    return 0;
}

}  // namespace pelu
