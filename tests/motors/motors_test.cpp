// The spectrograph motors inside PELU_dbg: the motor switch, the settings
// OK, the device test panel and quitting, against the simulated controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "control/callbacks.h"
#include "motors/grating_focus.h"
#include "motors/wv_file.h"
#include "platform/motion6k/motion6k.h"
#include "platform/motion6k/simulator.h"
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
using Commands = std::vector<std::string>;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double InstrumentSeconds() {
    int64_t frequency = 1, count = 0;
    os::QueryPerformanceFrequency(&frequency);
    os::QueryPerformanceCounter(&count);
    return double(count) / double(frequency);
}

// Controls of the other subsystems are not part of these tests: every
// callback name of PELU.uir is first bound to one that does nothing, then
// the shell's and the motors' own callbacks replace theirs.
int Inert(int, int, int, void*, int, int) { return 0; }
void InertMenu(int, int, void*, int) {}
void RegisterInertCallbacks() {
    std::ifstream in(fs::path(os::ExecutableDirectory()) / "PELU.uir");
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t menus = text.find("\"menubars\"");
    const std::string key = "\"callback\"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const size_t open = text.find('"', text.find(':', at + key.size()));
        const size_t close = text.find('"', open + 1);
        if (open == std::string::npos || close == std::string::npos) break;
        const std::string name = text.substr(open + 1, close - open - 1);
        if (at > menus)
            ui::RegisterMenuCallback(name, InertMenu);
        else
            ui::RegisterCallback(name, Inert);
    }
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class MotorsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::ResetRuntime();
        ui::InitRuntime();
        ui::SetFrontEnd(&frontEnd);
        ui::SetAutomaticTimers(false);
        ResetInstrumentState();
        ResetMotorState();
        ResetWavelengthTable();
        motion6k::Reset();
        os::ClearLaunchedBatchCommands();
        RegisterInertCallbacks();
        RegisterControlCallbacks();
        RegisterMotorCallbacks();
        // The program reads Wv.ini and IPaddr.ini from its working directory.
        dir = fs::temp_directory_path() /
              ("pelu-motors-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path site = fs::path(PELU_SOURCE_DIR) / "resources" / "site";
        fs::copy_file(site / "Wv.ini", dir / "Wv.ini");
        fs::copy_file(site / "IPaddr.ini", dir / "IPaddr.ini");
        previousDirectory = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        if (program.joinable()) {
            ui::QuitUserInterface(0);
            program.join();
        }
        fs::current_path(previousDirectory);
        fs::remove_all(dir);
        ui::SetFrontEnd(nullptr);
        ui::ResetRuntime();
        ResetInstrumentState();
        ResetMotorState();
        ResetWavelengthTable();
        motion6k::Reset();
    }
    void Start() {
        program = std::thread([this] { result = PELU_main(); });
        ASSERT_TRUE(Eventually([] { return ui::detail::DispatcherRunning(); }));
    }
    // Runs the script and waits until the work it started (a switch, the
    // settings OK) has ended: these tests look at what the work did.
    void Script(const std::string& text) {
        ui::ScriptRunner runner(&frontEnd, "test");
        ui::ScriptResult r = runner.RunText(text + "\nexpect idle\n");
        ASSERT_TRUE(r.ok) << "line " << r.line << " (" << r.command << "): " << r.message;
    }
    // Runs `fn` on the dispatch thread, as a callback would, and waits for it.
    template <class Fn>
    void OnDispatch(Fn fn) {
        std::promise<void> done;
        ui::PostDeferredCall([&] {
            fn();
            done.set_value();
        });
        done.get_future().wait();
    }
    void SwitchOn() {
        Start();
        Script("commit MAIN.MOTOR_TOGGLE\n");
        ASSERT_TRUE(motion6k::LinkOpen());
        motion6k::ClearTrace();
    }
    std::string Status() { return GetText(state.mainPanel, MAIN_STATUS); }
    std::vector<std::string> ListLabels(int panel, int control) {
        int count = 0;
        ui::GetNumListItems(panel, control, &count);
        std::vector<std::string> labels(static_cast<size_t>(std::max(count, 0)));
        for (int i = 0; i < count; ++i) ui::GetLabelFromIndex(panel, control, i, &labels[i]);
        return labels;
    }
    int MotorPage() {
        int page = 0;
        ui::GetPanelHandleFromTabPage(state.PELUpanelSetting, SETTINGS_TAB, MOTOR_PAGE_INDEX, &page);
        return page;
    }
    int Lamp(int panel, int control) { return GetInt(panel, control); }

    ui::HeadlessFrontEnd frontEnd;
    std::thread program;
    std::atomic<int> result{-99};
    fs::path dir, previousDirectory;
};

