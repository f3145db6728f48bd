// Observation runs on the simulated cameras, driven through the panels.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "camera/camera.h"
#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu {
namespace {

namespace fs = std::filesystem;
using ui::testing::Eventually;

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("pelu-run-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        previous = fs::current_path();
        fs::current_path(folder);
        os::SetDriveFolder('E', (folder / "E").string());
        camsim::Reset(camsim::Config{});
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        RegisterControlCallbacks();
        RegisterDataCallbacks();
        RegisterMotorCallbacks();
        RegisterScannerCallbacks();
        program = std::thread([this] { result = PELU_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void TearDown() override {
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        os::SetDriveFolder('E', "");
        fs::current_path(previous);
        fs::remove_all(folder);
    }
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        // Simulated frames are rendered for real: a loaded machine takes a
        // while over a settings OK with its bias/dark series.
        ui::ScriptResult r = runner.RunText("timeout 6000\n" + text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    // Observation series written below E: (bias/dark and flat files excluded).
    std::vector<fs::path> SeriesFiles() {
        std::vector<fs::path> files;
        if (!fs::exists(folder / "E")) return files;
        const std::regex series(R"(_[AB](_\d+)?\.fts$)");
        for (const auto& entry : fs::recursive_directory_iterator(folder / "E"))
            if (std::regex_search(entry.path().filename().string(), series))
                files.push_back(entry.path());
        return files;
    }
    // Cameras on, then the settings given (script lines on the settings pages).
    void CamerasOnAndSettings(const std::string& settings) {
        Script("commit MAIN.CCD_TOGGLE\nexpect status \"Open Complete\"\ncommit MAIN.SETUP\n" +
               settings + "\ncommit SETTINGS.OK\n");
        // The OK's commit returns once it waits for its bias/dark series.
        ASSERT_TRUE(WorkDone());
    }
    // Long work (settings, a run) has ended: its controls are back.
    bool WorkDone() {
        return Eventually([] { return !ui::WorkInProgress(); }, std::chrono::seconds(600));
    }
    bool RunHasEnded() {
        return Eventually([] { return state.DataSource == 1; });
    }

    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
    std::atomic<int> result{-99};
    fs::path folder, previous;
};

TEST_F(RunTest, SingleFramesOfBothCamerasPerRepetitionUntilStop) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "Both CCDs(2CCD in 1 Step)"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 1
set CAMERA_PAGE.REPEAT 3
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    Script(R"script(
commit MAIN.RUN
expect value MAIN.SEQUENCE 1
commit MAIN.RUN
expect value MAIN.SEQUENCE 2
expect status "Repetition 2 of 3 done"
commit MAIN.STOP
)script");
    // Two repetitions, camera 1 then camera 2 in each; Stop ended the third.
    ASSERT_TRUE(Eventually([&] { return SeriesFiles().size() == 4; })) << SeriesFiles().size();
    EXPECT_EQ(state.DataSource, 1);
    int marked = -1;
    ui::GetMarkedOption(state.mainPanel, MAIN_VIEW, &marked);
    EXPECT_EQ(marked, 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_VIEW_CCD1), 1);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_VIEW_CCD2), 0);
}

TEST_F(RunTest, TheWindowAnswersDuringARunAndOnlyRunAndStopDecideBetweenRepetitions) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "CCD 1"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 1
set CAMERA_PAGE.REPEAT 3
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    EXPECT_TRUE(ui::testing::Eventually([] {
        int dimmed = 0;
        ui::GetCtrlAttribute(state.mainPanel, MAIN_STOP, ui::ATTR_DIMMED, &dimmed);
        return dimmed == 1;
    })) << "nothing to stop before a run";
    // The commit comes back while the run works; a click on Settings queued
    // now is dropped (Settings is dimmed while the run needs its buffers).
    Script("commit MAIN.RUN\n");
    ui::PostEvent(state.mainPanel, MAIN_SETUP, ui::EVENT_COMMIT);
    int visible = 1;
    Script(R"script(
expect status "Repetition 1 of 3 done"
expect value MAIN.PROGRESS_TEXT "Repetition 1 of 3 done: Run or Stop"
commit MAIN.TEST
)script");
    // Device test answered, and did not count as "go on".
    ui::GetPanelAttribute(state.testpanel, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
    ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0) << "the Settings click queued during the run acted";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(Status().find("Repetition 2 of 3 done"), std::string::npos) << Status();
    Script(R"script(
commit MAIN.RUN
expect status "Repetition 2 of 3 done"
commit MAIN.STOP
expect status "Run stopped after repetition 2 of 3."
)script");
    ASSERT_TRUE(WorkDone());
    EXPECT_EQ(SeriesFiles().size(), 2u);
    int dimmed = 0;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_STOP, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1) << "Stop stays enabled after the run";
    ui::GetCtrlAttribute(state.mainPanel, MAIN_SETUP, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0);
}

