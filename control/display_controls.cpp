// Opening a stored file on the main panel and saving the display as a
// bitmap: the dialogs and the panel around the viewer of display/file_viewer.h.
#include <filesystem>
#include <string>

#include "control/callbacks.h"
#include "control/work.h"
#include "display/display.h"
#include "display/file_viewer.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

const char* const kDataFilePatterns = "*.fts;*.bmp;*.fit;*.fits";

// Where the file dialogs start: the data directory of the observation set
// up last, else the data root; "" (the working directory) when neither
// exists yet.
std::string DataFolderForDialogs() {
    for (const std::string& folder : {state.entire_directory, state.data_directory}) {
        if (folder.empty()) continue;
        std::error_code ec;
        if (std::filesystem::is_directory(os::HostPath(folder), ec)) return folder;
    }
    return "";
}

// Fills the header viewer with the cards of the file on screen.
void FillHeaderViewer() {
    if (display.headerPanel <= 0) return;
    std::string text;
    for (const std::string& card : display.FitsHeaderCards) text += card + "\n";
    ui::ResetTextBox(display.headerPanel, HEADER_CARDS, text);
    ui::SetPanelAttribute(display.headerPanel, ui::ATTR_TITLE,
                          "FITS header - " + display.shownFile);
}

bool IsDimmed(int control) {
    int dimmed = 0;
    ui::GetCtrlAttribute(state.mainPanel, control, ui::ATTR_DIMMED, &dimmed);
    return dimmed != 0;
}

// The summary of an opened FITS file.
void ShowFileSummary() {
    const int panel = state.mainPanel;
    const FitsHeaderRecord& h = display.FitsHeader;
    SetText(panel, MAIN_MEAN, Format("%.2f", display.mean));
    SetText(panel, MAIN_STDEV, Format("%.2f", display.stdev));
    SetText(panel, MAIN_FILE_NAXIS1, Format("%d", h.NAXIS1));
    SetText(panel, MAIN_FILE_NAXIS2, Format("%d", h.NAXIS2));
    SetText(panel, MAIN_FILE_NAXIS3, h.NAXIS == 3 ? Format("%d", h.NAXIS3) : std::string());
    SetText(panel, MAIN_FILE_EXPTIME, Format("%.2f", h.EXPTIME));
}

}  // namespace

int cmdOpen(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // The display shows the work's frames; a stored file would replace them.
    if (RefuseWhileBusy("Open")) return 0;
    const int panel = state.mainPanel;
    // A file that is not shown after all leaves the picture as it was.
    const bool pictureWasDimmed = IsDimmed(MAIN_PICTURE);
    SetDimmed(panel, MAIN_PICTURE, true);
    std::string path;
    const int chosen = ui::FileSelectPopup(DataFolderForDialogs(), "*.fts", kDataFilePatterns,
                                           "Load Data File", ui::VAL_LOAD_BUTTON, &path);
    if (chosen == ui::VAL_NO_FILE_SELECTED || path.empty()) {
        SetDimmed(panel, MAIN_PICTURE, pictureWasDimmed);
        return 0;
    }
    for (int control : {MAIN_PICTURE, MAIN_BYTSCL_MIN, MAIN_BYTSCL_MAX, MAIN_GRAPH, MAIN_CURSOR_X,
                        MAIN_CURSOR_Y, MAIN_CURSOR_FRAME, MAIN_PIXEL_VALUE})
        SetDimmed(panel, control, false);

    if (path.find(".bmp") != std::string::npos) {
        if (OpenBitmap(path)) ShowFileName(path, false);
        // A picture has no samples behind it: no cursor read-out on it.
        SetDimmed(panel, MAIN_PICTURE, true);
    } else if (OpenFitsFile(path)) {
        const FitsHeaderRecord& h = display.FitsHeader;
        const bool series = h.NAXIS == 3 && h.NAXIS3 >= 2;
        SetDimmed(panel, MAIN_FRAME, !series);
        SetDimmed(panel, MAIN_VIEW, !series);
        ShowFileSummary();
        ShowFileName(path, true);
        FillHeaderViewer();
    } else {
        SetDimmed(panel, MAIN_PICTURE, pictureWasDimmed);
    }
    ui::MarkOption(panel, MAIN_VIEW, 0);
    return 0;
}

void SaveDisplayAsBitmap() {
    const int low = GetInt(state.mainPanel, MAIN_BYTSCL_MIN);
    const int high = GetInt(state.mainPanel, MAIN_BYTSCL_MAX);
    std::string path;
    const int chosen = ui::FileSelectPopup(DataFolderForDialogs(), "*.bmp", kDataFilePatterns,
                                           "Save As BMP File", ui::VAL_SAVE_BUTTON, &path);
    if (chosen == ui::VAL_NO_FILE_SELECTED || path.empty()) return;
    // The plane on screen (file image, file plane or camera plane, frame or
    // slice by the view selector), taken after the dialog: it may have changed
    // while the dialog was open.
    std::lock_guard<std::recursive_mutex> lock(DisplayMutex());
    const ShownPlane plane = PlaneOnScreen();
    if (!plane) {
        ShowStatus("\nNo image on the display to save\n");
        return;
    }
    SaveBitmap(plane.width, plane.height, plane.data, path, low, high);
}

int cmdShowHeader(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT || display.headerPanel <= 0) return 0;
    FillHeaderViewer();
    ui::DisplayPanel(display.headerPanel);
    return 0;
}

void mnuHeader(int, int, void*, int) {
    cmdShowHeader(state.mainPanel, MAIN_HEADER, ui::EVENT_COMMIT, nullptr, 0, 0);
}

int HeaderPanel_proc(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) ui::HidePanel(panel);
    return 0;
}

}  // namespace pelu