TEST_F(MotorsTest, SwitchingOnPreparesTheControllerAndFillsBothWavelengthLists) {
    Start();
    const double before = InstrumentSeconds();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    const double took = InstrumentSeconds() - before;

    EXPECT_EQ(motion6k::Commands(), (Commands{"DRIVE1111:", "SETUP:", "HOMING:", "PSET0,0,0,0:",
                                              "PESET0,0,0,0:", "OUT0010:"}));
    const auto calls = motion6k::Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "Open_6KE 127.0.0.60");
    EXPECT_EQ(calls[1], "Initialize_6KE");
    // 1.0 s after the set-up program, 5.0 s after homing, plus the settle times.
    EXPECT_GE(took, 6.0);
    EXPECT_TRUE(Contains(Status(), "\n------------Connected------------\nInitialized  \n"));

    // The neighbour entry for the controller, written without a line end and
    // handed to the command interpreter (which only records arp lines).
    EXPECT_EQ(ReadText(dir / "IPaddr.bat"), "arp -s 127.0.0.60 02-00-00-00-06-0b 127.0.0.1");
    const auto launched = os::LaunchedBatchCommands();
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].command, "arp -s 127.0.0.60 02-00-00-00-06-0b 127.0.0.1");
    EXPECT_FALSE(launched[0].executed);

    EXPECT_EQ(state.Motor_status, kDeviceOn);
    std::string label;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "Motor On");
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_MOTOR_LED), 1);
    EXPECT_EQ(motion6k::Outputs(), "0010");  // hatch open
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_HATCH_LED), 1);
    EXPECT_EQ(motion6k::Axis(1).encoder, 0);  // homed and zeroed
    EXPECT_EQ(motorState.SelectMotor, 1);
    EXPECT_EQ(motorState.MotorPos1E_Pre, 0);

    for (auto [panel, control] : {std::pair{MotorPage(), MOTOR_PAGE_WVLIST},
                                  std::pair{state.testpanel, TEST_WVLIST}}) {
        const auto labels = ListLabels(panel, control);
        ASSERT_EQ(labels.size(), 7u);
        EXPECT_EQ(labels[0], "6562.80");
        EXPECT_EQ(labels[1], "8542.00");
        int selected = -1;
        ui::GetCtrlIndex(panel, control, &selected);
        EXPECT_EQ(selected, 0);
    }
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(MotorsTest, SwitchingOffClosesTheHatchParksTheGratingAndCloses) {
    SwitchOn();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    const Commands sent = motion6k::Commands();
    ASSERT_GE(sent.size(), 11u);
    EXPECT_EQ(Commands(sent.begin(), sent.begin() + 6),
              (Commands{"OUT0001:", "!S:", "!1TAS:", "!1TPE:", "1D-50000:", "1GO:"}));
    EXPECT_EQ(Commands(sent.end() - 3, sent.end()), (Commands{"!1TAS:", "!1TPE:", "DRIVE0000:"}));
    // In between only the moving-bit polls, several while 50000 steps go by.
    const auto polls = std::count(sent.begin() + 6, sent.end() - 3, "!1TAS.1:");
    EXPECT_EQ(polls, static_cast<long>(sent.size()) - 9);
    EXPECT_GE(polls, 3);
    EXPECT_EQ(motion6k::Calls().back(), "Close_6KE");

    EXPECT_EQ(motion6k::Axis(1).encoder, -50000);
    EXPECT_EQ(motorState.MotorPos1E, -50000);
    EXPECT_EQ(motorState.MotorPos1E_Pre, -50000);
    EXPECT_EQ(motorState.M_Open_status, 0);
    EXPECT_EQ(motion6k::Outputs(), "0001");  // hatch closed
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_HATCH_LED), 0);
    // The main panel shows where the grating was parked, off every line of Wv.ini.
    EXPECT_EQ(GetText(state.mainPanel, MAIN_GRATING_POS), "-50000");
    EXPECT_EQ(GetText(state.mainPanel, MAIN_GRATING_WV).rfind("near ", 0), 0u);
    EXPECT_FALSE(motion6k::LinkOpen());
    EXPECT_TRUE(Contains(Status(), "-----------Disconnected-----------\n"));
    EXPECT_EQ(state.Motor_status, kDeviceOff);
    std::string label;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
    EXPECT_EQ(label, "Motor Off");
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_MOTOR_LED), 0);
}

