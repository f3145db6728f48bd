#include "earlier/wv_earlier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

const char kCountKey[] = "NUMBER OF WV    =";
const char kSelectKey[] = "CURRENT_SELECT  =";
const char kStartKey[] = "STARTING POS    =";
constexpr size_t kKeyLength = 17;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenHost(const std::string& logicalPath, const char* mode) {
    const std::string host = os::HostPath(logicalPath);
    return File(host.empty() ? nullptr : std::fopen(host.c_str(), mode));
}

void PutU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetU32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}
uint32_t FloatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    return bits;
}
float BitsFloat(uint32_t bits) {
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
}

// The integer after a key, as "%d" reads it, refusing text that is no number
// or does not fit an int.
void ReadSlotValue(const char* text, int* value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return;
    *value = static_cast<int>(v);
}

// Reads the file; `openFailure` is the popup text when it cannot be opened.
int LoadTable(const std::string& path, const char* openFailure) {
    File file = OpenHost(path, "rb");
    if (!file) {
        ui::MessagePopup("Error", openFailure);
        return 0;
    }
    ReadHeader(file.get());
    const int claimed = wvTable.nWV_FileIO;
    const int wanted = std::clamp(claimed, 0, kMaxWvEntries);
    if (claimed != wanted)
        ui::MessagePopup("Error", Format("Wv.ini lists %d wavelengths; the table holds %d "
                                         "at most, so %d are read.",
                                         claimed, kMaxWvEntries, wanted));
    int read = 0;
    unsigned char record[kWvEntryBytes];
    while (read < wanted && std::fread(record, 1, sizeof record, file.get()) == sizeof record) {
        wvTable.Data[read++] = WvEntry{BitsFloat(GetU32(record)),
                                       static_cast<int32_t>(GetU32(record + 4)),
                                       BitsFloat(GetU32(record + 8))};
    }
    if (read < wanted)
        ui::MessagePopup("Error", Format("Wv.ini ends after %d of its %d wavelengths; the "
                                         "table keeps those that are there.",
                                         read, wanted));
    wvTable.nWV_FileIO = read;
    return 1;
}

int TestPanel() { return state.testpanel; }

int SettingsWavelengthList(int* panel) {
    return ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, MOTOR_PAGE_INDEX,
                                         panel);
}

}  // namespace

void ResetWvTable() { wvTable = WvTable{}; }

int ReadHeader(std::FILE* file) {
    char header[kWvHeaderBytes] = {};
    // A short header is parsed as far as it goes; the rest reads as zeros.
    const size_t got = std::fread(header, 1, sizeof header, file);
    (void)got;
    for (int slot = 0; slot < 10; ++slot) {
        char text[kWvSlotBytes + 1] = {};
        std::memcpy(text, header + kWvSlotBytes * slot, kWvSlotBytes);
        if (std::strncmp(text, kCountKey, kKeyLength) == 0)
            ReadSlotValue(text + kKeyLength, &wvTable.nWV_FileIO);
        else if (std::strncmp(text, kSelectKey, kKeyLength) == 0)
            ReadSlotValue(text + kKeyLength, &wvTable.CurrentSelectWV_FileIO);
        else if (std::strncmp(text, kStartKey, kKeyLength) == 0)
            ReadSlotValue(text + kKeyLength, &wvTable.StartingPos);
    }
    return 1;
}

int OpenFileF(const std::string& path) { return LoadTable(path, "Cannot open file Wv.ini"); }

int WriteHeader(std::FILE* file) {
    char header[kWvHeaderBytes] = {};
    std::snprintf(header, kWvSlotBytes, "NUMBER OF WV    = %d", wvTable.nWV_FileIO);
    std::snprintf(header + kWvSlotBytes, kWvSlotBytes, "CURRENT_SELECT  = %d",
                  wvTable.CurrentSelectWV_FileIO);
    std::snprintf(header + 2 * kWvSlotBytes, kWvSlotBytes, "STARTING POS    = %d",
                  wvTable.StartingPos);
    return std::fwrite(header, 1, sizeof header, file) == sizeof header ? 1 : 0;
}

int WriteFileF(const std::string& path) {
    File file = OpenHost(path, "wb");
    bool written = file != nullptr;
    if (written) {
        // Never more records than the table has room for.
        wvTable.nWV_FileIO = std::clamp(wvTable.nWV_FileIO, 0, kMaxWvEntries);
        written = WriteHeader(file.get()) == 1;
        unsigned char record[kWvEntryBytes];
        for (int i = 0; written && i < wvTable.nWV_FileIO; ++i) {
            const WvEntry& e = wvTable.Data[i];
            PutU32(record, FloatBits(e.wavelength));
            PutU32(record + 4, static_cast<uint32_t>(e.step));
            PutU32(record + 8, FloatBits(e.angle));
            written = std::fwrite(record, 1, sizeof record, file.get()) == sizeof record;
        }
        written = std::fclose(file.release()) == 0 && written;
    }
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
                           Format("%f", static_cast<double>(wvTable.Data[i].wavelength)), i);
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
                           Format("%f", static_cast<double>(wvTable.Data[i].wavelength)), i);
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
