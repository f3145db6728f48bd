// The wavelength lists of the settings dialog and the device test panel,
// filled from Wv.ini, and the move to the wavelength the observer confirms.
#include <array>
#include <utility>

#include "motors/grating_focus.h"
#include "motors/wv_file.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

// Both lists show the same table: the settings dialog's list chooses the
// wavelength, the test panel's shows it beside the manual motor controls.
std::array<std::pair<int, int>, 2> WavelengthLists() {
    const int motorPage = SettingsPage(SETTINGS_TAB, MOTOR_PAGE_INDEX);
    return {{{motorPage, MOTOR_PAGE_WVLIST}, {state.testpanel, TEST_WVLIST}}};
}

}  // namespace

int InitWvRing() {
    OpenFileF();
    ResetPanel();
    InitPanel();
    return 1;
}

void ResetPanel() {
    for (auto [panel, control] : WavelengthLists()) ui::ClearListCtrl(panel, control);
}

void InitPanel() {
    const int count = wvTable.nWV_FileIO;
    // A stored selection outside the table shows the first entry instead.
    const int selected = wvTable.CurrentSelectWV_FileIO >= 0 &&
                                 wvTable.CurrentSelectWV_FileIO < count
                             ? wvTable.CurrentSelectWV_FileIO
                             : 0;
    for (auto [panel, control] : WavelengthLists()) {
        for (int i = 0; i < count; ++i)
            ui::InsertListItem(panel, control, -1,
                               Format("%.2f", static_cast<double>(wvTable.Data[i].wavelength)), i);
        if (count > 0) ui::SetCtrlIndex(panel, control, selected);
    }
}

int SelectWavelength(int index) {
    if (index < 0 || index >= wvTable.nWV_FileIO) {
        ShowStatus("\nNo wavelength selected: the grating stays where it is.\n");
        return 0;
    }
    state.CurrentSelect_Wv = index;
    const WvRecord& entry = wvTable.Data[index];
    Gratingtracking(kTrackAbsolute, entry.step);
    wvTable.CurrentSelectWV_FileIO = state.CurrentSelect_Wv;
    if (WriteFileF(kAcquisitionWriteFailure) == 1 && WriteWvListing() != 1)
        ShowStatus(Format("\nCannot write %s\n", kWvListingName));
    SetText(state.mainPanel, MAIN_SUM_WAVELENGTH,
            Format("%.2f", static_cast<double>(entry.wavelength)));
    return 1;
}

}  // namespace pelu