// A switch that failed shows "off" in its lamp, label and flag, and the
// status box and an error box say which step failed and what to check.
TEST_F(MotorsTest, FailedSwitchingOnAndOffSaysWhichStepFailedAndShowsTheTruth) {
    const auto expectOff = [this] {
        EXPECT_EQ(state.Motor_status, kDeviceOff);
        EXPECT_EQ(Lamp(state.mainPanel, MAIN_MOTOR_LED), 0);
        EXPECT_EQ(GetInt(state.mainPanel, MAIN_MOTOR_TOGGLE), 0);
        std::string label;
        ui::GetCtrlAttribute(state.mainPanel, MAIN_MOTOR_TOGGLE, ui::ATTR_LABEL_TEXT, &label);
        EXPECT_EQ(label, "Motor Off");
    };
    motion6k::SimulatorConfig config;
    config.openFails = true;
    motion6k::Configure(config);
    Start();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    EXPECT_EQ(motion6k::Calls(), (Commands{"Open_6KE 127.0.0.60"}));
    expectOff();
    const std::string openFailed =
        "The motor controller was not switched on: opening the link to 127.0.0.60 failed. "
        "Check the controller's address in IPaddr.ini, its power and its network cable.";
    EXPECT_TRUE(Contains(Status(), "\n" + openFailed + "\n")) << Status();
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(frontEnd.Popups()[0].title, "Error");
    EXPECT_EQ(frontEnd.Popups()[0].text, openFailed);
    EXPECT_FALSE(Contains(Status(), "Connected"));

    // A controller that opens but does not initialise is closed again and
    // nothing is sent to its axes.
    config.openFails = false;
    config.initialiseFails = true;
    motion6k::Configure(config);
    motion6k::ClearTrace();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    expectOff();
    EXPECT_FALSE(motion6k::LinkOpen());
    EXPECT_EQ(motorState.M_Open_status, 0);
    EXPECT_TRUE(Contains(Status(), "the controller at 127.0.0.60 did not initialise"));
    EXPECT_FALSE(Contains(Status(), "Initialized"));
    for (const std::string& command : motion6k::Commands())
        EXPECT_EQ(command.rfind("DRIVE", 0), std::string::npos) << command;

    // A close that fails is said, and keeps the link flags.
    config.initialiseFails = false;
    motion6k::Configure(config);
    Script("commit MAIN.MOTOR_TOGGLE\n");
    ASSERT_EQ(state.Motor_status, kDeviceOn);
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_MOTOR_LED), 1);
    config.closeFails = true;
    motion6k::Configure(config);
    frontEnd.ClearPopups();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    EXPECT_NE(motorState.M_Open_status, 0);
    EXPECT_FALSE(Contains(Status(), "Disconnected"));
    EXPECT_TRUE(Contains(Status(), "The motor controller did not confirm the close of its link."));
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(state.Motor_status, kDeviceOff);
}

