// The camera switch, the cooling controls, the camera choice, the about box
// and the cameras' part of quitting, driven through PELU_dbg's panels.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "camera/camera.h"
#include "control/callbacks.h"
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

using ui::testing::Eventually;

int Ignore(int, int, int, void*, int, int) { return 0; }
void IgnoreMenu(int, int, void*, int) {}

// Devices these tests do not use still have callbacks in PELU.uir: bind every
// name to a no-op first, the program's own registration then replaces them.
void BindEveryCallbackName() {
    nlohmann::json uir = nlohmann::json::parse(std::ifstream(os::ExecutableDirectory() + "/PELU.uir"));
    std::function<void(const nlohmann::json&, bool)> walk = [&](const nlohmann::json& j, bool menu) {
        if (j.is_object()) {
            if (j.contains("callback") && j["callback"].is_string()) {
                if (menu)
                    ui::RegisterMenuCallback(j["callback"].get<std::string>(), IgnoreMenu);
                else
                    ui::RegisterCallback(j["callback"].get<std::string>(), Ignore);
            }
            for (const auto& [key, value] : j.items()) walk(value, menu || key == "menubars");
        } else if (j.is_array()) {
            for (const auto& value : j) walk(value, menu);
        }
    };
    walk(uir, false);
}

class CameraControlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        ResetCameraGlobals();
        camsim::Reset(camsim::Config{});
        BindEveryCallbackName();
        RegisterControlCallbacks();
        program = std::thread([] { PELU_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void TearDown() override {
        ccd.temp_thread = 1;  // a watch left running would keep the program from ending
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        ResetCameraGlobals();
        camsim::Reset(camsim::Config{});
    }
    // Runs the script and waits until the work it started (a switch, the
    // settings OK) has ended: these tests look at what the work did.
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text + "\nexpect idle\n");
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    int MenuDimmed(int item) {
        int dimmed = -1;
        ui::GetMenuBarAttribute(state.menubar, item, ui::ATTR_DIMMED, &dimmed);
        return dimmed;
    }

    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
};

TEST_F(CameraControlsTest, SwitchOnOpensBothCamerasLeavesCoolersOffAndSwitchOffClosesThem) {
    Script("commit MAIN.CCD_TOGGLE\n");
    EXPECT_EQ(state.CCD_status, kDeviceOn);
    EXPECT_NE(Status().find("\n2 Two Cameras Detected!!\n"), std::string::npos);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_CCD_LED), 1);
    std::string label;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "CCD On");
    EXPECT_EQ(MenuDimmed(MENUBAR_FILE_SAVE), 0);
    EXPECT_EQ(MenuDimmed(MENUBAR_SETUP_TEST), 0);
    EXPECT_FALSE(camsim::Inspect(0).coolerOn);
    EXPECT_FALSE(camsim::Inspect(1).coolerOn);

    camsim::ClearTrace();
    Script("commit MAIN.CCD_TOGGLE\n");
    EXPECT_EQ(state.CCD_status, kDeviceOff);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_CCD_LED), 0);
    ui::GetCtrlAttribute(state.mainPanel, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "CCD Off");
    EXPECT_EQ(MenuDimmed(MENUBAR_FILE_SAVE), 1);
    EXPECT_FALSE(camsim::Inspect(0).initialized);
    EXPECT_FALSE(camsim::Inspect(1).initialized);
    const auto trace = camsim::Trace();
    int warm = -1, shut1 = -1, shut2 = -1;
    for (int i = 0; i < int(trace.size()); ++i) {
        if (warm < 0 && trace[size_t(i)].text == "SetTemperature(10)") warm = i;
        if (trace[size_t(i)].text == "ShutDown()") (shut1 < 0 ? shut1 : shut2) = i;
    }
    ASSERT_GE(warm, 0);
    EXPECT_GT(shut1, warm);
    EXPECT_EQ(trace[size_t(shut1)].handle, camsim::HandleOfIndex(0));
    EXPECT_EQ(trace[size_t(shut2)].handle, camsim::HandleOfIndex(1));
}

