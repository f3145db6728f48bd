// The simulated motion controller, through the library calls the programs use.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/motion6k/motion6k.h"
#include "platform/motion6k/simulator.h"

namespace {

std::string Ask(const std::string& command) {
    Write_6KE(command.c_str());
    char reply[kMotion6kReplySize];
    Read_HS(reply, sizeof reply);
    return reply;
}

// Polls (real time) until axis `axis` stands; false when it never does.
bool WaitUntilStopped(int axis) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (motion6k::Axis(axis).moving) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class Motion6kSimTest : public ::testing::Test {
protected:
    void SetUp() override { motion6k::Reset(); }
    void TearDown() override { motion6k::Reset(); }
    void OpenEnabled() {
        ASSERT_NE(Open_6KE("127.0.0.60"), 0);
        Write_6KE("DRIVE1111:");
    }
};

TEST_F(Motion6kSimTest, LinkOpensOnlyAtTheConfiguredAddressAndHonoursItsFaults) {
    EXPECT_EQ(Open_6KE("127.0.0.61"), 0);
    EXPECT_EQ(Open_6KE(""), 0);
    EXPECT_EQ(Open_6KE(nullptr), 0);
    EXPECT_FALSE(motion6k::LinkOpen());
    // A closed link refuses writes: recorded, not acted on.
    EXPECT_EQ(Write_6KE("DRIVE1111:"), 0);
    EXPECT_FALSE(motion6k::Axis(1).driveEnabled);
    EXPECT_EQ(Initialize_6KE(), 0);

    EXPECT_NE(Open_6KE("127.0.0.60"), 0);
    EXPECT_NE(Initialize_6KE(), 0);
    EXPECT_TRUE(motion6k::LinkInitialised());
    EXPECT_NE(Close_6KE(), 0);
    EXPECT_FALSE(motion6k::LinkOpen());

    motion6k::SimulatorConfig config;
    config.address = "10.1.2.3";
    config.openFails = true;
    motion6k::Configure(config);
    EXPECT_EQ(Open_6KE("10.1.2.3"), 0);
    config.openFails = false;
    config.initialiseFails = true;
    config.closeFails = true;
    motion6k::Configure(config);
    EXPECT_NE(Open_6KE("10.1.2.3"), 0);
    EXPECT_EQ(Initialize_6KE(), 0);
    EXPECT_EQ(Close_6KE(), 0);
    EXPECT_TRUE(motion6k::LinkOpen());

    const auto calls = motion6k::Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "Open_6KE 127.0.0.61");
    EXPECT_EQ(calls[3], "Write_6KE DRIVE1111:");
    EXPECT_EQ(motion6k::Commands().front(), "DRIVE1111:");
}

TEST_F(Motion6kSimTest, RepliesHaveTheShapesTheProgramsRead) {
    OpenEnabled();
    // 32 status bits in groups of four: bit k at k - 1 + (k - 1) / 4.
    const std::string status = Ask("!1TAS:");
    ASSERT_EQ(status.size(), 40u) << status;
    EXPECT_EQ(status.back(), '\n');
    EXPECT_EQ(status[4], '_');
    EXPECT_EQ(status[0], '0');  // not moving
    EXPECT_EQ(status[5], '1');  // drive enabled
    EXPECT_EQ(status[17], '0');
    EXPECT_EQ(status[18], '0');
    EXPECT_EQ(Ask("!1TAS.1:"), "0\n");
    EXPECT_EQ(Ask("!1TAS.5:"), "1\n");
    EXPECT_EQ(Ask("!1TPE:"), "12345\n");  // start position, nothing zeroed yet
    EXPECT_EQ(Ask("!2TPC:"), "-2500\n");
    EXPECT_EQ(Ask("FOO:"), "?FOO\n");
    EXPECT_EQ(Ask("5GO:"), "?5GO\n");
    EXPECT_EQ(Ask("1TAS.33:"), "?1TAS.33\n");
    // A text without its delimiter is not a command yet.
    EXPECT_EQ(Ask("!1TPE"), "");

    // Read_HS never writes past the buffer it is given, and a read empties the reply.
    Write_6KE("!1TPE:");
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_NE(Read_HS(small, sizeof small), 0);
    EXPECT_STREQ(small, "123");
    EXPECT_EQ(Read_HS(small, sizeof small), 0);
    EXPECT_STREQ(small, "");
}