TEST_F(MotorsTest, SiteLibraryNamedInDevicesIniDrivesTheMotors) {
    // A copy of the simulator under the site's own name is a library of its
    // own: the one beside the program must stay untouched.
    fs::copy_file(os::ExecutableDirectory() + "/libpelu_6k.so", dir / "libsite_6k.so");
    std::ofstream(dir / "devices.ini") << "motors = libsite_6k.so\n";
    SwitchOn();
    EXPECT_TRUE(Contains(Status(), "\nMotor library: " + (dir / "libsite_6k.so").string() +
                                       " (site library from devices.ini, version 1.0)\n"))
        << Status();
    EXPECT_TRUE(Contains(Status(), "------------Connected------------"));
    EXPECT_TRUE(motion6k::LinkOpen());
    setenv("PELU_6K_LIBRARY", (os::ExecutableDirectory() + "/libpelu_6k.so").c_str(), 1);
    EXPECT_FALSE(motion6k::LinkOpen());
    EXPECT_TRUE(motion6k::Calls().empty());
    unsetenv("PELU_6K_LIBRARY");
}

TEST_F(MotorsTest, MissingLibraryIsRefusedAndTheMotorsStayOff) {
    setenv("PELU_6K_LIBRARY", "/nonexistent/libsite_6k.so", 1);
    Start();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    unsetenv("PELU_6K_LIBRARY");
    const auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Motor");
    EXPECT_TRUE(Contains(popups[0].text, "Motor library /nonexistent/libsite_6k.so does not exist "
                                         "(named by PELU_6K_LIBRARY)"))
        << popups[0].text;
    EXPECT_TRUE(Contains(popups[0].text, "Correct or unset PELU_6K_LIBRARY"));
    EXPECT_FALSE(Contains(Status(), "Connected"));
    // Nothing reached the simulator, no call is bound, and the switch shows off.
    EXPECT_TRUE(motion6k::Calls().empty());
    EXPECT_EQ(Write_6KE("1GO:"), 0);
    EXPECT_EQ(state.Motor_status, kDeviceOff);
    EXPECT_EQ(Lamp(state.mainPanel, MAIN_MOTOR_LED), 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_MOTOR_TOGGLE), 0);
}

TEST_F(MotorsTest, BadAddressFilesAreRefusedAndNoBatchFileIsWritten) {
    struct Case {
        const char* content;
        const char* complaint;
    } cases[] = {
        {"127.0.0.60\n02-00-00-00-06-0b\n", "holds 2 of its three entries"},
        {"127.0.0.60\n02-00-00-00-06-0b-00-00-00-00-00-00-00-00-00\n127.0.0.1\n",
         "controller MAC address is longer than 31 characters"},
        {"127.0.0.60\n02-00-00-00-06-0g\n127.0.0.1\n", "controller MAC address \"02-00-00-00-06-0g\""},
        {"127.0.0.256\n02-00-00-00-06-0b\n127.0.0.1\n", "controller IP address \"127.0.0.256\""},
        {"127.0.0.60\n02:00:00:00:06:0b\n127.0.0.1;del\n", "host IP address \"127.0.0.1;del\""},
        {"127.0.0.60 & calc\n02-00-00-00-06-0b\n127.0.0.1\n", "controller MAC address \"&\""},
    };
    for (const Case& c : cases) {
        frontEnd.ClearPopups();
        std::ofstream(dir / "IPaddr.ini", std::ios::trunc) << c.content;
        EXPECT_EQ(ArpSetF(), "") << c.content;
        EXPECT_FALSE(fs::exists(dir / "IPaddr.bat")) << c.content;
        const auto popups = frontEnd.Popups();
        ASSERT_EQ(popups.size(), 1u) << c.content;
        EXPECT_EQ(popups[0].title, "Error");
        EXPECT_TRUE(Contains(popups[0].text, c.complaint)) << popups[0].text;
    }
    EXPECT_TRUE(os::LaunchedBatchCommands().empty());

    // Colons in the MAC address are as good as dashes.
    std::ofstream(dir / "IPaddr.ini", std::ios::trunc) << "127.0.0.60\r\n02:00:00:00:06:0B\r\n127.0.0.1";
    EXPECT_EQ(ArpSetF(), "127.0.0.60");
    EXPECT_EQ(ReadText(dir / "IPaddr.bat"), "arp -s 127.0.0.60 02:00:00:00:06:0B 127.0.0.1");

    // A missing file: its popup, no batch file, and the open gets an empty address.
    fs::remove(dir / "IPaddr.ini");
    fs::remove(dir / "IPaddr.bat");
    frontEnd.ClearPopups();
    Start();
    Script("commit MAIN.MOTOR_TOGGLE\n");
    const auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].text,
              "IPaddr.ini file is not exist.\n Please Set the IP address and Mac address.");
    EXPECT_FALSE(fs::exists(dir / "IPaddr.bat"));
    // Without an address nothing is opened, and the switch stays off.
    EXPECT_TRUE(motion6k::Calls().empty());
    EXPECT_EQ(state.Motor_status, kDeviceOff);
    EXPECT_TRUE(Contains(Status(), "no controller address: IPaddr.ini is missing or not usable"));
}