// A switch-on that failed leaves lamp, label and flag at "off", says why in
// the status box and in a box, and starts no cooling.
TEST_F(CameraControlsTest, FailedSwitchOnShowsTheCamerasOffAndSaysWhy) {
    const auto expectOff = [this] {
        EXPECT_NE(state.CCD_status, kDeviceOn);
        EXPECT_EQ(GetInt(state.mainPanel, MAIN_CCD_LED), 0);
        EXPECT_EQ(GetInt(state.mainPanel, MAIN_CCD_TOGGLE), 0);
        std::string label;
        ui::GetCtrlAttribute(state.mainPanel, MAIN_CCD_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
        EXPECT_EQ(label, "CCD Off");
        EXPECT_EQ(MenuDimmed(MENUBAR_FILE_SAVE), 1);
    };
    camsim::Config none;
    none.cameras = 0;
    camsim::Reset(none);
    Script("commit MAIN.CCD_TOGGLE\n");
    expectOff();
    const std::string noCamera =
        "The camera was not switched on: no camera was detected. Check that the cameras are "
        "powered and their cables are connected.";
    EXPECT_NE(Status().find("\n" + noCamera + "\n"), std::string::npos) << Status();
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(frontEnd.Popups()[0].title, "Error");
    EXPECT_EQ(frontEnd.Popups()[0].text, noCamera);

    // The second camera does not initialise: not "on" with one camera missing.
    camsim::Reset(camsim::Config{});
    camsim::Fault fault;
    fault.call = "Initialize";
    fault.after = 1;
    camsim::AddFault(fault);
    frontEnd.ClearPopups();
    Script("commit MAIN.CCD_TOGGLE\n");
    expectOff();
    EXPECT_NE(Status().find("camera 2 did not initialise"), std::string::npos) << Status();
    EXPECT_EQ(Status().find("\nCamera2 Open Complete!!\n"), std::string::npos);
    ASSERT_FALSE(frontEnd.Popups().empty());
    EXPECT_EQ(frontEnd.Popups()[0].text, "Initialize Error");
    EXPECT_FALSE(camsim::Inspect(0).coolerOn);
}

TEST_F(CameraControlsTest, CoolingControlsWriteTheirLinesAndStartTheWatch) {
    Script(R"(
commit MAIN.CCD_TOGGLE
commit MAIN.TEST
set TEST.COOLER1 "Cooler off"
set TEST.COOLER2 "Cooler off"
commit TEST.SETCOOLER
)");
    EXPECT_EQ(GetText(state.testpanel, TEST_COOLSTATUS), "CCD Cooling Status\n\nCamera 1,2 off!\n");
    // Camera 1's cooler stays off, so the watch runs on until the warm-up
    // of the quit ends it (the quit runs while setCooler still waits).
    Script(R"(
set TEST.COOLER2 "Cooling on"
set TEST.TEMP2 15
commit TEST.SETCOOLER
expect status "CCD1: 20 C CCD2: 15 C"
)");
    const std::string cooling = GetText(state.testpanel, TEST_COOLSTATUS);
    EXPECT_NE(cooling.find("CCD Cooling Status\n\nCamera 2 Cooler On!\nCooling Temperature : 15\n"),
              std::string::npos);
    EXPECT_TRUE(camsim::Inspect(1).coolerOn);
    EXPECT_EQ(camsim::Inspect(1).setPoint, 15);
    EXPECT_FALSE(camsim::Inspect(0).coolerOn);
    EXPECT_EQ(ccd.temp_thread, 0);
    Script("quit\n");
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); }, std::chrono::seconds(60)));
    program.join();
    EXPECT_EQ(ccd.temp_thread, 1);
    EXPECT_FALSE(camsim::Inspect(1).initialized);
}

TEST_F(CameraControlsTest, ARefusedCoolerCommandIsSaidWhereTheCoolingLinesAre) {
    Script("commit MAIN.CCD_TOGGLE\ncommit MAIN.TEST\n");
    camsim::Fault fault;
    fault.call = "CoolerON";
    camsim::AddFault(fault);
    frontEnd.ClearPopups();
    Script(
        "set TEST.COOLER1 \"Cooling on\"\nset TEST.COOLER2 \"Cooling on\"\ncommit "
        "TEST.SETCOOLER\n");
    const std::string cooling = GetText(state.testpanel, TEST_COOLSTATUS);
    EXPECT_NE(cooling.find("The cooler setting was not applied"), std::string::npos) << cooling;
    EXPECT_EQ(cooling.find("Cooler On!"), std::string::npos) << "a refused cooler is not on";
    EXPECT_NE(Status().find("The cooler setting was not applied"), std::string::npos);
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(frontEnd.Popups()[0].title, "Error");
    EXPECT_FALSE(camsim::Inspect(0).coolerOn);
}

TEST_F(CameraControlsTest, FlatFieldingChoiceClearsAndDimsTheTarget) {
    Script(R"(
commit MAIN.CCD_TOGGLE
commit MAIN.SETUP
set OBS_PAGE.TARGET "Sunspot"
set CAMERA_PAGE.CAMERA "Flat Fielding"
commit CAMERA_PAGE.CAMERA
)");
    int observation = 0;
    ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, OBS_PAGE_INDEX, &observation);
    EXPECT_EQ(state.ccd_camera, kFlatFielding);
    EXPECT_EQ(GetInt(observation, OBS_PAGE_TARGET), -1);
    int dimmed = 0;
    ui::GetCtrlAttribute(observation, OBS_PAGE_TARGET, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    Script(R"(
set CAMERA_PAGE.CAMERA "CCD 2"
commit CAMERA_PAGE.CAMERA
)");
    ui::GetCtrlAttribute(observation, OBS_PAGE_TARGET, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0);
}

TEST_F(CameraControlsTest, SettingsOkConfiguresTheChosenCamera) {
    Script(R"(
commit MAIN.CCD_TOGGLE
commit MAIN.SETUP
set CAMERA_PAGE.CAMERA "CCD 2"
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 4
set CAMERA_PAGE.BINNING "2 x 2"
commit SETTINGS.OK
)");
    EXPECT_EQ(state.nhDim2, 251);  // (1004 / 2) / 2
    EXPECT_EQ(state.nvDim2, 250);
    EXPECT_EQ(state.g_pRawData2.size(), 4u * 251u * 250u);
    EXPECT_FALSE(state.g_pRawData);
    EXPECT_EQ(camsim::Inspect(1).hbin, 4);
    int32_t current = 0;
    GetCurrentCamera(&current);
    EXPECT_EQ(current, camsim::HandleOfIndex(1));
}

