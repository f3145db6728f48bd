// The observer's scanner controls, driven through the headless front-end.
#include "tests/scanner/scanner_fixture.h"

namespace pelu::testing {
namespace {

using ui::testing::Eventually;

bool StatusHas(const std::string& text) {
    return GetText(state.mainPanel, MAIN_STATUS).find(text) != std::string::npos;
}

TEST_F(ScannerTest, SwitchWithoutControllerStopsAfterTheMessage) {
    Sim("fault no_controller");
    Script("commit MAIN.SCAN_TOGGLE\n");
    EXPECT_TRUE(StatusHas("Device is NOT opened! 0 \n "));
    const std::string failed =
        "The scanner controller was not switched on: opening device #0 failed. Check that the "
        "controller is powered and its cable is connected.";
    EXPECT_TRUE(StatusHas("\n" + failed + "\n"));
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(frontEnd.Popups()[0].title, "Error");
    EXPECT_EQ(frontEnd.Popups()[0].text, failed);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_LED), 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_TOGGLE), 0);
    EXPECT_FALSE(TimerEnabled());
    EXPECT_TRUE(Dimmed(state.mainPanel, MAIN_RUN));
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
    EXPECT_EQ(state.PmacAccessible, 0);

    // The jogs and the upload say so instead of calling the library.
    SlitStepDecrease(state.testpanel, TEST_JOG_DEC, ui::EVENT_COMMIT, nullptr, 0, 0);
    upload_data(state.mainPanel, MAIN_UPLOAD, ui::EVENT_COMMIT, nullptr, 0, 0);
    EXPECT_EQ(scanner.g_nJogPosition, 0);
    EXPECT_EQ(Trace(), std::vector<std::string>{"<open>"});
    EXPECT_TRUE(StatusHas("Scanner is not connected."));
}

TEST_F(ScannerTest, AControllerThatNeverAnswersIsNotSwitchedOn) {
    Sim("fault no_reply");
    Script("commit MAIN.SCAN_TOGGLE\n");
    EXPECT_TRUE(StatusHas("the controller opened but does not answer (no reply to i900)"));
    EXPECT_FALSE(StatusHas("Amp is turned ON"));
    EXPECT_FALSE(StatusHas("\ni900="));
    ASSERT_EQ(frontEnd.Popups().size(), 1u);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_LED), 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_TOGGLE), 0);
    EXPECT_FALSE(TimerEnabled());
    EXPECT_NE(state.Scanner_status, kDeviceOn);
    EXPECT_EQ(state.PmacAccessible, 0);
    EXPECT_FALSE(ScannerConnected());
    // The link was closed: the library holds no open device.
    EXPECT_EQ(Trace().back(), "<close>");
}

TEST_F(ScannerTest, AnUnpoweredAmplifierIsSaidAtSwitchOn) {
    Sim("fault amp_unpowered");
    ui::PostEvent(state.mainPanel, MAIN_SCAN_TOGGLE, ui::EVENT_COMMIT);
    ASSERT_TRUE(Eventually([this] { return state.PmacAccessible == 1 && TimerEnabled(); }));
    for (int tick = 0; tick < 2000 && TimerEnabled(); ++tick) {
        Script("tick MAIN.AMP_TIMER\n");
        os::Sleep(5);
    }
    EXPECT_NE(scanner.g_nAmpOnSeq, 30);  // never homed
    EXPECT_TRUE(StatusHas("\nAmp is not powered: the stage cannot be homed and no scan can run."));
    EXPECT_FALSE(StatusHas("Amp is turned ON"));
    Script("expect popup \"Amp is not powered.\"\n");
    Script("commit MAIN.SCAN_TOGGLE\n");
    EXPECT_TRUE(Eventually([] { return state.Scanner_status == kDeviceOff; }));
}

TEST_F(ScannerTest, JogStepsAndZero) {
    Open();
    state.Scanner_status = kDeviceOn;
    Script("commit MAIN.TEST\n"
           "set TEST.JOGSTEP 5\n"
           "commit TEST.JOG_DEC\n"
           "commit TEST.JOG_INC\n"
           "commit TEST.JOG_DEC\n"
           "commit TEST.ZERO\n"
           "commit TEST.JOG_DEC\n"
           "set TEST.JOGSTEP abc\n"
           "commit TEST.JOG_INC\n");
    std::vector<std::string> jogs;
    for (const std::string& line : Trace())
        if (line.rfind("#1J=", 0) == 0 || line == "HMZ") jogs.push_back(line);
    EXPECT_EQ(jogs, (std::vector<std::string>{"#1J=50", "#1J=0", "#1J=50", "HMZ", "#1J=50",
                                              "#1J=50"}));
    EXPECT_EQ(scanner.g_nJogPosition, 50);
}