TEST_F(MotorsTest, SettingsOkMovesTheGratingToTheChosenWavelengthAndStoresTheChoice) {
    SwitchOn();
    Script(R"script(
commit MAIN.SETUP
set MOTOR_PAGE.WVLIST 8542.00
commit SETTINGS.OK
)script");
    EXPECT_EQ(motion6k::Axis(1).encoder, 99097);
    EXPECT_EQ(motorState.MotorPos1E, 99097);
    EXPECT_EQ(motorState.MotorPos1E_Pre, 99097);
    EXPECT_EQ(state.CurrentSelect_Wv, 1);
    EXPECT_EQ(GetText(state.mainPanel, MAIN_SUM_WAVELENGTH), "8542.00");
    EXPECT_EQ(GetText(state.testpanel, TEST_GRATING_POS), "99097");
    // The main panel names the grating's position and the line it sits on.
    EXPECT_EQ(GetText(state.mainPanel, MAIN_GRATING_POS), "99097");
    EXPECT_EQ(GetText(state.mainPanel, MAIN_GRATING_WV), "8542.00 Å");
    // Wv.ini keeps its layout with the new selection; the listing sits beside it.
    EXPECT_EQ(fs::file_size(dir / "Wv.ini"), 2000u + 7 * 24);
    ResetWavelengthTable();
    ASSERT_EQ(OpenFileF((dir / "Wv.ini").string()), 1);
    EXPECT_EQ(wvTable.CurrentSelectWV_FileIO, 1);
    EXPECT_EQ(wvTable.nWV_FileIO, 7);
    const std::string listing = ReadText(dir / "Wv_list.txt");
    EXPECT_TRUE(Contains(listing, "CURRENT_SELECT  = 1\r\n")) << listing;
    EXPECT_TRUE(Contains(listing, " 2  8542.00  99097  61.31\r\n")) << listing;

    // The same wavelength again: the grating is there, no move is sent.
    motion6k::ClearTrace();
    Script("commit MAIN.SETUP\ncommit SETTINGS.OK\n");
    EXPECT_EQ(motion6k::Commands(), (Commands{"!1TAS:", "!1TPE:"}));
    EXPECT_EQ(motorState.MotorPos1E_Pre, 99097);
}

TEST_F(MotorsTest, WithAnEmptyWavelengthListTheSettingsOkMovesNothing) {
    fs::remove(dir / "Wv.ini");
    SwitchOn();
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(frontEnd.Popups()[0].text, "Cannot open file Wv.ini");
    EXPECT_TRUE(ListLabels(MotorPage(), MOTOR_PAGE_WVLIST).empty());
    Script("commit MAIN.SETUP\ncommit SETTINGS.OK\n");
    EXPECT_TRUE(motion6k::Commands().empty());
    EXPECT_TRUE(Contains(Status(), "No wavelength selected: the grating stays where it is."));
    EXPECT_FALSE(fs::exists(dir / "Wv.ini"));
    EXPECT_EQ(GetText(state.mainPanel, MAIN_SUM_WAVELENGTH), "");
}