TEST_F(CameraControlsTest, AboutShowsBothReports) {
    Script("commit MAIN.CCD_TOGGLE\nmenu HELP.ABOUT\n");
    const std::string info = GetText(state.aboutPanel, ABOUT_INFO);
    const size_t ccd1 = info.find("============CCD1===========\nHead Model : EMCCD-512-BV\n");
    const size_t ccd2 = info.find("============CCD2===========\nHead Model : EMCCD-1004-FT\n");
    EXPECT_NE(ccd1, std::string::npos);
    EXPECT_NE(ccd2, std::string::npos);
    EXPECT_LT(ccd1, ccd2);
}

TEST_F(CameraControlsTest, AboutNamesTheLibraryOfEveryDevice) {
    Script("commit MAIN.CCD_TOGGLE\nmenu HELP.ABOUT\n");
    const std::string info = GetText(state.aboutPanel, ABOUT_INFO);
    const std::string here = os::ExecutableDirectory();
    EXPECT_NE(info.find("============Devices===========\nCamera library: " + here +
                        "/libpelu_camsim.so (simulator, version 1.0)\n"
                        "Scanner library: " + here + "/libpelu_pmac.so (simulator, not loaded)\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Motor library: " + here + "/libpelu_6k.so (simulator"),
              std::string::npos);
}

// A site's devices.ini for one test, in the working directory.
class SiteFile {
public:
    explicit SiteFile(const std::string& text) { std::ofstream("devices.ini") << text; }
    ~SiteFile() { std::remove("devices.ini"); }
};

TEST_F(CameraControlsTest, SiteCameraLibraryFromDevicesIniServesTheCameras) {
    SiteFile site(std::string("# the site's cameras\ncamera = ") + EXAMPLE_CAMERA_LIBRARY + "\n");
    camsim::Reset(camsim::Config{});  // the example library's cameras, fresh
    Script("commit MAIN.CCD_TOGGLE\nmenu HELP.ABOUT\n");
    EXPECT_NE(Status().find(std::string("\nCamera library: ") + EXAMPLE_CAMERA_LIBRARY +
                            " (site library from devices.ini, version example 1.0)\n"),
              std::string::npos)
        << Status();
    EXPECT_EQ(state.CCD_status, kDeviceOn);
    EXPECT_EQ(state.g_nXPixels1, 256);
    EXPECT_EQ(state.g_nYPixels2, 256);
    const std::string info = GetText(state.aboutPanel, ABOUT_INFO);
    EXPECT_NE(info.find("Head Model : EXAMPLE-256\n"), std::string::npos) << info;
    EXPECT_TRUE(camsim::Inspect(0).initialized);
    // The simulator beside the program was never asked.
    setenv("PELU_CAMERA_LIBRARY", (os::ExecutableDirectory() + "/libpelu_camsim.so").c_str(), 1);
    EXPECT_FALSE(camsim::Inspect(0).initialized);
    unsetenv("PELU_CAMERA_LIBRARY");
}

TEST_F(CameraControlsTest, RefusedCameraLibraryLeavesTheCamerasOff) {
    setenv("PELU_CAMERA_LIBRARY", INCOMPLETE_LIBRARY, 1);
    Script("commit MAIN.CCD_TOGGLE\n");
    unsetenv("PELU_CAMERA_LIBRARY");
    const auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Camera");
    EXPECT_NE(popups[0].text.find(std::string("Camera library ") + INCOMPLETE_LIBRARY +
                                  " lacks the function GetAvailableCameras"),
              std::string::npos)
        << popups[0].text;
    EXPECT_NE(Status().find("the cameras stay off"), std::string::npos);
    EXPECT_NE(state.CCD_status, kDeviceOn);
    EXPECT_EQ(state.nNumberOfCameras, 0);
    // Nothing is bound: a camera call reaches no library.
    int status = 0;
    EXPECT_EQ(GetStatus(&status), DRV_NOT_INITIALIZED);
    // The next switch-on, with the library fixed, binds the simulator again.
    camsim::ClearTrace();
    Script("commit MAIN.CCD_TOGGLE\n");
    EXPECT_EQ(state.nNumberOfCameras, 2);
}

TEST_F(CameraControlsTest, QuitWarmsAndClosesTheCameras) {
    Script("commit MAIN.CCD_TOGGLE\n");
    camsim::ClearTrace();
    Script("quit\n");
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); }));
    program.join();
    EXPECT_FALSE(camsim::Inspect(0).initialized);
    EXPECT_FALSE(camsim::Inspect(1).initialized);
    EXPECT_EQ(state.CCD_status, kDeviceOff);
    EXPECT_EQ(camsim::TraceTexts()[1], "SetTemperature(10)");
}

}  // namespace
}  // namespace pelu
