// The one-camera program driven as an observer would, through scripts
// against the headless front-end and the simulated camera.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "camera/camera.h"
#include "display/display.h"
#include "earlier/PELU_earlier.h"
#include "earlier/display_earlier.h"
#include "earlier/earlier_state.h"
#include "earlier/fits_earlier.h"
#include "motors/grating_focus.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/motion6k/simulator.h"
#include "platform/ui/runtime_internal.h"
#include "platform/ui/script.h"
#include "resources/earlier_uir.h"
#include "scanner/runtime.h"
#include "scanner/scanner.h"
#include "state/controls.h"
#include "tests/earlier/earlier_fixture.h"
#include "tests/platform/ui/ui_fixture.h"

namespace pelu::earlier {
namespace {

using ui::testing::Eventually;

class ProgramTest : public testing::EarlierTest {
protected:
    void SetUp() override {
        EarlierTest::SetUp();
        camsim::Reset();
        ResetCameraGlobals();
        ResetDisplayGlobals();
        ResetEarlierDisplay();
        RegisterEarlierCallbacks();
        cwd = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        program = std::thread([this] { result = PELU_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    void TearDown() override {
        if (program.joinable()) {
            Script("quit");
            program.join();
        }
        std::filesystem::current_path(cwd);
        EarlierTest::TearDown();
    }
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text);
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    bool GetDimmed(int control) const {
        int dimmed = 0;
        ui::GetCtrlAttribute(state.mainPanel, control, ui::ATTR_DIMMED, &dimmed);
        return dimmed != 0;
    }
    std::vector<std::string> SavedFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().extension() == ".fts") names.push_back(e.path().string());
        return names;
    }
    void CamerasOnWithFrames(int frames) {
        Script("commit MAIN.CCD_TOGGLE\nexpect status Open Complete\ncommit MAIN.SETUP\n"
               "set CAMERA_PAGE.FRAMES " + std::to_string(frames) + "\ncommit SETTINGS.OK");
    }

    // The scanner: the simulated controller reset, the templates beside the
    // program, the switch pressed and the stage homed through the amp timer.
    void LoadScannerSimulator() {
        for (const char* name : {"pelu.head", "pelu.tail"})
            std::filesystem::copy_file(std::string(PELU_SITE_DIR) + "/" + name, dir / name);
        void* library = dlopen(PmacLibraryPath().c_str(), RTLD_NOW | RTLD_NODELETE);
        ASSERT_NE(library, nullptr) << dlerror();
        simCommand = reinterpret_cast<SimCommandFn>(dlsym(library, "PmacSimulatorCommand"));
        ASSERT_NE(simCommand, nullptr);
        Sim("reset");
    }
    void Sim(const std::string& command) {
        std::vector<char> reply(1 << 16);
        ASSERT_EQ(simCommand(command.c_str(), reply.data(), int(reply.size())), 1) << command;
    }
    bool AmpTimerEnabled() const {
        int enabled = 0;
        ui::GetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, &enabled);
        return enabled != 0;
    }
    void SwitchScannerOnAndHome() {
        ui::PostEvent(state.mainPanel, MAIN_SCAN_TOGGLE, ui::EVENT_COMMIT);
        // The switch enables the amp timer just after the controller opens.
        ASSERT_TRUE(Eventually([this] { return state.PmacAccessible == 1 && AmpTimerEnabled(); }));
        for (int tick = 0; tick < 2000 && AmpTimerEnabled(); ++tick) {
            Script("tick MAIN.AMP_TIMER");
            os::Sleep(5);
        }
    }
    std::string Status() const { return GetText(state.mainPanel, MAIN_STATUS); }

