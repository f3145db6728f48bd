// The one-camera program's Wv.ini layout and the wavelength list of its
// device test panel.
#include <gtest/gtest.h>

#include <cstring>

#include "earlier/wv_earlier.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
#include "tests/earlier/earlier_fixture.h"

namespace pelu::earlier {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

// The panels of PELU.uir with the wavelength-list callbacks bound; callbacks
// of the other sections do nothing here.
class WvEarlierTest : public testing::EarlierTest {
protected:
    void SetUp() override {
        EarlierTest::SetUp();
        testing::RegisterInertCallbacks("PELU.uir");
        ui::RegisterCallback("WvListBoxF", WvListBoxF);
        ui::RegisterCallback("InsertBTNF", InsertBTNF);
        ui::RegisterCallback("DelBTNF", DelBTNF);
        ui::RegisterCallback("WriteFileBTNF", WriteFileBTNF);
        state.testpanel = ui::LoadPanel(0, "PELU.uir", TEST_RESOURCE);
        state.PELUpanelSetting = ui::LoadPanel(0, "PELU.uir", SETTINGS_RESOURCE);
        ASSERT_GT(state.testpanel, 0) << ui::LastLoadError();
        ASSERT_GT(state.PELUpanelSetting, 0) << ui::LastLoadError();
        ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, MOTOR_PAGE_INDEX,
                                      &motorPage);
    }
    void SetTable(std::initializer_list<WvEntry> entries, int selected = 0, int start = 0) {
        ResetWvTable();
        for (const WvEntry& e : entries) wvTable.Data[wvTable.nWV_FileIO++] = e;
        wvTable.CurrentSelectWV_FileIO = selected;
        wvTable.StartingPos = start;
    }
    void Enter(double wavelength, int step, double angle) {
        ui::SetCtrlVal(state.testpanel, TEST_WV_WAVELENGTH, wavelength);
        ui::SetCtrlVal(state.testpanel, TEST_WV_STEP, step);
        ui::SetCtrlVal(state.testpanel, TEST_WV_ANGLE, angle);
    }
    void Press(ui::CtrlCallbackPtr callback, int control) {
        callback(state.testpanel, control, ui::EVENT_COMMIT, nullptr, 0, 0);
    }
    std::vector<std::string> Labels(int panel, int control) {
        int n = 0;
        ui::GetNumListItems(panel, control, &n);
        std::vector<std::string> labels(n);
        for (int i = 0; i < n; ++i) ui::GetLabelFromIndex(panel, control, i, &labels[i]);
        return labels;
    }
    int motorPage = 0;
};

TEST_F(WvEarlierTest, ThreeEntriesMake1036BytesAndReadBackExactly) {
    SetTable({{6562.8f, 120000, 31.25f}, {5889.95f, -4500, 27.5f}, {8542.09f, 7, 45.125f}}, 2,
             1234);
    ASSERT_EQ(WriteFileF(Path("Wv.ini")), 1);
    const auto file = ReadBytes(Path("Wv.ini"));
    ASSERT_EQ(file.size(), 1036u);
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data()), "NUMBER OF WV    = 3");
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 100), "CURRENT_SELECT  = 2");
    EXPECT_STREQ(reinterpret_cast<const char*>(file.data() + 200), "STARTING POS    = 1234");
    for (int i = 300; i < 1000; ++i) ASSERT_EQ(file[i], 0) << i;
    // Second record: float32, int32, float32, little-endian.
    float w = 0, a = 0;
    int32_t s = 0;
    std::memcpy(&w, file.data() + 1012, 4);
    std::memcpy(&s, file.data() + 1016, 4);
    std::memcpy(&a, file.data() + 1020, 4);
    EXPECT_EQ(w, 5889.95f);
    EXPECT_EQ(s, -4500);
    EXPECT_EQ(a, 27.5f);

    const WvTable written = wvTable;
    ResetWvTable();
    ASSERT_EQ(OpenFileF(Path("Wv.ini")), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 3);
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 2);
    EXPECT_EQ(wvTable.StartingPos, 1234);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(wvTable.Data[i].wavelength, written.Data[i].wavelength);
        EXPECT_EQ(wvTable.Data[i].step, written.Data[i].step);
        EXPECT_EQ(wvTable.Data[i].angle, written.Data[i].angle);
    }
    EXPECT_TRUE(Popups().empty());
}