TEST_F(Motion6kSimTest, MovesTakeTimeAndStopAtTheLimitSwitches) {
    OpenEnabled();
    Write_6KE("1D-100000:1GO:");  // two commands in one write
    EXPECT_TRUE(motion6k::Axis(1).moving);
    EXPECT_EQ(Ask("!1TAS.1:"), "1\n");
    ASSERT_TRUE(WaitUntilStopped(1));
    // The negative switch at -60000 ended the move early and stays active.
    EXPECT_EQ(motion6k::Axis(1).encoder, -60000);
    std::string status = Ask("!1TAS:");
    EXPECT_EQ(status[17], '0');
    EXPECT_EQ(status[18], '1');
    // Further into the switch nothing moves; out of it the axis goes.
    Write_6KE("1D-10:");
    Write_6KE("1GO:");
    EXPECT_FALSE(motion6k::Axis(1).moving);
    EXPECT_EQ(motion6k::Axis(1).encoder, -60000);
    Write_6KE("1D700000:");
    Write_6KE("1GO:");
    ASSERT_TRUE(WaitUntilStopped(1));
    EXPECT_EQ(motion6k::Axis(1).encoder, 600000);
    status = Ask("!1TAS:");
    EXPECT_EQ(status[17], '1');
    EXPECT_EQ(status[18], '0');

    // "!S:" freezes every axis where it is.
    Write_6KE("3D-50000 :");  // a blank before ':' is allowed
    Write_6KE("3GO:");
    ASSERT_TRUE(motion6k::Axis(3).moving);
    Write_6KE("!S:");
    const auto stopped = motion6k::Axis(3);
    EXPECT_FALSE(stopped.moving);
    EXPECT_LT(stopped.encoder, 800);
    EXPECT_GT(stopped.encoder, 800 - 50000);
}

TEST_F(Motion6kSimTest, DrivesHomingAndCounterPresets) {
    ASSERT_NE(Open_6KE("127.0.0.60"), 0);
    // Drives off: a GO does nothing and homing leaves the axis alone.
    Write_6KE("1D1000:");
    Write_6KE("1GO:");
    EXPECT_FALSE(motion6k::Axis(1).moving);
    Write_6KE("DRIVE1X01:");
    EXPECT_TRUE(motion6k::Axis(1).driveEnabled);
    EXPECT_FALSE(motion6k::Axis(2).driveEnabled);
    EXPECT_TRUE(motion6k::Axis(4).driveEnabled);
    Write_6KE("HOMING:");
    ASSERT_TRUE(WaitUntilStopped(1));
    EXPECT_EQ(motion6k::Axis(1).encoder, 0);
    EXPECT_EQ(motion6k::Axis(1).position, 0);
    EXPECT_EQ(motion6k::Axis(2).encoder, -2500);  // drive off: not homed
    EXPECT_EQ(Ask("!1TAS.9:"), "1\n");
    EXPECT_EQ(Ask("!2TAS.9:"), "0\n");

    Write_6KE("PESET100,,X,-7:");
    EXPECT_EQ(motion6k::Axis(1).encoder, 100);
    EXPECT_EQ(motion6k::Axis(1).position, 0);  // the position counter is separate
    EXPECT_EQ(motion6k::Axis(2).encoder, -2500);
    EXPECT_EQ(motion6k::Axis(4).encoder, -7);
    Write_6KE("PSET0,0,0,0:");
    EXPECT_EQ(motion6k::Axis(2).position, 0);
    EXPECT_EQ(Ask("PSET1,2:"), "");
    EXPECT_EQ(Ask("PSET1,2,3,4,5:"), "?PSET1,2,3,4,5\n");
    EXPECT_EQ(Ask("DRIVE11:"), "");
    EXPECT_EQ(Ask("DRIVE11111:"), "?DRIVE11111\n");

    // Disabling a drive stops its axis.
    Write_6KE("DRIVE1111:");
    Write_6KE("2D90000:");
    Write_6KE("2GO:");
    ASSERT_TRUE(motion6k::Axis(2).moving);
    Write_6KE("DRIVE1011:");
    EXPECT_FALSE(motion6k::Axis(2).moving);
}

TEST_F(Motion6kSimTest, OutputsFollowTheirPatterns) {
    ASSERT_NE(Open_6KE("127.0.0.60"), 0);
    EXPECT_EQ(motion6k::Outputs(), "0000");
    Write_6KE("OUT0010:");
    EXPECT_EQ(motion6k::Outputs(), "0010");
    Write_6KE("OUT1X01:");
    EXPECT_EQ(motion6k::Outputs(), "1001");
    EXPECT_EQ(Ask("TOUT:"), "1001\n");
    EXPECT_EQ(Ask("OUT2:"), "?OUT2\n");
    EXPECT_EQ(motion6k::Outputs(), "1001");
}

TEST_F(Motion6kSimTest, SilentControllerStuckMovingBitAndGarbageReplies) {
    motion6k::SimulatorConfig config;
    config.silent = true;
    motion6k::Configure(config);
    ASSERT_NE(Open_6KE("127.0.0.60"), 0);
    EXPECT_NE(Write_6KE("DRIVE1111:"), 0);  // the write goes out ...
    EXPECT_FALSE(motion6k::Axis(1).driveEnabled);  // ... and nothing answers or acts
    EXPECT_EQ(Ask("!1TPE:"), "");

    config.silent = false;
    config.axis1NeverStops = true;
    motion6k::Configure(config);
    ASSERT_NE(Open_6KE("127.0.0.60"), 0);
    EXPECT_EQ(Ask("!1TAS.1:"), "1\n");  // standing, yet "moving"
    EXPECT_FALSE(motion6k::Axis(1).moving);

    motion6k::OverrideReply("1TPE", "123456789012\n");
    EXPECT_EQ(Ask("!1TPE:"), "123456789012\n");
    EXPECT_EQ(Ask("!2TPE:"), "-2500\n");
    motion6k::ClearReplyOverrides();
    EXPECT_EQ(Ask("!1TPE:"), "12345\n");
}

}  // namespace