    using SimCommandFn = int (*)(const char*, char*, int);
    SimCommandFn simCommand = nullptr;
    std::filesystem::path cwd;
    std::thread program;
    int result = -99;
};

constexpr int kSevenLamps[] = {MAIN_M139_LED, MAIN_INPOS_LED, MAIN_M137_LED, MAIN_M143_LED,
                               MAIN_M131_LED, MAIN_NEGLIM_LED, MAIN_M138_LED};

// Controls by their panel-qualified names ("MAIN.RUN", "CAMERA_PAGE.FRAMES")
// and their ids, tab pages included.
std::map<std::string, int> ControlIds(const std::string& uirPath) {
    std::ifstream in(uirPath);
    const nlohmann::json uir = nlohmann::json::parse(in);
    std::map<std::string, int> ids;
    std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& panel) {
        for (const auto& control : panel.at("controls")) {
            ids[panel.at("name").get<std::string>() + "." + control.at("name").get<std::string>()] =
                control.at("id").get<int>();
            if (auto pages = control.find("pages"); pages != control.end())
                for (const auto& page : *pages) walk(page);
        }
    };
    for (const auto& panel : uir.at("panels")) walk(panel);
    return ids;
}

// The shared callbacks this program binds address their controls by
// PELU_dbg's ids: every control the two resource files have in common must
// carry the same id in both.
TEST(EarlierResourceTest, ControlsSharedWithTheAcquisitionProgramKeepItsIds) {
    const auto ours = ControlIds(os::ExecutableDirectory() + "/PELU.uir");
    const auto dbg = ControlIds(PELU_DBG_UIR);
    int shared = 0;
    for (const auto& [name, id] : ours) {
        const auto other = dbg.find(name);
        if (other == dbg.end()) continue;
        ++shared;
        EXPECT_EQ(id, other->second) << name;
    }
    // The device switches, lamps, scanner and motor controls, settings pages.
    EXPECT_GE(shared, 60);
    for (const char* name : {"MAIN.SCAN_TOGGLE", "MAIN.AMP_TIMER", "MAIN.STEP", "MAIN.GRAPH",
                             "TEST.MOTOR_STEP", "SCANNER_PAGE.STEPSIZE"})
        EXPECT_TRUE(ours.count(name) && dbg.count(name)) << name;
}

TEST_F(ProgramTest, TakeImagesSavesOneFrameAndOnlyTakesASeries) {
    CamerasOnWithFrames(3);
    EXPECT_EQ(earlierState.nhDim, 512);
    EXPECT_EQ(earlierState.nvDim, 512);
    const uint64_t before = camsim::Inspect(0).framesExposed;
    Script("commit MAIN.TAKE");
    EXPECT_EQ(camsim::Inspect(0).framesExposed - before, 3u);
    EXPECT_TRUE(SavedFiles().empty());

    Script("commit MAIN.SETUP\nset CAMERA_PAGE.FRAMES 1\ncommit SETTINGS.OK\ncommit MAIN.TAKE");
    EXPECT_EQ(camsim::Inspect(0).framesExposed - before, 4u);
    const auto files = SavedFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("_QEL.fts"), std::string::npos) << files[0];
    // The file holds the frame that was taken and is shown.
    auto image = ReadFits(files[0]);
    ASSERT_TRUE(image) << LastPopupText();
    ASSERT_EQ(image->samples.size(), 512u * 512u);
    EXPECT_TRUE(std::equal(image->samples.begin(), image->samples.end(), state.g_pRawData.get()));
    int min = 0, max = 0;
    PlaneMinMax(image->samples.data(), image->samples.size(), &min, &max);
    EXPECT_LT(min, max);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MIN), min);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MAX), max);
}

TEST_F(ProgramTest, VerticalBinningThatDoesNotDivideTheRowsIsReportedAndApplied) {
    Script("commit MAIN.CCD_TOGGLE\nexpect status Open Complete\ncommit MAIN.SETUP\n"
           "set CAMERA_PAGE.BINNING Custom\ncommit CAMERA_PAGE.BINNING\n"
           "set CAMERA_PAGE.HBIN 1\nset CAMERA_PAGE.VBIN 3\nset CAMERA_PAGE.FRAMES 1\n"
           "commit SETTINGS.OK\nexpect popup Image height must be a multiple of Vertical Binning");
    EXPECT_EQ(earlierState.nvDim, 170);
    EXPECT_EQ(earlierState.nhDim, 512);
    // The configuration went on to the end after the message.
    const camsim::CameraView camera = camsim::Inspect(0);
    EXPECT_EQ(camera.vbin, 3);
    EXPECT_EQ(camera.vend, 512);
    EXPECT_FLOAT_EQ(camera.exposure, 0.1f);
    EXPECT_NE(GetText(state.mainPanel, MAIN_STATUS).find("BaseLine Clamp Setting enalbe\n"),
              std::string::npos);
    int messages = 0;
    for (const auto& p : Popups()) messages += p.title == "Error";
    EXPECT_EQ(messages, 1);
}

