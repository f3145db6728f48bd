#include "earlier/wv_earlier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "motors/wv_file_format.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

using namespace wvfile;

const char kCountKey[] = "NUMBER OF WV    =";
const char kSelectKey[] = "CURRENT_SELECT  =";
const char kStartKey[] = "STARTING POS    =";

std::string HeaderBytes() {
    std::string header(kWvHeaderBytes, '\0');
    std::snprintf(header.data(), kWvSlotBytes, "NUMBER OF WV    = %d", wvTable.nWV_FileIO);
    std::snprintf(header.data() + kWvSlotBytes, kWvSlotBytes, "CURRENT_SELECT  = %d",
                  wvTable.CurrentSelectWV_FileIO);
    std::snprintf(header.data() + 2 * kWvSlotBytes, kWvSlotBytes, "STARTING POS    = %d",
                  wvTable.StartingPos);
    return header;
}

int TestPanel() { return state.testpanel; }

int SettingsWavelengthList(int* panel) {
    return ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, MOTOR_PAGE_INDEX,
                                         panel);
}

}  // namespace

void ResetWvTable() { wvTable = WvTable{}; }

int ReadHeader(std::FILE* file) {
    ReadHeaderSlots(file, kWvHeaderBytes,
                    {{kCountKey, &wvTable.nWV_FileIO},
                     {kSelectKey, &wvTable.CurrentSelectWV_FileIO},
                     {kStartKey, &wvTable.StartingPos}});
    return 1;
}

int ReadWvTable(std::FILE* file) {
    ReadHeader(file);
    wvTable.nWV_FileIO = ReadRecords(file, wvTable.nWV_FileIO, kMaxWvEntries, kWvEntryBytes,
                                     [](int i, const uint8_t* record) {
                                         wvTable.Data[i] = WvEntry{
                                             BitsFloat(GetU32(record)),
                                             static_cast<int32_t>(GetU32(record + 4)),
                                             BitsFloat(GetU32(record + 8))};
                                     });
    return 1;
}

// Reads the file; `openFailure` is the popup text when it cannot be opened.
int LoadTable(const std::string& path, const char* openFailure) {
    File file = OpenHost(path, "rb");
    if (!file) {
        ui::MessagePopup("Error", openFailure);
        return 0;
    }
    return ReadWvTable(file.get());
}

int OpenFileF(const std::string& path) { return LoadTable(path, "Cannot open file Wv.ini"); }

int WriteHeader(std::FILE* file) {
    const std::string header = HeaderBytes();
    return std::fwrite(header.data(), 1, header.size(), file) == header.size() ? 1 : 0;
}

int WriteFileF(const std::string& path) {
    // Never more records than the table has room for.
    wvTable.nWV_FileIO = std::clamp(wvTable.nWV_FileIO, 0, kMaxWvEntries);
    const bool written = WriteWholeFile(path, HeaderBytes(), wvTable.nWV_FileIO, kWvEntryBytes,
                                        [](int i, uint8_t* record) {
                                            const WvEntry& e = wvTable.Data[i];
                                            PutU32(record, FloatBits(e.wavelength));
                                            PutU32(record + 4, static_cast<uint32_t>(e.step));
                                            PutU32(record + 8, FloatBits(e.angle));
                                        });
    if (!written) {
        ui::MessagePopup("Error", "Cannot open file Wv.ini");
        return 0;
    }
    return 1;
}

void ResetPanel() { ui::ClearListCtrl(TestPanel(), TEST_WVLIST); }

void InitPanel() {
    ui::SetCtrlVal(TestPanel(), TEST_WV_COUNT, wvTable.nWV_FileIO);
    ui::SetCtrlVal(TestPanel(), TEST_WV_START, wvTable.StartingPos);
    ui::SetCtrlVal(TestPanel(), TEST_WV_SELECT, wvTable.CurrentSelectWV_FileIO);
    for (int i = 0; i < wvTable.nWV_FileIO; ++i)
        ui::InsertListItem(TestPanel(), TEST_WVLIST, -1,
                           Format("%.2f", static_cast<double>(wvTable.Data[i].wavelength)), i);
}

