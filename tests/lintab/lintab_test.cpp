// The wavelength table editor, driven through its panel as an observer would.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "lintab/LintabFunc.h"
#include "motors/wv_file.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "resources/lintab_uir.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu::lintab {
namespace {

using ui::testing::Eventually;

TEST(AngleStep, TheReferenceLineLandsOnTheFirstEntrysStep) {
    ResetWavelengthTable();
    for (int step0 : {0, 20000, -500}) {
        wvTable.Data[0].step = step0;
        double angle = 0;
        int step = 0;
        ASSERT_EQ(AngleStepCalculating(6562.8f, 34, &angle, &step), 1);
        EXPECT_NEAR(angle, 61.8098, 5e-5);
        EXPECT_EQ(step, step0) << "with entry 0 at " << step0;
    }
}

TEST(AngleStep, LargerWavelengthOrOrderGivesALargerAngleAndStep) {
    ResetWavelengthTable();
    wvTable.Data[0].step = 20000;
    double refAngle, angle;
    int refStep, step;
    AngleStepCalculating(6562.8f, 34, &refAngle, &refStep);
    AngleStepCalculating(6563.8f, 34, &angle, &step);
    EXPECT_GT(angle, refAngle);
    // Each degree is 1820.41... steps before truncation toward zero.
    EXPECT_EQ(step, static_cast<int>(20000 + 6553.5 / 3.6 * (angle - refAngle)));
    EXPECT_GT(step, refStep);
    AngleStepCalculating(6562.8f, 35, &angle, &step);
    EXPECT_GT(angle, refAngle);
    EXPECT_GT(step, refStep);
    // 8542 A in order 26: the other camera's line.
    ASSERT_EQ(AngleStepCalculating(8542.0f, 26, &angle, &step), 1);
    EXPECT_NEAR(angle, std::asin(0.001 * (0.0001 * 26 * 8542.0 / 2) * 79) * 180 / 3.141592, 1e-9);
}

TEST(AngleStep, BeyondTheGratingsRangeNothingIsComputed) {
    double angle = -1;
    int step = -1;
    EXPECT_EQ(AngleStepCalculating(9000.0f, 40, &angle, &step), 0);  // sine 1.42
    EXPECT_EQ(angle, -1);
    EXPECT_EQ(step, -1);
}

class LintabTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        folder = std::filesystem::temp_directory_path() /
                 ("lintab-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ResetWavelengthTable();
        RegisterLintabCallbacks();
        program = std::thread([this] { result = Lintab_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void TearDown() override {
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    template <class T>
    T Cell(int column, int row) {
        T value{};
        ui::GetTableCellVal(panelHandle, PANEL_WVTABLE, ui::MakePoint(column, row), &value);
        return value;
    }
    int Rows() {
        int rows = 0;
        ui::GetCtrlAttribute(panelHandle, PANEL_WVTABLE, ui::ATTR_NUM_ROWS, &rows);
        return rows;
    }
    std::string MessageText() {
        std::string text;
        ui::GetCtrlVal(panelHandle, PANEL_MESSAGE, &text);
        return text;
    }
    // A Wv.ini of two entries, the first at step 20000.
    void WriteExampleFile() {
        ResetWavelengthTable();
        wvTable.nWV_FileIO = 2;
        wvTable.CurrentSelectWV_FileIO = 1;
        wvTable.Data[0] = {6562.8f, 34, 20000, {1, 2, 3, 4}, 61.8098};
        wvTable.Data[1] = {8542.0f, 26, 31000, {}, 62.5};
        ASSERT_EQ(WriteFileF(kLintabWriteFailure), 1);
        ResetWavelengthTable();
    }

    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
    std::atomic<int> result{-99};
    std::filesystem::path previous, folder;
};

TEST_F(LintabTest, StartsEmptyAndInsertOnAnEmptyTableGivesARowOfZeros) {
    EXPECT_EQ(Rows(), 0);
    Script("commit PANEL.INSERTBTN\n");
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 1);
    EXPECT_EQ(Cell<double>(1, 1), 0.0);
    EXPECT_EQ(Cell<int>(4, 1), 0);
}

TEST_F(LintabTest, TypingAWavelengthAndOrderShowsAngleAndStep) {
    WriteExampleFile();
    Script(R"(
commit PANEL.RELOADBTN
commit PANEL.INSERTBTN
cell PANEL.WVTABLE 3 1 6562.8
cell PANEL.WVTABLE 3 2 34
)");
    EXPECT_NEAR(Cell<double>(3, 3), 61.8098, 5e-5);
    EXPECT_EQ(Cell<int>(4, 3), 20000);  // the reference line sits on entry 0's step
    Script("cell PANEL.WVTABLE 3 1 9000\ncell PANEL.WVTABLE 3 2 40\n");
    EXPECT_NE(MessageText().find("beyond the grating's range"), std::string::npos);
    EXPECT_EQ(Cell<int>(4, 3), 20000);  // left as it was
}

TEST_F(LintabTest, SaveThenReloadRoundTripsTheTable) {
    WriteExampleFile();
    Script(R"(
commit PANEL.RELOADBTN
cell PANEL.WVTABLE 2 1 8498.02
cell PANEL.WVTABLE 2 2 27
commit PANEL.SAVEBTN
)");
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF(), 1);  // the acquisition program's reader
    EXPECT_EQ(wvTable.nWV_FileIO, 2);
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 1);  // kept as read
    EXPECT_FLOAT_EQ(wvTable.Data[1].wavelength, 8498.02f);
    EXPECT_EQ(wvTable.Data[1].order, 27);
    EXPECT_EQ(wvTable.Data[0].reserved, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(wvTable.Data[0].step, 20000);
    EXPECT_EQ(std::filesystem::file_size(folder / "Wv.ini"), 2000u + 2 * 24);
}

TEST_F(LintabTest, ReloadWithoutAFileSaysSoAndShowsTheTableInMemory) {
    Script("commit PANEL.INSERTBTN\ncommit PANEL.RELOADBTN\n");
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Error");
    EXPECT_EQ(popups[0].text, "Cannot open file Wv.ini");
    EXPECT_EQ(Rows(), 1);
}

TEST_F(LintabTest, AFullTableTakesNoFurtherRow) {
    for (int i = 0; i < kMaxWvRecords; ++i) Script("commit PANEL.INSERTBTN\n");
    EXPECT_EQ(Rows(), kMaxWvRecords);
    Script("commit PANEL.INSERTBTN\n");
    EXPECT_EQ(Rows(), kMaxWvRecords);
    EXPECT_EQ(wvTable.nWV_FileIO, kMaxWvRecords);
    EXPECT_NE(MessageText().find("at most 50"), std::string::npos);
}

TEST_F(LintabTest, SavingATableNeverLoadedOverAFilledWvIniAsksFirst) {
    WriteExampleFile();
    const auto before = std::filesystem::file_size(folder / "Wv.ini");
    // Save without Reload: the question comes, "no" keeps the file.
    frontEnd.QueueConfirmAnswer(false);
    Script("commit PANEL.INSERTBTN\ncommit PANEL.SAVEBTN\n");
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Save");
    EXPECT_NE(popups[0].text.find("Wv.ini holds 2 wavelengths"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(folder / "Wv.ini"), before);
    EXPECT_EQ(wvTable.nWV_FileIO, 1);  // the table being edited is left alone
    EXPECT_NE(MessageText().find("Not saved"), std::string::npos);
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF(), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 2);

    // "yes" replaces the file with the rows shown, as asked.
    ResetWavelengthTable();
    wvTable.nWV_FileIO = 1;
    frontEnd.QueueConfirmAnswer(true);
    Script("commit PANEL.SAVEBTN\n");
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF(), 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 1);
}

TEST_F(LintabTest, SavingAfterReloadOrOverAnEmptyFileAsksNothing) {
    WriteExampleFile();
    Script("commit PANEL.RELOADBTN\ncommit PANEL.SAVEBTN\n");
    EXPECT_TRUE(frontEnd.Popups().empty());
    std::filesystem::remove(folder / "Wv.ini");
    ResetWavelengthTable();
    // No file yet: a first table is saved without a question.
    Script("commit PANEL.INSERTBTN\ncommit PANEL.SAVEBTN\n");
    EXPECT_TRUE(frontEnd.Popups().empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "Wv.ini"));
}

TEST_F(LintabTest, ExitWithUnsavedChangesAsks) {
    WriteExampleFile();
    frontEnd.QueueConfirmAnswer(false);
    Script("commit PANEL.RELOADBTN\ncommit PANEL.INSERTBTN\ncommit PANEL.EXIT\n");
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Exit");
    EXPECT_TRUE(ui::detail::DispatcherRunning());
    EXPECT_EQ(Rows(), 3);
    // Saved, it leaves without a question; so does the close box.
    Script("commit PANEL.SAVEBTN\nclose PANEL\n");
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); }));
    program.join();
    EXPECT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(result.load(), 0);
}

TEST_F(LintabTest, ExitEndsTheProgram) {
    Script("commit PANEL.EXIT\n");
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); }));
    program.join();
    EXPECT_EQ(result.load(), 0);
}

}  // namespace
}  // namespace pelu::lintab