TEST_F(ProgramTest, StoredCubeOpensAndItsLastSliderPositionShowsTheLastFrame) {
    const int w = 6, h = 4, frames = 3;
    std::vector<uint16_t> samples(w * h * frames);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(100 * i);
    ASSERT_TRUE(WriteFitsFile(Path("cube.fts"), w, h, frames, samples.data(), 1.0f, 1,
                              os::UtcTime{2026, 1, 2, 3, 4, 5, 0}));
    frontEnd.QueueFileAnswer(Path("cube.fts"));
    Script("commit MAIN.OPEN");
    EXPECT_EQ(state.DataSource, 0);
    std::string title;
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_TITLE, &title);
    EXPECT_EQ(title.rfind("cube.fts - PELU", 0), 0u) << title;  // the file leads the title
    double sliderMax = 0;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_FRAME, ui::ATTR_MAX_VALUE, &sliderMax);
    EXPECT_EQ(sliderMax, 3.0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MIN), 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MAX), 2300);

    Script("set MAIN.FRAME 3\ncommit MAIN.FRAME");  // one past the last frame
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MIN), 4800);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MAX), 7100);
    ui::PictureImage picture;
    ui::GetCtrlPicture(state.mainPanel, MAIN_PICTURE, &picture);
    EXPECT_EQ(picture.width, w);
    EXPECT_EQ(picture.height, h);

    // A broken file says why and leaves the cube on screen.
    testing::WriteBytes(Path("broken.fts"), std::vector<unsigned char>(100, ' '));
    frontEnd.QueueFileAnswer(Path("broken.fts"));
    Script("commit MAIN.OPEN\nexpect popup shorter than one FITS header block");
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MIN), 4800);
    EXPECT_EQ(earlierDisplay.fileFrames, 3);
    Script("set MAIN.BYTSCL_MIN 5000\ncommit MAIN.BYTSCL_MIN");
    ui::GetCtrlPicture(state.mainPanel, MAIN_PICTURE, &picture);
    // Redrawn between 5000 and 7100 without new limits; plane row 0 at the bottom.
    ASSERT_EQ(picture.pixels.size(), size_t(w * h));
    EXPECT_EQ(picture.pixels[0], 194);            // row 3, column 0: 6600
    EXPECT_EQ(picture.pixels[3 * w], 0);          // row 0, column 0: 4800, below the minimum
    EXPECT_EQ(picture.pixels[3 * w + 5], 36);     // row 0, column 5: 5300
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_BYTSCL_MAX), 7100);
}

TEST_F(ProgramTest, CoolerCoolsUntilStableAndWarmsToZeroBeforeSwitchingOff) {
    Script("commit MAIN.CCD_TOGGLE\nexpect status Open Complete\n"
           "set MAIN.SETPOINT -20\ncommit MAIN.SETCOOLER\n"
           "expect status Temperature wanted on CCD Chip is -20\n"
           "expect status Temperature Stabilized!");
    EXPECT_TRUE(camsim::Inspect(0).coolerOn);
    EXPECT_EQ(camsim::Inspect(0).setPoint, -20);
    EXPECT_EQ(earlierState.temperatureStop, 1);

    Script("set MAIN.COOLER 1\ncommit MAIN.COOLER\nexpect status Cooler Off!");
    const camsim::CameraView camera = camsim::Inspect(0);
    EXPECT_FALSE(camera.coolerOn);
    // Warmed until the whole-degree reading is 0 C before the cooler went off.
    EXPECT_GT(camera.temperature, -1.0);
    EXPECT_NE(GetText(state.mainPanel, MAIN_STATUS).find("Current Temperature on CCD is"),
              std::string::npos);
    EXPECT_TRUE(GetDimmed(MAIN_SETPOINT));
}