void PrintWvStepAngle(int index) {
    if (index < 0 || index >= wvTable.nWV_FileIO) return;
    const WvEntry& e = wvTable.Data[index];
    ui::SetCtrlVal(TestPanel(), TEST_WV_WAVELENGTH, static_cast<double>(e.wavelength));
    ui::SetCtrlVal(TestPanel(), TEST_WV_STEP, e.step);
    ui::SetCtrlVal(TestPanel(), TEST_WV_ANGLE, static_cast<double>(e.angle));
}

int InsertData() {
    float wavelength = 0, angle = 0;
    int step = 0;
    ui::GetCtrlVal(TestPanel(), TEST_WV_SELECT, &wvTable.CurrentSelectWV_FileIO);
    ui::GetCtrlVal(TestPanel(), TEST_WV_START, &wvTable.StartingPos);
    ui::GetCtrlVal(TestPanel(), TEST_WV_WAVELENGTH, &wavelength);
    ui::GetCtrlVal(TestPanel(), TEST_WV_ANGLE, &angle);
    ui::GetCtrlVal(TestPanel(), TEST_WV_STEP, &step);
    for (int i = 0; i < wvTable.nWV_FileIO; ++i) {
        if (wvTable.Data[i].wavelength == wavelength) {
            wvTable.Data[i].angle = angle;
            wvTable.Data[i].step = step;
            return 1;
        }
    }
    if (wvTable.nWV_FileIO >= kMaxWvEntries) {
        ui::MessagePopup("Error", Format("The wavelength table is full (%d entries): delete an "
                                         "entry before inserting %f.",
                                         kMaxWvEntries, static_cast<double>(wavelength)));
        return 0;
    }
    wvTable.Data[wvTable.nWV_FileIO++] = WvEntry{wavelength, step, angle};
    return 1;
}

int DelData(int index) {
    if (index < 0 || index >= wvTable.nWV_FileIO) return 0;
    for (int i = index; i + 1 < wvTable.nWV_FileIO; ++i) wvTable.Data[i] = wvTable.Data[i + 1];
    wvTable.Data[--wvTable.nWV_FileIO] = WvEntry{};
    return 1;
}

int InitWvRing(const std::string& path) {
    int list = 0;
    SettingsWavelengthList(&list);
    if (LoadTable(path, "Cannot open file Wv.ini.") != 1) return 0;
    ui::ClearListCtrl(list, MOTOR_PAGE_WVLIST);
    for (int i = 0; i < wvTable.nWV_FileIO; ++i)
        ui::InsertListItem(list, MOTOR_PAGE_WVLIST, -1,
                           Format("%.2f", static_cast<double>(wvTable.Data[i].wavelength)), i);
    if (wvTable.CurrentSelectWV_FileIO >= 0 &&
        wvTable.CurrentSelectWV_FileIO < wvTable.nWV_FileIO)
        ui::SetCtrlIndex(list, MOTOR_PAGE_WVLIST, wvTable.CurrentSelectWV_FileIO);
    return 1;
}

int WvListBoxF(int panel, int control, int event, void*, int, int) {
    if (event != ui::EVENT_LEFT_DOUBLE_CLICK) return 0;
    int index = -1;
    ui::GetCtrlIndex(panel, control, &index);
    if (index >= 0) PrintWvStepAngle(index);
    return 0;
}

int InsertBTNF(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    ResetPanel();
    InsertData();
    InitPanel();
    return 0;
}

int DelBTNF(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    int index = -1;
    ui::GetCtrlIndex(TestPanel(), TEST_WVLIST, &index);
    DelData(index);
    ResetPanel();
    InitPanel();
    return 0;
}

int WriteFileBTNF(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    if (WriteFileF() == 1) InitWvRing();
    return 0;
}

}  // namespace pelu::earlier
