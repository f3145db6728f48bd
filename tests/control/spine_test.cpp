// PELU_dbg's shell and settings dialog, driven as an observer would through
// scripts against the headless front-end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "control/callbacks.h"
#include "control/scanner_controls.h"
#include "data/directory.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu {
namespace {

using namespace std::chrono_literals;
using ui::testing::Eventually;

class SpineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        RegisterControlCallbacks();
        RegisterDataCallbacks();
        RegisterMotorCallbacks();
        RegisterScannerCallbacks();
    }
    void TearDown() override {
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
    }
    // Starts the program with the device flags given (the devices themselves
    // are not part of these tests).
    void Start(int ccd = kDeviceNeverOpened, int scanner = kDeviceNeverOpened,
               int motor = kDeviceNeverOpened) {
        state.CCD_status = ccd;
        state.Scanner_status = scanner;
        state.Motor_status = motor;
        program = std::thread([this] { result = PELU_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    bool Ended() {
        if (!Eventually([] { return !ui::detail::DispatcherRunning(); })) return false;
        program.join();
        return true;
    }
    // The scanner switch undims the scan-mode ring; these tests have no scanner.
    void UndimScanMode() {
        int scanner = 0;
        ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, SCANNER_PAGE_INDEX,
                                      &scanner);
        SetDimmed(scanner, SCANNER_PAGE_SCANMODE, false);
    }
    int CameraPage() {
        int page = 0;
        ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, CAMERA_PAGE_INDEX, &page);
        return page;
    }
    std::string Main(int control) { return GetText(state.mainPanel, control); }
    std::string Status() { return Main(MAIN_STATUS); }

    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
    std::atomic<int> result{-99};
};

TEST_F(SpineTest, StartUpLoadsEveryPanelAndShowsOnlyTheMainPanel) {
    Start();
    EXPECT_GT(state.mainPanel, 0);
    EXPECT_GT(state.PELUpanelSetting, 0);
    EXPECT_GT(state.testpanel, 0);
    EXPECT_GT(state.aboutPanel, 0);
    EXPECT_GT(state.menubar, 0);
    int visible = 0;
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 1);
    ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    EXPECT_EQ(state.panelwidth, 1240);
    EXPECT_EQ(state.panelheight, 790);
    int marked = -1;
    EXPECT_EQ(ui::GetMarkedOption(state.mainPanel, MAIN_VIEW, &marked), 0);  // a radio group now
    EXPECT_EQ(marked, 0);
    ui::GetCtrlAttribute(state.mainPanel, MAIN_SPLASH, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    // No device is opened at start-up.
    EXPECT_EQ(state.CCD_status, kDeviceNeverOpened);
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
    EXPECT_EQ(state.Motor_status, kDeviceNeverOpened);
}

TEST_F(SpineTest, StepDurationFollowsTheFramesPerStep) {
    Start(kDeviceOn);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.EXPOSURE 0.5
set CAMERA_PAGE.CAMERA "CCD 1"
commit SETTINGS.OK
)script");
    EXPECT_FLOAT_EQ(state.scan_duration, 570.0f);
    EXPECT_EQ(Main(MAIN_SUM_CAMERA), "CCD 1");
    EXPECT_EQ(Main(MAIN_SUM_EXPOSURE), "0.50");
    EXPECT_NE(Status().find("Set Current Camera 1\n"), std::string::npos);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.CAMERA "Both CCDs(2CCD in 1 Step)"
commit SETTINGS.OK
)script");
    EXPECT_FLOAT_EQ(state.scan_duration, 1070.0f);
    EXPECT_EQ(Main(MAIN_SUM_CAMERA), "Both CCDs(2CCD in 1 Step)");
    EXPECT_NE(Status().find("Use Both Cameras 2 frame in 1 step\n"), std::string::npos);
    int scanner = 0;
    ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, SCANNER_PAGE_INDEX, &scanner);
    EXPECT_DOUBLE_EQ(GetDouble(scanner, SCANNER_PAGE_STEPTIME), 1070.0);
}