TEST_F(ProgramTest, StepSizeGoesToTheScanProgramAsEntered) {
    for (const char* name : {"pelu.head", "pelu.tail"})
        std::filesystem::copy_file(std::string(PELU_SITE_DIR) + "/" + name, dir / name);
    Script("commit MAIN.SCAN_TOGGLE\ncommit MAIN.SETUP\n"
           "set SCANNER_PAGE.SCANMODE 0\ncommit SCANNER_PAGE.SCANMODE\n"
           "set SCANNER_PAGE.STEPSIZE 10\nset SCANNER_PAGE.STEPTIME 250\ncommit SETTINGS.OK");
    EXPECT_FLOAT_EQ(scanner.step_size, 10.0f);
    EXPECT_FLOAT_EQ(state.scan_duration, 250.0f);
    EXPECT_TRUE(std::filesystem::exists(dir / "PELU.pmc"));
    Script("commit MAIN.SCAN_TOGGLE");  // off: the monitoring loop ends
    EXPECT_TRUE(Eventually([] { return state.Scanner_status == kDeviceOff; }));
    ResetScanner();
}

TEST_F(ProgramTest, ScanTakesOneFrameAStepWithThisProgramsMessagesAndLamps) {
    LoadScannerSimulator();
    Script("commit MAIN.CCD_TOGGLE\nexpect status Open Complete");
    SwitchScannerOnAndHome();
    ASSERT_EQ(scanner.g_nAmpOnSeq, 30);
    // The amplifier lamp and the in-position lamp light with the stage at home.
    EXPECT_TRUE(Eventually([] {
        return GetInt(state.mainPanel, MAIN_M139_LED) == 1 &&
               GetInt(state.mainPanel, MAIN_INPOS_LED) == 1;
    }));
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_M138_LED), 0);

    const int frames = 6;
    Script("commit MAIN.SETUP\nset CAMERA_PAGE.FRAMES " + std::to_string(frames) +
           "\nset SCANNER_PAGE.SCANMODE 0\ncommit SCANNER_PAGE.SCANMODE\n"
           "set SCANNER_PAGE.STEPSIZE 4\nset SCANNER_PAGE.STEPTIME 300\ncommit SETTINGS.OK");
    // The program file is written beside the program, where the camera opened.
    EXPECT_TRUE(std::filesystem::exists(dir / "PELU.pmc"));
    // No line end after the message: the download's message follows on.
    EXPECT_NE(Status().find("\nScript was generated.\nDevice Download Success\n"),
              std::string::npos);

    const uint64_t before = camsim::Inspect(0).framesExposed;
    // The commit comes back while the scan runs (the window answers); the
    // run is over when its controls are back.
    Script("commit MAIN.RUN");
    ASSERT_TRUE(Eventually([] { return !ui::WorkInProgress(); }, std::chrono::seconds(120)));
    EXPECT_NE(Status().find("\nScanning is started."), std::string::npos);
    EXPECT_NE(Status().find("\nScanning is finished."), std::string::npos);
    EXPECT_EQ(Status().find("Starting Scan."), std::string::npos);
    // One frame a step, counted in the step display.
    EXPECT_EQ(camsim::Inspect(0).framesExposed - before, uint64_t(frames));
    EXPECT_EQ(GetText(state.mainPanel, MAIN_STEP), std::to_string(frames));
    const auto files = SavedFiles();
    ASSERT_EQ(files.size(), 1u);
    auto series = ReadFits(files[0]);
    ASSERT_TRUE(series) << LastPopupText();
    ASSERT_EQ(series->frames, frames);
    const size_t frameSize = 512u * 512u;
    ASSERT_EQ(series->samples.size(), frameSize * frames);
    // Every frame was exposed: none is left as the zeros of the buffer.
    for (int f = 0; f < frames; ++f) {
        const auto first = series->samples.begin() + std::ptrdiff_t(f * frameSize);
        EXPECT_TRUE(std::any_of(first, first + std::ptrdiff_t(frameSize),
                                [](uint16_t v) { return v != 0; }))
            << "frame " << f;
    }

    // The camera fails to deliver from the third frame of the next scan on:
    // their planes hold zeros, and the observer is told which frames of
    // which file.
    camsim::Fault fault;
    fault.call = "GetAcquiredData16";
    fault.after = 2;
    camsim::AddFault(fault);
    // The first scan may have had late frames on a busy host, and its own
    // summary: this run's summary is the one that comes after it.
    const size_t popupsBefore = Popups().size();
    Script("commit MAIN.RUN");
    ASSERT_TRUE(Eventually([] { return !ui::WorkInProgress(); }, std::chrono::seconds(120)));
    const auto popups = Popups();
    ASSERT_GT(popups.size(), popupsBefore);
    EXPECT_EQ(popups.back().title, "Run summary");
    const auto both = SavedFiles();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(Status().find(": 4 of 6 frames hold zeros, not data: the camera did not deliver "
                            "frames 3, 4, 5, 6."),
              std::string::npos)
        << Status();
    // Late frames, if the busy host made any, count as well.
    EXPECT_GE(std::stoi(GetText(state.mainPanel, MAIN_WARN_FRAMES)), 4);

    Script("commit MAIN.SCAN_TOGGLE");
    EXPECT_TRUE(Eventually([] { return state.Scanner_status == kDeviceOff; }));
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_LED), 0);
    for (int lamp : kSevenLamps) EXPECT_EQ(GetInt(state.mainPanel, lamp), 0) << lamp;
}

