// The scanner connection: binding, opening and closing, the amp-on and
// homing sequence, and the reads of the monitoring loop.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/scanner/scanner_fixture.h"

namespace pelu::testing {
namespace {

TEST(ControllerReplies, NumbersOutOfRangeAreRefusedNotConverted) {
    double number = 0;
    EXPECT_TRUE(ParseReplyNumber("-1234.5\r", &number));
    EXPECT_DOUBLE_EQ(number, -1234.5);
    // Beyond a float once divided into stage units, or not finite: refused.
    for (const char* reply : {"1e300", "-1e40", "inf", "nan", "", "\r", "x12"})
        EXPECT_FALSE(ParseReplyNumber(reply, &number)) << reply;
    EXPECT_DOUBLE_EQ(number, -1234.5);  // left as it was

    int integer = 0;
    EXPECT_TRUE(ParseReplyInteger("17\r", &integer));
    EXPECT_EQ(integer, 17);
    EXPECT_TRUE(ParseReplyInteger("-2147483648", &integer));
    EXPECT_EQ(integer, -2147483647 - 1);
    for (const char* reply : {"2147483648", "99999999999999999999", "", "abc"})
        EXPECT_FALSE(ParseReplyInteger(reply, &integer)) << reply;
}

TEST_F(ScannerTest, MissingLibraryIsReportedAndNothingIsBound) {
    setenv(kPmacLibraryVariable, "/nonexistent/libpelu_pmac.so", 1);
    EXPECT_EQ(ScanOpen(), 0);
    unsetenv(kPmacLibraryVariable);
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "PMAC");
    EXPECT_EQ(popups[0].text, "Error in loading PMAC library.");
    EXPECT_EQ(scanner.h_PmacLib, nullptr);
    EXPECT_EQ(scanner.DeviceGetResponse, nullptr);
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
    EXPECT_FALSE(ScannerConnected());
    getresponse("#1P");  // must not call into an unbound library
    EXPECT_NE(Status().find("Scanner is not connected."), std::string::npos);
}

TEST_F(ScannerTest, DevicesIniNamingAMissingFileIsRefusedWithTheReason) {
    std::ofstream("devices.ini") << "scanner = /nonexistent/libsite_pmac.so\n";
    EXPECT_EQ(ScanOpen(), 0);
    std::remove("devices.ini");
    auto popups = frontEnd.Popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].text, "Error in loading PMAC library.");
    EXPECT_NE(Status().find("Scanner library /nonexistent/libsite_pmac.so does not exist (named "
                            "by the scanner line of devices.ini"),
              std::string::npos)
        << Status();
    EXPECT_EQ(scanner.h_PmacLib, nullptr);
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
}

TEST_F(ScannerTest, SiteLibraryNamedInDevicesIniServesTheScanner) {
    // A copy of the simulator under the site's name is a controller of its own.
    std::filesystem::copy_file(os::ExecutableDirectory() + "/libpelu_pmac.so",
                               workDirectory / "libsite_pmac.so");
    std::ofstream("devices.ini") << "scanner = libsite_pmac.so\n";
    Open();
    EXPECT_NE(Status().find("\nScanner library: " + (workDirectory / "libsite_pmac.so").string() +
                            " (site library from devices.ini, version 1.0)\n"),
              std::string::npos)
        << Status();
    EXPECT_NE(scanner.h_PmacLib, library);
    // The simulator beside the program heard nothing.
    EXPECT_TRUE(Trace().empty());
}

TEST_F(ScannerTest, SwitchOnNamesTheLibraryThatServesTheScanner) {
    Open();
    EXPECT_NE(Status().find("\nScanner library: " + PmacLibraryPath() +
                            " (simulator, version 1.0)\n"),
              std::string::npos)
        << Status();
}

TEST_F(ScannerTest, NoControllerLeavesEveryFlagAsItWas) {
    Sim("fault no_controller");
    EXPECT_EQ(ScanOpen(), 0);
    EXPECT_NE(Status().find("Device is NOT opened! 0 \n "), std::string::npos);
    EXPECT_EQ(state.Scanner_status, kDeviceNeverOpened);
    EXPECT_EQ(state.PmacAccessible, 0);
    EXPECT_EQ(scanner.h_PmacLib, nullptr);
    EXPECT_EQ(Trace(), std::vector<std::string>{"<open>"});
}

TEST_F(ScannerTest, OpenSetsUpTheMotorAndCloseReleasesTheLibrary) {
    Open();
    EXPECT_EQ(state.Scanner_status, kDeviceOn);
    EXPECT_EQ(state.PmacAccessible, 1);
    const std::string status = Status();
    EXPECT_NE(status.find("Device is opened in device #1\nV1.17C 02/14/2003"), std::string::npos);
    // The controller's replies come without line ends: each starts a line of its own.
    EXPECT_NE(status.find("\ni900=3\ni125=$80C000"), std::string::npos) << status;
    const std::vector<std::string> expected = {
        "<open>",     "i900=3",     "i125=$80C000", "i117=0.5", "i130=40000", "i131=1800",
        "i132=1800",  "i133=40000", "i135=0",       "i900",     "i125"};
    EXPECT_EQ(Trace(), expected);

    CloseDevice();
    EXPECT_NE(Status().find("Device is Closed! 0 \n "), std::string::npos);
    EXPECT_EQ(state.Scanner_status, kDeviceOff);
    EXPECT_EQ(state.PmacAccessible, 0);
    EXPECT_EQ(scanner.h_PmacLib, nullptr);
    EXPECT_EQ(scanner.bDriverOpen, 0);
}