TEST_F(WvEarlierTest, BadFilesNeverOverrunTheTable) {
    // A count of 14 with 14 records present: 10 are read and a popup says so.
    std::vector<unsigned char> file(1000 + 14 * 12, 0);
    std::strcpy(reinterpret_cast<char*>(file.data()), "NUMBER OF WV    = 14");
    for (int i = 0; i < 14; ++i) {
        const float w = 5000.0f + float(i);
        std::memcpy(file.data() + 1000 + 12 * i, &w, 4);
    }
    WriteBytes(Path("Wv.ini"), file);
    ASSERT_EQ(OpenFileF(Path("Wv.ini")), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 10);
    EXPECT_EQ(wvTable.Data[9].wavelength, 5009.0f);
    ASSERT_EQ(Popups().size(), 1u);
    EXPECT_NE(Popups()[0].text.find("14 wavelengths"), std::string::npos) << Popups()[0].text;

    // Writing never goes past the table either.
    wvTable.nWV_FileIO = 12;
    ASSERT_EQ(WriteFileF(Path("Wv2.ini")), 1);
    EXPECT_EQ(ReadBytes(Path("Wv2.ini")).size(), 1000u + 10 * 12);

    // A file cut short keeps what it holds; a negative count reads nothing.
    file.resize(1000 + 2 * 12 + 5);
    WriteBytes(Path("Wv.ini"), file);
    frontEnd.ClearPopups();
    ASSERT_EQ(OpenFileF(Path("Wv.ini")), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 2);
    ASSERT_EQ(Popups().size(), 2u);  // too many claimed, and fewer there
    EXPECT_NE(Popups()[1].text.find("ends after 2 of its 10"), std::string::npos);
    std::strcpy(reinterpret_cast<char*>(file.data()), "NUMBER OF WV    = -4");
    WriteBytes(Path("Wv.ini"), file);
    ASSERT_EQ(OpenFileF(Path("Wv.ini")), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 0);
}

TEST_F(WvEarlierTest, MissingFileKeepsTheTableAndSaysWhich) {
    SetTable({{6000.0f, 1, 2.0f}});
    EXPECT_EQ(OpenFileF(Path("none.ini")), 0);
    EXPECT_EQ(LastPopupText(), "Error: Cannot open file Wv.ini");
    EXPECT_EQ(InitWvRing(Path("none.ini")), 0);
    EXPECT_EQ(LastPopupText(), "Error: Cannot open file Wv.ini.");
    EXPECT_EQ(wvTable.nWV_FileIO, 1);
    EXPECT_EQ(wvTable.Data[0].wavelength, 6000.0f);
    EXPECT_EQ(WriteFileF(Path("no/folder/Wv.ini")), 0);
    EXPECT_EQ(LastPopupText(), "Error: Cannot open file Wv.ini");
}

TEST_F(WvEarlierTest, InsertOverwritesAnExistingWavelengthOrAppends) {
    SetTable({{6562.5f, 100, 30.0f}, {5890.0f, 200, 25.0f}}, 1, 55);
    InitPanel();
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_COUNT), 2);
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_START), 55);
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_SELECT), 1);

    Enter(5890.0, 333, 26.5);
    Press(InsertBTNF, TEST_WV_INSERT);
    EXPECT_EQ(wvTable.nWV_FileIO, 2);
    EXPECT_EQ(wvTable.Data[1].step, 333);
    EXPECT_EQ(wvTable.Data[1].angle, 26.5f);
    EXPECT_EQ(wvTable.Data[0].step, 100);

    Enter(8542.0, -7, 40.25);
    Press(InsertBTNF, TEST_WV_INSERT);
    EXPECT_EQ(wvTable.nWV_FileIO, 3);
    EXPECT_EQ(wvTable.Data[2].wavelength, 8542.0f);
    EXPECT_EQ(wvTable.Data[2].step, -7);
    EXPECT_EQ(Labels(state.testpanel, TEST_WVLIST),
              (std::vector<std::string>{"6562.50", "5890.00", "8542.00"}));
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_COUNT), 3);
}