TEST_F(RunTest, QuitDuringTheSettingsOkShutsDownOnceTheyAreApplied) {
    Script(R"script(
commit MAIN.CCD_TOGGLE
expect status "Open Complete"
expect idle
commit MAIN.SETUP
set CAMERA_PAGE.CAMERA "Both CCDs(2CCD in 1 Step)"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 1
set CAMERA_PAGE.EXPOSURE 0.01
commit SETTINGS.OK
)script");
    // The OK is taking its bias/dark series: the close box asks to quit.
    ASSERT_TRUE(ui::WorkInProgress());
    ui::PostEvent(state.mainPanel, 0, ui::EVENT_CLOSE);
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); },
                           std::chrono::seconds(600)));
    program.join();
    // The main panel is gone with the program: the observing log keeps its lines.
    std::string status;
    for (const auto& entry : fs::directory_iterator(folder / "E" / "DRAV_Data"))
        if (entry.path().filename().string().rfind("ObservingLog_", 0) == 0) {
            std::ifstream in(entry.path());
            status.assign(std::istreambuf_iterator<char>(in), {});
        }
    // Both cameras were configured (each ends with its cycle time) before
    // the shutdown closed the first of them.
    const size_t quit = status.find("Quit: the program ends once applying the settings has stopped.");
    const size_t first = status.find("valid kinetic cycle time");
    const size_t second = status.find("valid kinetic cycle time", first + 1);
    const size_t shutDown = status.find("Complete Shut Down");
    ASSERT_NE(quit, std::string::npos) << status;
    ASSERT_NE(second, std::string::npos) << "the settings were not applied to the end\n" << status;
    ASSERT_NE(shutDown, std::string::npos) << status;
    EXPECT_LT(quit, second) << "the quit came after the settings anyway";
    EXPECT_LT(second, shutDown) << "a camera closed under its configuration";
    EXPECT_EQ(state.CCD_status, kDeviceOff);
}

TEST_F(RunTest, WithoutTheScannerOnlyFrameTransferTakesASeries) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "CCD 1"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 5
set CAMERA_PAGE.REPEAT 1
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    // The commit returns once the Run callback has: a refused run has said so.
    Script("commit MAIN.RUN\n");
    EXPECT_NE(GetText(state.mainPanel, MAIN_STATUS)
                  .find("\nRun not started: a series of 5 frames is taken at the scan steps and "
                        "the scanner is off."),
              std::string::npos);
    EXPECT_TRUE(SeriesFiles().empty()) << "take mode 1 without the scanner acquires nothing";

    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Frame transfer series"
commit SETTINGS.OK
commit MAIN.RUN
expect status "frames stored 5 of 5"
commit MAIN.STOP
)script");
    ASSERT_TRUE(Eventually([&] { return SeriesFiles().size() == 1; }));
}