TEST_F(SpineTest, TakeModesSetTheFrameCount) {
    Start(kDeviceOn);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Frame transfer series"
set CAMERA_PAGE.FRAMES 100
set CAMERA_PAGE.REPEAT 3
set CAMERA_PAGE.EXPOSURE 0.2
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.g_nFrameNumber1, 100);
    EXPECT_EQ(state.sequential_number, 3);
    EXPECT_EQ(Main(MAIN_SUM_FRAMES), "100");
    EXPECT_EQ(Main(MAIN_SUM_REPEAT), "3");
    EXPECT_EQ(Main(MAIN_SUM_TOTAL), "27.0");  // 0.001 x 270 ms x 100
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Accumulate"
set CAMERA_PAGE.FRAMES 7
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.g_nFrameNumber1, 100);  // take mode 2 keeps the frame count
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Live view"
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.g_nFrameNumber1, 0);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 7
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.g_nFrameNumber1, 7);
    // Text that is not a number is refused, not read as 0 (which would make
    // the next Run a live view).
    frontEnd.ClearPopups();
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.FRAMES many
commit SETTINGS.OK
)script");
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_NE(frontEnd.Popups()[0].text.find("Frames (scan steps): \"many\" is not a whole number"),
              std::string::npos);
    EXPECT_EQ(state.g_nFrameNumber1, 7);
}

TEST_F(SpineTest, BinningTableAndCustomBinning) {
    Start(kDeviceOn);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.BINNING "4 x 4"
commit CAMERA_PAGE.BINNING
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.ccd_HBin, 4);
    EXPECT_EQ(state.ccd_VBin, 4);
    EXPECT_EQ(Main(MAIN_SUM_BINNING), "4 x 4");
    int dimmed = 0;
    ui::GetCtrlAttribute(CameraPage(), CAMERA_PAGE_HBIN, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 1);
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.BINNING Custom
commit CAMERA_PAGE.BINNING
set CAMERA_PAGE.HBIN 3
set CAMERA_PAGE.VBIN 2
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.ccd_HBin, 3);
    EXPECT_EQ(state.ccd_VBin, 2);
    EXPECT_EQ(Main(MAIN_SUM_BINNING), "3 x 2");
}

TEST_F(SpineTest, SettingsThatWouldBreakLaterStepsAreRefusedAndTheOldOnesKept) {
    Start(kDeviceOn, kDeviceOn);
    UndimScanMode();
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.EXPOSURE 0.25
set CAMERA_PAGE.BINNING "2 x 2"
commit SETTINGS.OK
)script");
    ASSERT_EQ(state.ccd_HBin, 2);
    struct Case {
        std::string script;
        std::string popup;
    } cases[] = {
        {"set CAMERA_PAGE.BINNING Custom\ncommit CAMERA_PAGE.BINNING\nset CAMERA_PAGE.HBIN 0",
         "Custom horizontal binning: 0 is out of range; allowed: 1 to 2048."},
        {"set CAMERA_PAGE.BINNING Custom\ncommit CAMERA_PAGE.BINNING\nset CAMERA_PAGE.HBIN 1\n"
         "set CAMERA_PAGE.VBIN x",
         "Custom vertical binning: \"x\" is not a whole number; allowed: 1 to 2048."},
        {"set CAMERA_PAGE.BINNING \"1 x 1\"\nset CAMERA_PAGE.FRAMES -5",
         "Frames (scan steps): -5 is out of range; allowed: 0 to 100000."},
        // Text that is not a number is refused, never read as 0.
        {"set CAMERA_PAGE.FRAMES ten", "Frames (scan steps): \"ten\" is not a whole number"},
        {"set CAMERA_PAGE.FRAMES 2.5", "Frames (scan steps): \"2.5\" is not a whole number"},
        {"set CAMERA_PAGE.FRAMES 10\nset CAMERA_PAGE.EXPOSURE -1",
         "Exposure (s): -1 is out of range; allowed: 0 to 3600."},
        {"set CAMERA_PAGE.EXPOSURE fast", "Exposure (s): \"fast\" is not a number"},
        {"set CAMERA_PAGE.EXPOSURE nan", "Exposure (s): \"nan\" is not a number"},
        {"set CAMERA_PAGE.EXPOSURE 0.25\nset CAMERA_PAGE.GAIN 256",
         "Gain: 256 is out of range; allowed: 0 to 255."},
        {"set CAMERA_PAGE.GAIN 10\nset CAMERA_PAGE.EXPOSURE 1e999",
         "Exposure (s): \"1e999\" is not a number"},
        {"set CAMERA_PAGE.EXPOSURE 0.25\nset CAMERA_PAGE.FRAMES 10\nset SCANNER_PAGE.SCANMODE "
         "\"Imaging (continuous)\"\n"
         "commit SCANNER_PAGE.SCANMODE\nset SCANNER_PAGE.SPEED 0",
         "Imaging speed must be above 0 um/s."},
        {"set SCANNER_PAGE.SPEED 50\nset SCANNER_PAGE.DISTANCE -1",
         "Imaging distance must be above 0 mm."},
    };
    for (const Case& c : cases) {
        frontEnd.ClearPopups();
        Script("commit MAIN.SETUP\n" + c.script + "\ncommit SETTINGS.OK\n");
        auto popups = frontEnd.Popups();
        ASSERT_EQ(popups.size(), 1u) << c.script;
        EXPECT_EQ(popups[0].title, "Error");
        EXPECT_NE(popups[0].text.find(c.popup), std::string::npos) << popups[0].text;
        EXPECT_EQ(state.ccd_HBin, 2) << c.script;
        EXPECT_FLOAT_EQ(state.g_fExpTime1, 0.25f);
        int visible = 0;
        ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
        EXPECT_EQ(visible, 1) << "the dialog stays open for a correction";
    }
    // Corrected, the settings go through.
    Script("set SCANNER_PAGE.DISTANCE 2\ncommit SETTINGS.OK\n");
    EXPECT_FLOAT_EQ(state.scan_speed, 50.0f);
    EXPECT_FLOAT_EQ(state.scan_stroke, 2.0f);
    EXPECT_EQ(Main(MAIN_SUM_TOTAL), "0.0");  // 2 mm / 50 um/s, as the summary always showed it
    EXPECT_EQ(Main(MAIN_SUM_MODE), "Imaging");
}