TEST_F(ScannerTest, CommandLineGoesToTheSelectedDevice) {
    Open();
    state.Scanner_status = kDeviceOn;
    Script("commit MAIN.TEST\n"
           "set TEST.COMMAND i900\n"
           "key TEST.COMMAND enter\n");
    EXPECT_TRUE(Eventually([] {
        return GetText(state.testpanel, TEST_REPLY).find("Scanner> i900\n") != std::string::npos;
    }));
    EXPECT_EQ(GetText(state.testpanel, TEST_COMMAND), "");
    EXPECT_EQ(Trace().back(), "i900");

    Script("commit TEST.RADIO_MOTOR\n");
    EXPECT_EQ(GetInt(state.testpanel, TEST_RADIO_SCAN), 0);
    EXPECT_EQ(GetInt(state.testpanel, TEST_RADIO_MOTOR), 1);
    Sim("clear_trace");
    Script("set TEST.COMMAND 1GO:\nkey TEST.COMMAND enter\n");
    EXPECT_TRUE(Eventually([] {
        return GetText(state.testpanel, TEST_REPLY).find("6K_Motor> 1GO:\n") != std::string::npos;
    }));
    EXPECT_TRUE(Trace().empty());  // nothing went to the scanner

    // Both radios on: nothing is sent anywhere.
    ui::SetCtrlVal(state.testpanel, TEST_RADIO_SCAN, 1);
    const std::string replies = GetText(state.testpanel, TEST_REPLY);
    Script("set TEST.COMMAND i900\nkey TEST.COMMAND enter\n");
    EXPECT_TRUE(Eventually([] { return GetText(state.testpanel, TEST_COMMAND).empty(); }));
    EXPECT_EQ(GetText(state.testpanel, TEST_REPLY), replies);
    EXPECT_TRUE(Trace().empty());
}

TEST_F(ScannerTest, SwitchOnHomesAndMonitorsUntilSwitchedOff) {
    ui::PostEvent(state.mainPanel, MAIN_SCAN_TOGGLE, ui::EVENT_COMMIT);
    // The switch lights the lamp and enables the amp timer just after the
    // controller opens.
    ASSERT_TRUE(Eventually([this] { return state.PmacAccessible == 1 && TimerEnabled(); }));
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_SCAN_LED), 1);
    for (int tick = 0; tick < 2000 && TimerEnabled(); ++tick) {
        Script("tick MAIN.AMP_TIMER\n");
        os::Sleep(5);
    }
    EXPECT_EQ(scanner.g_nAmpOnSeq, 30);
    EXPECT_FALSE(Dimmed(state.mainPanel, MAIN_RUN));
    // The monitoring loop keeps the position and in-position flag current.
    EXPECT_TRUE(Eventually([] {
        return GetText(state.mainPanel, MAIN_POSITION) == "0.0" && state.Scanner_InPosition == 1;
    }));

    // Off during a scan is refused.
    state.Scanning = 1;
    Script("commit MAIN.SCAN_TOGGLE\nexpect popup \"Motor is still running.\"\n");
    EXPECT_EQ(state.Scanner_status, kDeviceOn);
    state.Scanning = 0;

    Script("commit MAIN.SCAN_TOGGLE\n");
    EXPECT_TRUE(Eventually([] { return StatusHas("Device is Closed! 0 \n "); }));
    EXPECT_EQ(state.Scanner_status, kDeviceOff);
    for (int lamp : {MAIN_SCAN_LED, MAIN_INPOS_LED, MAIN_M137_LED, MAIN_NEGLIM_LED, MAIN_M131_LED})
        EXPECT_EQ(GetInt(state.mainPanel, lamp), 0);
    EXPECT_FALSE(TimerEnabled());
    // Nothing was sent after the close.
    const std::vector<std::string> trace = Trace();
    EXPECT_EQ(trace.back(), "<close>");
}

}  // namespace
}  // namespace pelu::testing
