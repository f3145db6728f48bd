#include "lintab/LintabFunc.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "motors/wv_file.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/lintab_uir.h"

namespace pelu::lintab {

int panelHandle = 0;

namespace {

// What the observer has done since the program started: a table never
// loaded from Wv.ini is no picture of it, and edits not yet saved are lost
// on leaving.
bool tableLoaded = false;
bool unsavedChanges = false;

// How many wavelengths Wv.ini holds now (0 when it cannot be read), without
// touching the table being edited.
int EntriesInFile() {
    const std::string host = os::HostPath(kWvFileName);
    std::FILE* file = host.empty() ? nullptr : std::fopen(host.c_str(), "rb");
    if (!file) return 0;
    const WavelengthTable edited = wvTable;
    ReadHeader(file);
    const int entries = wvTable.nWV_FileIO;
    wvTable = edited;
    std::fclose(file);
    return entries;
}

// 79 grooves per millimetre, used in Littrow: m lambda = 2 d sin(theta).
constexpr double kGrooveSpacingMm = 1.0 / 79.0;
// m lambda / 2 in micrometres of the reference line, 6562.8 A in order 34.
constexpr double kReferenceHalfPathUm = 11.15676;
constexpr double kPi = 3.141592;  // the value the table has always used
constexpr double kStepsPerDegree = 6553.5 / 3.6;

// The wavelength as the observer typed it. The table holds it in single
// precision, and 6562.8 comes back as 6562.7998...: computed from that, the
// reference line would land a hair below its own angle and truncation would
// give one step less than entry 0. The shortest decimal that reads back as
// the same float is the number that was typed.
double TypedWavelength(float wavelength) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, wavelength);
    double value = wavelength;
    std::from_chars(text, result.ptr, value);
    return value;
}

double SineOf(double wavelength, int order) {
    return 0.001 * (0.0001 * order * wavelength / 2.0) / kGrooveSpacingMm;
}

void Message(const std::string& text) { ui::SetCtrlVal(panelHandle, PANEL_MESSAGE, text); }

template <class... Args>
std::string Format(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

int RowCount(int panel) {
    int rows = 0;
    ui::GetCtrlAttribute(panel, PANEL_WVTABLE, ui::ATTR_NUM_ROWS, &rows);
    return rows;
}

// Shows record `index` in table row index + 1.
void ShowRecord(int panel, int index) {
    const WvRecord& r = wvTable.Data[index];
    const int row = index + 1;
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(1, row), TypedWavelength(r.wavelength));
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(2, row), static_cast<int>(r.order));
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(3, row), r.angle);
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(4, row), static_cast<int>(r.step));
}

}  // namespace

int AngleStepCalculating(float wavelength, int order, double* angle, int* step) {
    const double typed = TypedWavelength(wavelength);
    const double sine = SineOf(typed, order);
    if (!(std::fabs(sine) <= 1.0)) return 0;
    const double reference =
        std::asin(0.001 * kReferenceHalfPathUm / kGrooveSpacingMm) * 180.0 / kPi;
    const double theta = std::asin(sine) * 180.0 / kPi;
    const double steps = kStepsPerDegree * (theta - reference) + wvTable.Data[0].step;
    *angle = theta;
    *step = static_cast<int>(std::trunc(std::fmax(std::fmin(steps, 2147483647.0), -2147483648.0)));
    return 1;
}

void LoadTable(int panel) {
    ui::DeleteTableRows(panel, PANEL_WVTABLE, 1, -1);
    for (int i = 0; i < wvTable.nWV_FileIO; ++i) {
        ui::InsertTableRows(panel, PANEL_WVTABLE, -1, 1);
        ShowRecord(panel, i);
    }
}

void InsertTable(int panel) {
    if (wvTable.nWV_FileIO >= kMaxWvRecords) {
        Message(Format("The table is full: Wv.ini holds at most %d wavelengths.", kMaxWvRecords));
        return;
    }
    ++wvTable.nWV_FileIO;
    ui::InsertTableRows(panel, PANEL_WVTABLE, -1, 1);
    ShowRecord(panel, wvTable.nWV_FileIO - 1);
    unsavedChanges = true;
}