TEST_F(SpineTest, SpectrographStepSizeIsStoredHalved) {
    Start(kDeviceOn, kDeviceOn);
    UndimScanMode();
    Script(R"script(
commit MAIN.SETUP
set CAMERA_PAGE.TAKEMODE "Single scan"
set CAMERA_PAGE.FRAMES 100
set CAMERA_PAGE.EXPOSURE 0.1
set SCANNER_PAGE.SCANMODE "Spectrograph (steps)"
commit SCANNER_PAGE.SCANMODE
set SCANNER_PAGE.STEPSIZE 10
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.scan_mode, 0);
    EXPECT_FLOAT_EQ(state.scan_size, 5.0f);
    EXPECT_FLOAT_EQ(state.scan_duration, 170.0f);  // the step duration the camera block showed
    EXPECT_EQ(Main(MAIN_SUM_MODE), "Spectrograph");
    EXPECT_EQ(Main(MAIN_SUM_STEPSIZE), "10.0");
    EXPECT_EQ(Main(MAIN_SUM_STEPTIME), "170.0");
    EXPECT_EQ(Main(MAIN_SUM_EXTENT), "5.000");  // 0.08 x (10 x 100) / 16
    EXPECT_NE(Status().find("Spectrograph mode"), std::string::npos);
    EXPECT_NE(Status().find("Scanner_status is 1\n"), std::string::npos);
}

TEST_F(SpineTest, ScanModeSwitchesBetweenTheSpectrographAndImagingFields) {
    Start(kDeviceNeverOpened, kDeviceOn);
    Script("commit MAIN.SETUP\n");
    UndimScanMode();
    int scanner = 0;
    ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, SCANNER_PAGE_INDEX, &scanner);
    auto dimmed = [&](int id) {
        int d = 0;
        ui::GetCtrlAttribute(scanner, id, ui::ATTR_DIMMED, &d);
        return d;
    };
    Script("set SCANNER_PAGE.SCANMODE \"Imaging (continuous)\"\ncommit SCANNER_PAGE.SCANMODE\n");
    EXPECT_EQ(dimmed(SCANNER_PAGE_SPEED), 0);
    EXPECT_EQ(dimmed(SCANNER_PAGE_DISTANCE), 0);
    EXPECT_EQ(dimmed(SCANNER_PAGE_STEPSIZE), 1);
    EXPECT_EQ(dimmed(SCANNER_PAGE_STEPTIME), 1);
    EXPECT_EQ(dimmed(SCANNER_PAGE_STEPS_IMG), 1);
    EXPECT_NE(Status().find("Imaging mode"), std::string::npos);
    Script("set SCANNER_PAGE.SCANMODE \"Spectrograph (steps)\"\ncommit SCANNER_PAGE.SCANMODE\n");
    EXPECT_EQ(dimmed(SCANNER_PAGE_SPEED), 1);
    EXPECT_EQ(dimmed(SCANNER_PAGE_STEPSIZE), 0);
    EXPECT_EQ(dimmed(SCANNER_PAGE_STEPS_SPEC), 1);
}