TEST_F(ProgramTest, UnpoweredAmplifierIsReportedInABox) {
    LoadScannerSimulator();
    Sim("fault amp_unpowered");
    SwitchScannerOnAndHome();
    EXPECT_EQ(scanner.g_nAmpOnSeq, 0);  // no homing without power
    Script("expect popup \"Amp is not powered.\"");
    const auto popups = Popups();
    ASSERT_FALSE(popups.empty());
    EXPECT_EQ(popups.back().title, "Error");
    Script("commit MAIN.SCAN_TOGGLE");
    EXPECT_TRUE(Eventually([] { return state.Scanner_status == kDeviceOff; }));
}

TEST_F(ProgramTest, MotorLinkDrivesThreeAxesWithoutHatchAndInitialisesOleOnce) {
    std::filesystem::copy_file(std::string(PELU_SITE_DIR) + "/IPaddr.ini", dir / "IPaddr.ini");
    motion6k::Reset();
    // The switch-on homes the axes: the window answers meanwhile, and the
    // switch is back once it has ended.
    Script("commit MAIN.MOTOR_TOGGLE\nexpect idle");
    ASSERT_NE(motorState.M_Open_status, 0);
    // Connecting again while the link is open changes nothing and is no failure.
    const size_t commandsBefore = motion6k::Commands().size();
    EXPECT_EQ(MotorConnect(), 1);
    EXPECT_EQ(motion6k::Commands().size(), commandsBefore);
    Script("commit MAIN.MOTOR_TOGGLE\ncommit MAIN.MOTOR_TOGGLE\nexpect idle");  // off and on again
    EXPECT_TRUE(motion6k::LinkOpen());
    // Axis 4 is not this spectrograph's: no status poll goes to it.
    LimitIndicate(4);

    const std::vector<std::string> sent = motion6k::Commands();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DRIVE111X:"), 2);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "DRIVE000X:"), 1);
    for (const std::string& command : sent) {
        EXPECT_EQ(command.rfind("OUT", 0), std::string::npos) << "no slit hatch: " << command;
        EXPECT_EQ(command.find("4TAS"), std::string::npos) << command;
    }
    const std::vector<std::string> calls = motion6k::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "OLE_Initialize_6KE"), 1);
    EXPECT_EQ(calls.front(), "OLE_Initialize_6KE");
}

}  // namespace
}  // namespace pelu::earlier