void SaveTable(int panel) {
    const int rows = RowCount(panel);
    for (int i = 0; i < wvTable.nWV_FileIO && i < rows; ++i) {
        WvRecord& r = wvTable.Data[i];
        const int row = i + 1;
        float wavelength = 0, angle = 0;
        int order = 0, step = 0;
        ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(1, row), &wavelength);
        ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(2, row), &order);
        ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(3, row), &angle);
        ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(4, row), &step);
        r.wavelength = wavelength;
        r.order = order;
        r.angle = angle;
        r.step = step;
    }
}

void CalculateTable(int panel) {
    ui::Point cell;
    if (ui::GetActiveTableCell(panel, PANEL_WVTABLE, &cell) < 0) return;
    float wavelength = 0;
    int order = 0;
    if (ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(1, cell.y), &wavelength) < 0 ||
        ui::GetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(2, cell.y), &order) < 0)
        return;
    double angle = 0;
    int step = 0;
    if (!AngleStepCalculating(wavelength, order, &angle, &step)) {
        Message(Format("Row %d: %g A in order %d is beyond the grating's range; angle and step "
                       "are not computed.",
                       cell.y, TypedWavelength(wavelength), order));
        return;
    }
    Message("");
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(3, cell.y), angle);
    ui::SetTableCellVal(panel, PANEL_WVTABLE, ui::MakePoint(4, cell.y), step);
}

int Reload(int panel, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (OpenFileF() == 1) {
        tableLoaded = true;
        unsavedChanges = false;
    }
    LoadTable(panel);
    return 0;
}

int Insert(int panel, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) InsertTable(panel);
    return 0;
}

int Save(int panel, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    // Saving a table that was never loaded would replace the instrument's
    // wavelengths with whatever few rows were typed: only on request.
    if (!tableLoaded) {
        const int entries = EntriesInFile();
        if (entries > 0 &&
            !ui::ConfirmPopup("Save",
                              Format("Wv.ini holds %d wavelengths, and this table was never "
                                     "loaded from it (Reload).\n\nSaving replaces them with the "
                                     "%d rows shown. Save anyway?",
                                     entries, wvTable.nWV_FileIO))) {
            Message("Not saved. Reload shows the wavelengths of Wv.ini for editing.");
            return 0;
        }
    }
    SaveTable(panel);
    if (WriteFileF(kLintabWriteFailure) == 1) {
        tableLoaded = true;  // the file now holds this table
        unsavedChanges = false;
        Message("");
    }
    return 0;
}

namespace {
// Leaves the program, after asking when edits would be lost.
void Leave() {
    if (unsavedChanges &&
        !ui::ConfirmPopup("Exit",
                          "The table has changes that are not saved in Wv.ini.\n\n"
                          "Leave without saving them?"))
        return;
    ui::QuitUserInterface(0);
}
}  // namespace

int Exit(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_COMMIT) Leave();
    return 0;
}

int WvTable(int panel, int, int event, void*, int eventData1, int) {
    if (event == ui::EVENT_EDIT_MODE_STATE_CHANGE && eventData1 == 0) {
        unsavedChanges = true;
        CalculateTable(panel);
    }
    return 0;
}

// The window's close box leaves like Exit.
int LintabPanel(int, int, int event, void*, int, int) {
    if (event == ui::EVENT_CLOSE) Leave();
    return 0;
}

int Lintab_main() {
    if (ui::InitRuntime() < 0) return -1;
    tableLoaded = false;
    unsavedChanges = false;
    panelHandle = ui::LoadPanel(0, "Lintab.uir", PANEL_RESOURCE);
    if (panelHandle < 0) {
        std::fprintf(stderr, "Lintab: %s\n", ui::LastLoadError().c_str());
        return -1;
    }
    ui::DisplayPanel(panelHandle);
    ui::RunUserInterface();
    ui::DiscardPanel(panelHandle);
    return 0;
}

void RegisterLintabCallbacks() {
    ui::RegisterCallback("Reload", Reload);
    ui::RegisterCallback("Insert", Insert);
    ui::RegisterCallback("Save", Save);
    ui::RegisterCallback("Exit", Exit);
    ui::RegisterCallback("WvTable", WvTable);
    ui::RegisterCallback("LintabPanel", LintabPanel);
}

}  // namespace pelu::lintab