TEST_F(SpineTest, OkWithTheCamerasOffTouchesNoCameraSetting) {
    Start();
    state.g_fExpTime1 = 0.75f;
    state.g_nFrameNumber1 = 42;
    state.entire_directory = "E:\\DRAV_Data\\20261208\\raw\\sunspot";
    Script(R"script(
commit MAIN.SETUP
set OBS_PAGE.OBSERVER Kim
commit SETTINGS.OK
)script");
    EXPECT_EQ(state.entire_directory, "");
    EXPECT_FLOAT_EQ(state.g_fExpTime1, 0.75f);
    EXPECT_EQ(state.g_nFrameNumber1, 42);
    EXPECT_EQ(Main(MAIN_SUM_CAMERA), "");
    // Run and Stop become usable, and the dialog closes.
    int dimmed = 1, visible = 1;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_RUN, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0);
    ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
}

TEST_F(SpineTest, OpeningTheDialogDiscardsBiasDarkFramesEvenWhenCancelled) {
    Start(kDeviceOn);
    state.BiasDark1.Allocate(16);
    state.BiasDark2.Allocate(16);
    Script("commit MAIN.SETUP\ncommit SETTINGS.CANCEL\n");
    EXPECT_FALSE(state.BiasDark1);
    EXPECT_FALSE(state.BiasDark2);
    int visible = 1;
    ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
}

TEST_F(SpineTest, DialogPagesFollowTheDeviceSwitches) {
    Start(kDeviceOn, kDeviceOff, kDeviceNeverOpened);
    Script("menu SETUP.SETTINGS\n");
    int dimmed[4] = {};
    for (int page = 0; page < 4; ++page)
        ui::GetTabPageAttribute(state.PELUpanelSetting, SETTINGS_TAB, page, ui::ATTR_DIMMED,
                                &dimmed[page]);
    EXPECT_EQ(dimmed[CAMERA_PAGE_INDEX], 0);
    EXPECT_EQ(dimmed[SCANNER_PAGE_INDEX], 1);
    EXPECT_EQ(dimmed[MOTOR_PAGE_INDEX], 1);
    EXPECT_EQ(dimmed[OBS_PAGE_INDEX], 0);
    // The settings menu item enables three menu items.
    for (int item : {MENUBAR_FILE_SAVE, MENUBAR_SETUP_TEST, MENUBAR_HELP_ABOUT}) {
        int d = 1;
        ui::GetMenuBarAttribute(state.menubar, item, ui::ATTR_DIMMED, &d);
        EXPECT_EQ(d, 0) << item;
    }
    int picture = 0;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_DIMMED, &picture);
    EXPECT_EQ(picture, 1);
}