TEST_F(MotorsTest, LimitFlagsBlockOneDirectionOnly) {
    motion6k::SimulatorConfig config;
    config.axes[0].positiveLimit = 1000;
    motion6k::Configure(config);
    SwitchOn();
    OnDispatch([] { Gratingtracking(kTrackAbsolute, 5000); });
    // The switch stopped the grating at 1000 and now blocks the positive side.
    EXPECT_EQ(motorState.MotorPos1E, 1000);
    EXPECT_EQ(motorState.GratingLimitCurrentState[0], 1);
    EXPECT_EQ(motorState.GratingLimitCurrentState[1], 0);
    EXPECT_EQ(Lamp(state.testpanel, TEST_LIMIT_POS), 1);

    motion6k::ClearTrace();
    OnDispatch([] { Gratingtracking(kTrackRelative, 500); });
    EXPECT_EQ(motion6k::Commands(), (Commands{"!1TAS:", "!1TPE:"}));
    EXPECT_EQ(motion6k::Axis(1).encoder, 1000);

    OnDispatch([] { Gratingtracking(kTrackRelative, -300); });
    const Commands sent = motion6k::Commands();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "1D-300:"), sent.end());
    EXPECT_EQ(motorState.MotorPos1E, 700);
    EXPECT_EQ(motorState.GratingLimitCurrentState[0], 0);
    EXPECT_EQ(Lamp(state.testpanel, TEST_LIMIT_POS), 0);
}

TEST_F(MotorsTest, TestPanelStepsTheSelectedAxisAndStopsTheMotors) {
    SwitchOn();
    Script("commit MAIN.TEST\n");
    OnDispatch([] {
        motorState.GratingLimitCurrentState[0] = 1;
        motorState.GratingLimitCurrentState[1] = 1;
    });
    Script(R"script(
set TEST.MOTOR_SELECT 3
commit TEST.MOTOR_SELECT
set TEST.MOTOR_STEP 100
commit TEST.MOTOR_DEC
)script");
    EXPECT_EQ(motorState.SelectMotor, 3);
    EXPECT_EQ(motion6k::Commands(), (Commands{"!S:", "3D-100 :", "3GO:", "!3TAS:", "!1TPE:"}));
    EXPECT_EQ(motorState.GratingLimitCurrentState[0], 0);
    EXPECT_EQ(motorState.GratingLimitCurrentState[1], 0);

    motion6k::ClearTrace();
    Script("set TEST.MOTOR_STEP 250\ncommit TEST.MOTOR_INC\n");
    EXPECT_EQ(motion6k::Commands(), (Commands{"!S:", "3D250 :", "3GO:", "!3TAS:", "!1TPE:"}));

    // The grating steps relative to its last reading and waits for the move.
    Script("set TEST.MOTOR_SELECT \"1 Grating\"\ncommit TEST.MOTOR_SELECT\ncommit TEST.MOTOR_INC\n");
    EXPECT_EQ(motion6k::Axis(1).encoder, 250);
    EXPECT_EQ(motorState.MotorPos1E, 250);
    EXPECT_EQ(GetText(state.testpanel, TEST_GRATING_POS), "250");

    motion6k::ClearTrace();
    Script("commit TEST.MOTOR_STOP\n");
    EXPECT_EQ(motion6k::Commands(), (Commands{"!S:", "MC0000:"}));
}

TEST_F(MotorsTest, DeviceTestRefreshesBothWavelengthListsFromTheFile) {
    SwitchOn();
    // Another program rewrote the table meanwhile.
    wvTable.nWV_FileIO = 2;
    wvTable.Data[0].wavelength = 5000.0f;
    wvTable.Data[1].wavelength = 6000.5f;
    wvTable.CurrentSelectWV_FileIO = 1;
    ASSERT_EQ(WriteFileF(kLintabWriteFailure, (dir / "Wv.ini").string()), 1);
    ResetWavelengthTable();
    Script("commit MAIN.TEST\n");
    for (auto [panel, control] : {std::pair{MotorPage(), MOTOR_PAGE_WVLIST},
                                  std::pair{state.testpanel, TEST_WVLIST}}) {
        EXPECT_EQ(ListLabels(panel, control), (std::vector<std::string>{"5000.00", "6000.50"}));
        int selected = -1;
        ui::GetCtrlIndex(panel, control, &selected);
        EXPECT_EQ(selected, 1);
    }
    int dimmed = 1;
    ui::GetCtrlAttribute(state.testpanel, TEST_MOTOR_INC, ui::ATTR_DIMMED, &dimmed);
    EXPECT_EQ(dimmed, 0);
}