TEST_F(RunTest, AFailedSaveEndsTheRunNamesTheFileAndKeepsTheFrames) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "CCD 1"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Frame transfer series"
set CAMERA_PAGE.FRAMES 3
set CAMERA_PAGE.REPEAT 2
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    ASSERT_FALSE(state.entire_directory.empty());
    fs::remove_all(folder / "E");  // the data folder is gone before the run saves
    frontEnd.ClearPopups();
    // The folder dialog the failure opens is cancelled: the frames stay in memory.
    Script(R"script(
answer folder cancel
commit MAIN.RUN
expect warning "The series of CCD 1 was not saved to E:\DRAV_Data\"
expect status "Run ended: the series of CCD 1 is in memory only."
expect popup "Run summary"
)script");
    ASSERT_TRUE(RunHasEnded());
    EXPECT_EQ(Status().find("frames stored"), std::string::npos) << "no second series replaced it";
    EXPECT_EQ(GetText(state.mainPanel, MAIN_SEQUENCE), "1");
    EXPECT_EQ(state.frames1.Stored(3), 3);
    const uint16_t* raw = state.g_pRawData.get();
    ASSERT_NE(raw, nullptr);
    EXPECT_TRUE(std::any_of(raw, raw + state.g_pRawData.size(), [](uint16_t v) { return v != 0; }));
    // The failure is counted on the main panel and summed up when the run ends.
    EXPECT_EQ(GetText(state.mainPanel, MAIN_WARN_SAVES), "1");
    const auto popups = frontEnd.Popups();
    ASSERT_GE(popups.size(), 2u);
    EXPECT_EQ(popups[0].kind, ui::PopupRecord::Kind::Folder);
    EXPECT_NE(popups[0].title.find("The series of CCD 1 was not saved"), std::string::npos);
    EXPECT_EQ(popups.back().title, "Run summary");
    EXPECT_NE(popups.back().text.find("1 product not saved"), std::string::npos)
        << popups.back().text;
}

TEST_F(RunTest, AFailedSaveIsSavedIntoTheFolderTheObserverChooses) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "CCD 1"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Frame transfer series"
set CAMERA_PAGE.FRAMES 3
set CAMERA_PAGE.REPEAT 1
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    fs::remove_all(folder / "E");
    const fs::path elsewhere = folder / "elsewhere";
    fs::create_directories(elsewhere);
    // A first choice that does not exist fails too; the second is taken.
    Script("answer folder " + (folder / "not-there").string() + "\nanswer folder " +
           elsewhere.string() + "\ncommit MAIN.RUN\nexpect status \"frames stored 3 of 3\"\n" +
           "commit MAIN.STOP\nexpect popup \"Run summary\"\n");
    std::vector<fs::path> saved;
    for (const auto& entry : fs::directory_iterator(elsewhere)) saved.push_back(entry.path());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(
        std::regex_search(saved[0].filename().string(), std::regex(R"(^PELU_\d{8}_\d{6}_A\.fts$)")))
        << saved[0];
    EXPECT_EQ(GetText(state.mainPanel, MAIN_WARN_SAVES), "2");
    const auto popups = frontEnd.Popups();
    ASSERT_FALSE(popups.empty());
    EXPECT_NE(popups.back().text.find("2 products not saved"), std::string::npos)
        << popups.back().text;
}

TEST_F(RunTest, ARunThatCannotDoAnythingSaysWhy) {
    Script(
        "commit MAIN.SETUP\ncommit SETTINGS.OK\ncommit MAIN.RUN\n"
        "expect status \"Run not started: the cameras are off. Switch them on (CCD switch), "
        "then apply the settings (OK).\"\n");
    EXPECT_TRUE(SeriesFiles().empty());
}

TEST_F(RunTest, AFlatRunWithoutItsBuffersIsRefusedAndSaysWhy) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "Flat Fielding"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 10
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    ASSERT_TRUE(state.BiasDark1);
    // Opening the dialog discards the bias/dark frames the flat run needs.
    Script("commit MAIN.SETUP\ncommit SETTINGS.CANCEL\n");
    state.Scanner_status = kDeviceOn;  // the dispatch of a scanning run, without a stage
    Script("commit MAIN.RUN\nexpect status \"Flat-field run refused\"\n");
    ASSERT_TRUE(WorkDone());
    EXPECT_TRUE(SeriesFiles().empty());
    state.Scanner_status = kDeviceNeverOpened;
}

TEST_F(RunTest, AChangedCameraChoiceWithoutOkIsRefused) {
    CamerasOnAndSettings(R"script(
set CAMERA_PAGE.CAMERA "CCD 1"
commit CAMERA_PAGE.CAMERA
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 1
set CAMERA_PAGE.REPEAT 1
set CAMERA_PAGE.EXPOSURE 0.01
)script");
    // The choice takes effect at once, but only camera 1's buffer was made.
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.CAMERA "CCD 2"
commit CAMERA_PAGE.CAMERA
commit SETTINGS.CANCEL
commit MAIN.RUN
expect status "Run refused: no frame buffer for CCD 2"
)script");
    ASSERT_TRUE(WorkDone());
    EXPECT_TRUE(SeriesFiles().empty());
}

}  // namespace
}  // namespace pelu