TEST_F(ScannerTest, AmpOnJogsToTheLimitThenHomesASecondLater) {
    // Far from the limit, so that the jog lasts a while even on a slow host.
    Sim("position 1000000");
    Open();
    Sim("clear_trace");
    ui::SetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, 1);
    ampon_timer();
    EXPECT_EQ(scanner.g_nAmpOnSeq, 10);
    EXPECT_NE(Status().find("Amp is turned ON\n"), std::string::npos);
    std::vector<std::string> first = Trace();
    const std::vector<std::string> expected = {"#1o0", "#1j/", "m139->Y:$814,14", "m138->X:$3D,18",
                                               "m139", "m138", "m132->X:$3D,22", "j-"};
    EXPECT_EQ(first, expected);

    // While the stage runs to its limit, m132 reads 0 and nothing else is sent.
    Sim("clear_trace");
    ampon_timer();
    EXPECT_EQ(scanner.g_nAmpOnSeq, 10);
    EXPECT_EQ(Trace(), std::vector<std::string>{"m132"});

    double homingTickSeconds = 0;
    for (int tick = 0; tick < 5000 && scanner.g_nAmpOnSeq == 10; ++tick) {
        const auto start = std::chrono::steady_clock::now();
        ampon_timer();
        homingTickSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        os::Sleep(5);
    }
    ASSERT_EQ(scanner.g_nAmpOnSeq, 20);
    // The tick that sent "hm" waited 1.0 s of instrument time first.
    EXPECT_GE(homingTickSeconds, 1.0 * os::TimeScale());
    std::vector<std::string> trace = Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.back(), "hm");
    EXPECT_EQ(trace[trace.size() - 2], "m132");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "hm"), 1);

    Home();
    EXPECT_FALSE(Dimmed(state.mainPanel, MAIN_RUN));
    Ampon_timer(state.mainPanel, MAIN_AMP_TIMER, ui::EVENT_TIMER_TICK, nullptr, 0, 0);
    EXPECT_FALSE(TimerEnabled());
    // The homed stage stands at zero and in position.
    ReadPosition();
    Monitor();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_POSITION), "0.0");
    EXPECT_EQ(state.Scanner_InPosition, 1);
}

TEST_F(ScannerTest, UnpoweredAmplifierStopsTheTimerWithoutHoming) {
    Sim("fault amp_unpowered");
    Open();
    ui::SetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, 1);
    Sim("clear_trace");
    ampon_timer();
    EXPECT_EQ(scanner.g_nAmpOnSeq, 0);
    EXPECT_FALSE(TimerEnabled());
    const std::vector<std::string> trace = Trace();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "j-"), 0);
    EXPECT_EQ(Status().find("Amp is turned ON"), std::string::npos);
}

TEST_F(ScannerTest, HomedStageStopsTheTimerOnItsFirstTickAndFreesTheJogButtons) {
    Open();
    scanner.g_nAmpOnSeq = 30;
    ui::SetCtrlAttribute(state.mainPanel, MAIN_AMP_TIMER, ui::ATTR_ENABLED, 1);
    Sim("clear_trace");
    Script("tick MAIN.AMP_TIMER\n");
    EXPECT_TRUE(ui::testing::Eventually([&] { return !TimerEnabled(); }));
    EXPECT_TRUE(Trace().empty());
    for (int control : {TEST_JOG_DEC, TEST_JOG_INC, TEST_ZERO})
        EXPECT_TRUE(ui::testing::Eventually(
            [&] { return !Dimmed(state.testpanel, control); }));
}

TEST_F(ScannerTest, PositionIsShownInStageUnitsWithOneDecimal) {
    Sim("position 12345");
    Open();
    ReadPosition();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_POSITION), "1234.5");
    EXPECT_FLOAT_EQ(state.scanpos, 1234.5f);
    EXPECT_DOUBLE_EQ(scanner.position, 12345.0);

    // A controller that stops answering leaves the last reading standing.
    Sim("fault no_reply");
    ReadPosition();
    EXPECT_DOUBLE_EQ(scanner.position, 12345.0);
}

TEST_F(ScannerTest, MonitorShowsTheStatusBitsAndTheInPositionFlag) {
    Open();
    Monitor();
    EXPECT_EQ(state.Scanner_InPosition, 1);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_INPOS_LED), 1);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_NEGLIM_LED), 0);
    // The order of the queries is fixed.
    std::vector<std::string> trace = Trace();
    const std::vector<std::string> tail(trace.end() - 4, trace.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"m140", "m137", "m131", "m132"}));

    // While the stage jogs it is not in position.
    getresponse("#1o0");
    getresponse("#1J=50000");
    Monitor();
    EXPECT_EQ(state.Scanner_InPosition, 0);
    EXPECT_EQ(GetInt(state.mainPanel, MAIN_INPOS_LED), 0);
}

TEST_F(ScannerTest, CloseWaitsUntilNoThreadIsInsideTheController) {
    Open();
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::thread reader([&] {
        while (!stop) {
            ReadPosition();
            Monitor();
            ++reads;
        }
    });
    ASSERT_TRUE(ui::testing::Eventually([&] { return reads > 10; }));
    CloseDevice();
    Sim("clear_trace");
    const long after = reads;
    ASSERT_TRUE(ui::testing::Eventually([&] { return reads > after + 10; }));
    stop = true;
    reader.join();
    // Nothing reached the controller once it was closed.
    EXPECT_TRUE(Trace().empty());
    EXPECT_EQ(scanner.h_PmacLib, nullptr);
}

}  // namespace
}  // namespace pelu::testing