TEST_F(SpineTest, DeviceTestPanelEnablesTheSectionsOfDevicesThatAreOn) {
    Start(kDeviceNeverOpened, kDeviceOn);
    Script("commit MAIN.TEST\n");
    auto dimmed = [](int id) {
        int d = 0;
        ui::GetCtrlAttribute(state.testpanel, id, ui::ATTR_DIMMED, &d);
        return d;
    };
    EXPECT_EQ(dimmed(TEST_JOG_INC), 0);
    EXPECT_EQ(dimmed(TEST_COMMAND), 0);
    EXPECT_EQ(dimmed(TEST_SETCOOLER), 1);
    EXPECT_EQ(dimmed(TEST_MOTOR_INC), 1);
    Script("close TEST\n");
    EXPECT_EQ(dimmed(TEST_JOG_INC), 1);
    EXPECT_EQ(dimmed(TEST_COMMAND), 1);
    int visible = 1;
    ui::GetPanelAttribute(state.testpanel, ui::ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
}

TEST_F(SpineTest, QuittingWithNoDeviceEverOnEndsTheProgramAndTouchesNoDevice) {
    Start();
    Script("commit MAIN.QUIT\n");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(state.CCD_status, kDeviceNeverOpened);
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
    EXPECT_EQ(state.Motor_status, kDeviceNeverOpened);
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(SpineTest, TheCloseBoxQuitsAndADeviceShutdownLeavesFlagsOff) {
    Start(kDeviceOn, kDeviceNeverOpened, kDeviceOn);
    state.g_pRawData.Allocate(64);
    // A single frame on screen is the camera buffer itself: shutting down must
    // free that block once.
    state.planeDataCCD.Refer(state.g_pRawData.get(), 64);
    Script("close MAIN\n");
    ASSERT_TRUE(Ended());
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(state.CCD_status, kDeviceOff);
    EXPECT_EQ(state.Motor_status, kDeviceOff);
    EXPECT_FALSE(state.g_pRawData);
    EXPECT_FALSE(state.planeDataCCD);
}

TEST_F(SpineTest, QuittingDuringAScanSaysSoAndStillEnds) {
    Start(kDeviceNeverOpened, kDeviceOn);
    state.Scanning = 1;
    Script("menu EXIT\n");
    ASSERT_TRUE(Ended());
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Error");
    EXPECT_EQ(popups[0].text, "Motor is still running.");
    EXPECT_EQ(state.Scanner_status, kDeviceOn);  // left open
}

// A live view writes frames until it sees the stop flag; the settings OK must
// not free the buffers under its last frame.
TEST_F(SpineTest, SettingsOkWaitsForTheLiveViewBeforeFreeingBuffers) {
    Start(kDeviceOn);
    state.g_pRawData.Allocate(1 << 16);
    state.threadparam = 0;
    int id = 0;
    std::atomic<bool> started{false};
    ui::ScheduleThreadFunction(
        [&started] {
            uint16_t* frame = state.g_pRawData.get();
            started = true;
            while (state.threadparam == 0) std::this_thread::sleep_for(1ms);
            std::this_thread::sleep_for(30ms);  // the frame in flight
            for (int i = 0; i < (1 << 16); ++i) frame[i] = static_cast<uint16_t>(i);
            return 0;
        },
        &id);
    state.threadfunctionID = id;
    ASSERT_TRUE(Eventually([&] { return started.load(); }));
    Script("commit MAIN.SETUP\ncommit SETTINGS.OK\n");
    // The OK waits for the live view with events going on; it is done when
    // the dialog has closed.
    ASSERT_TRUE(Eventually([] {
        int visible = 1;
        ui::GetPanelAttribute(state.PELUpanelSetting, ui::ATTR_VISIBLE, &visible);
        return visible == 0;
    }));
    EXPECT_EQ(state.threadparam, 1);
    int returned = -1;
    EXPECT_EQ(ui::GetThreadFunctionReturnValue(id, &returned), 0) << "the live view has ended";
    EXPECT_FALSE(state.g_pRawData);
    ui::ReleaseThreadFunctionID(id);
    state.threadfunctionID = 0;
}

TEST(DisplayPlane, AReferenceIsNeverFreedAndACopyIsFreedOnce) {
    Buffer<uint16_t> raw;
    ASSERT_TRUE(raw.Allocate(8));
    Plane<uint16_t> plane;
    plane.Refer(raw.get(), 8);
    EXPECT_FALSE(plane.owned());
    EXPECT_EQ(plane.get(), raw.get());
    plane.Release();
    EXPECT_FALSE(plane);
    raw.get()[7] = 1;  // still ours: AddressSanitizer would see a freed block here
    uint16_t* copy = plane.Own(4);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(plane.owned());
    EXPECT_EQ(plane.size(), 4u);
    plane.Refer(raw.get(), 8);  // frees the copy, refers again
    EXPECT_EQ(plane.get(), raw.get());
    raw.Free();
    plane.Release();
    EXPECT_FALSE(plane);
}

TEST(Buffer, ClearsWithinItsSizeAndRefusesNothing) {
    Buffer<float> b;
    EXPECT_FALSE(b.Allocate(0));
    EXPECT_FALSE(b);
    ASSERT_TRUE(b.Allocate(4));
    b.get()[3] = 5;
    b.Clear(100);  // more than it holds: clears what it has
    EXPECT_EQ(b.get()[3], 0.0f);
}

TEST(TextConversions, BehaveAsTheClassicConversionsWithoutOverflow) {
    EXPECT_EQ(TextToInt("100"), 100);
    EXPECT_EQ(TextToInt(" 12abc"), 12);
    EXPECT_EQ(TextToInt("abc"), 0);
    EXPECT_EQ(TextToInt("-7"), -7);
    EXPECT_EQ(TextToInt("99999999999999999999"), 2147483647);
    EXPECT_DOUBLE_EQ(TextToDouble("0.5"), 0.5);
    EXPECT_DOUBLE_EQ(TextToDouble("1e-3s"), 0.001);
    EXPECT_DOUBLE_EQ(TextToDouble("fast"), 0.0);
    EXPECT_DOUBLE_EQ(TextToDouble("1e999"), 0.0);
}

}  // namespace
}  // namespace pelu