TEST_F(WvEarlierTest, FullTableTakesNoNewEntryAndSaysWhy) {
    ResetWvTable();
    for (int i = 0; i < kMaxWvEntries; ++i)
        wvTable.Data[wvTable.nWV_FileIO++] = WvEntry{5000.0f + float(i), i, 1.0f};
    Enter(9000.0, 1, 1.0);
    Press(InsertBTNF, TEST_WV_INSERT);
    EXPECT_EQ(wvTable.nWV_FileIO, kMaxWvEntries);
    EXPECT_NE(LastPopupText().find("table is full"), std::string::npos) << LastPopupText();
    // An existing wavelength is still updated in a full table.
    frontEnd.ClearPopups();
    Enter(5003.0, 77, 2.0);
    Press(InsertBTNF, TEST_WV_INSERT);
    EXPECT_EQ(wvTable.Data[3].step, 77);
    EXPECT_TRUE(Popups().empty());
}

TEST_F(WvEarlierTest, DeleteMovesLaterEntriesDownAndNeverBelowZero) {
    SetTable({{1.0f, 1, 0}, {2.0f, 2, 0}, {3.0f, 3, 0}});
    ResetPanel();
    InitPanel();
    ui::SetCtrlIndex(state.testpanel, TEST_WVLIST, 0);
    Press(DelBTNF, TEST_WV_DELETE);
    EXPECT_EQ(wvTable.nWV_FileIO, 2);
    EXPECT_EQ(wvTable.Data[0].wavelength, 2.0f);
    EXPECT_EQ(wvTable.Data[1].wavelength, 3.0f);
    EXPECT_EQ(Labels(state.testpanel, TEST_WVLIST), (std::vector<std::string>{"2.00", "3.00"}));

    EXPECT_EQ(DelData(-1), 0);  // no row selected
    EXPECT_EQ(DelData(2), 0);   // past the end
    EXPECT_EQ(wvTable.nWV_FileIO, 2);
    ResetWvTable();
    ResetPanel();
    Press(DelBTNF, TEST_WV_DELETE);  // empty table, empty list
    EXPECT_EQ(wvTable.nWV_FileIO, 0);
}

TEST_F(WvEarlierTest, DoubleClickShowsTheEntryAndWriteRefreshesTheSettingsList) {
    SetTable({{6562.5f, 100, 30.0f}, {5890.0f, 200, 25.5f}}, 1);
    InitPanel();
    ui::SetCtrlIndex(state.testpanel, TEST_WVLIST, 1);
    WvListBoxF(state.testpanel, TEST_WVLIST, ui::EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_STEP), 0);  // only a double click shows it
    WvListBoxF(state.testpanel, TEST_WVLIST, ui::EVENT_LEFT_DOUBLE_CLICK, nullptr, 0, 0);
    EXPECT_EQ(GetInt(state.testpanel, TEST_WV_STEP), 200);
    EXPECT_DOUBLE_EQ(GetDouble(state.testpanel, TEST_WV_WAVELENGTH), 5890.0);
    EXPECT_DOUBLE_EQ(GetDouble(state.testpanel, TEST_WV_ANGLE), 25.5);

    // The write button saves Wv.ini in the working directory and reloads the
    // settings dialog's list with the stored selection.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    Press(WriteFileBTNF, TEST_WV_WRITE);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(ReadBytes(Path("Wv.ini")).size(), 1024u);
    EXPECT_EQ(Labels(motorPage, MOTOR_PAGE_WVLIST),
              (std::vector<std::string>{"6562.50", "5890.00"}));
    int index = -1;
    ui::GetCtrlIndex(motorPage, MOTOR_PAGE_WVLIST, &index);
    EXPECT_EQ(index, 1);
}

}  // namespace
}  // namespace pelu::earlier