TEST_F(MotorsTest, GarbageRepliesKeepTheLastKnownValuesAndSaySo) {
    SwitchOn();
    OnDispatch([] { motorState.MotorPos1E = 77; });
    motion6k::OverrideReply("1TPE", "123456789012\n");
    OnDispatch([] { GratingMotorPosCheck(); });
    EXPECT_EQ(GetText(state.testpanel, TEST_GRATING_POS), "12345678901");  // cut to 11
    EXPECT_EQ(motorState.MotorPos1E, 77);  // beyond 32 bits: kept
    EXPECT_TRUE(Contains(Status(), "Grating encoder reply \"12345678901\" is not a position"));

    motion6k::OverrideReply("1TPE", "-2147483648\r\n");
    OnDispatch([] { GratingMotorPosCheck(); });
    EXPECT_EQ(motorState.MotorPos1E, -2147483647 - 1);
    motion6k::OverrideReply("1TPE", "12ab\n");
    OnDispatch([] { GratingMotorPosCheck(); });
    EXPECT_EQ(motorState.MotorPos1E, -2147483647 - 1);

    // A status reply too short for characters 17 and 18 keeps the flags.
    OnDispatch([] { motorState.GratingLimitCurrentState[0] = 1; });
    motion6k::OverrideReply("1TAS", "0000_0000_0000_00\n");
    OnDispatch([] { LimitIndicate(1); });
    EXPECT_EQ(motorState.GratingLimitCurrentState[0], 1);
    EXPECT_TRUE(Contains(Status(), "Grating status reply too short; limit flags kept."));
    // Only '1' sets a flag.
    motion6k::OverrideReply("1TAS", "0000_0000_0000_0021_0000_0000_0000_0000\n");
    OnDispatch([] { LimitIndicate(1); });
    EXPECT_EQ(motorState.GratingLimitCurrentState[0], 0);
    EXPECT_EQ(motorState.GratingLimitCurrentState[1], 1);
}

TEST_F(MotorsTest, AGratingMoveThatNeverEndsIsStoppedAfterTheTimeOut) {
    motion6k::SimulatorConfig config;
    config.axis1NeverStops = true;
    motion6k::Configure(config);
    SwitchOn();
    const double before = InstrumentSeconds();
    OnDispatch([] { Gratingtracking(kTrackAbsolute, 2000); });
    EXPECT_GE(InstrumentSeconds() - before, kGratingMoveTimeout);
    EXPECT_TRUE(Contains(Status(), "Grating move did not end within 60 s: motion stopped."));
    const Commands sent = motion6k::Commands();
    const auto stop = std::find(sent.begin(), sent.end(), "!S:");
    ASSERT_NE(stop, sent.end());
    EXPECT_EQ(*(stop - 1), "!1TAS.1:");
    EXPECT_EQ(motorState.MotorPos1E, 2000);  // the axis itself arrived

    // A controller that stopped answering ends the same way.
    config.axis1NeverStops = false;
    config.silent = true;
    motion6k::Configure(config);
    ASSERT_NE(Open_6KE("127.0.0.60"), 0);
    OnDispatch([] { Gratingtracking(kTrackRelative, 100); });
    EXPECT_TRUE(Contains(Status(), "Grating status: no reply; limit flags kept."));
    EXPECT_EQ(motorState.MotorPos1E, 2000);
}

TEST_F(MotorsTest, QuittingDisconnectsTheMotors) {
    SwitchOn();
    Script("commit MAIN.QUIT\n");
    ASSERT_TRUE(Eventually([] { return !ui::detail::DispatcherRunning(); }));
    program.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(state.Motor_status, kDeviceOff);
    EXPECT_FALSE(motion6k::LinkOpen());
    EXPECT_EQ(motion6k::Commands().front(), "OUT0001:");
    EXPECT_EQ(motion6k::Commands().back(), "DRIVE0000:");
}

}  // namespace
}  // namespace pelu
