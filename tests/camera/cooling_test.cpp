// Coolers, the temperature watch, the warm-up and the history plot; and the
// camera threads running together.
#include <atomic>
#include <chrono>
#include <thread>

#include "camera/camera_lock.h"
#include "control/monitoring.h"
#include "tests/camera/camera_fixture.h"

namespace pelu {
namespace {

using testing::CameraTest;

// Cools a camera to `celsius` and has it held there long enough.
void Cold(int index, int celsius) {
    SetCurrentCamera(camsim::HandleOfIndex(index));
    SetTemperature(celsius);
    CoolerON();
    camsim::SetSensorTemperature(index, celsius, true);
}

TEST_F(CameraTest, BothCoolersOffStartsNoWatch) {
    CamerasOn();
    camsim::ClearTrace();
    EXPECT_EQ(TempSet(1, 1, -70, -70), 1);
    EXPECT_EQ(camsim::TraceTexts(),
              (std::vector<std::string>{"SetCurrentCamera(100)", "CoolerOFF()",
                                        "SetCurrentCamera(101)", "CoolerOFF()"}));
    EXPECT_EQ(ccd.temp_thread, 1);
    EXPECT_TRUE(CoolingHistory().empty());
}

TEST_F(CameraTest, WatchEndsWithOneLineWhenBothCamerasAreStable) {
    CamerasOn();
    Cold(0, -70);
    Cold(1, -69);
    EXPECT_EQ(TempSet(0, 0, -70, -69), 1);
    EXPECT_EQ(Count(Status(), "Temperature Stabilized!\n"), 1u);
    EXPECT_EQ(Cooling(), "Temperature Stabilized!\n");
    EXPECT_EQ(ccd.temp_thread, 1);
    // The main panel shows each sensor and its cooler's state.
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD1_TEMP), "-70 °C, stable");
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD2_TEMP), "-69 °C, stable");
    EXPECT_TRUE(camsim::Inspect(0).coolerOn);
    EXPECT_EQ(camsim::Inspect(1).setPoint, -69);
}

TEST_F(CameraTest, WatchReportsEverySecondUntilStableAndPlotsTheHistory) {
    CamerasOn();
    EXPECT_EQ(TempSet(0, 0, 0, 5), 1);  // from 20 C: about 13 s cooling, 10 s holding
    const std::string cooling = Cooling();
    const size_t lines = Count(cooling, "CCD1: ");
    EXPECT_GE(lines, 5u);   // about 23 at full speed; a loaded host gives fewer
    EXPECT_LE(lines, 40u);
    EXPECT_NE(cooling.find("CCD1: 0 C CCD2: 5 C\n"), std::string::npos);  // held at the set points
    EXPECT_EQ(Count(cooling, "Temperature Stabilized!\n"), 1u);
    EXPECT_EQ(cooling.substr(cooling.size() - 24), "Temperature Stabilized!\n");

    const auto history = CoolingHistory();
    ASSERT_GE(history.size(), lines);
    EXPECT_EQ(history.back().setPoint1, 0);
    EXPECT_EQ(history.back().setPoint2, 5);
    EXPECT_LT(history.front().seconds, history.back().seconds);
    std::vector<ui::Plot> plots;
    ASSERT_EQ(ui::GetGraphPlots(state.testpanel, TEST_TEMP_GRAPH, &plots), 0);
    ASSERT_EQ(plots.size(), 4u);  // set point and sensor of each camera
    EXPECT_EQ(plots[1].y.back(), 0.0);
    EXPECT_EQ(plots[3].y.back(), 5.0);
}

TEST_F(CameraTest, TheMainPanelShowsTheSensorsWhileTheCamerasAreOn) {
    ShowSensorStates();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD1_TEMP), "");  // cameras off
    CamerasOn();
    ShowSensorStates();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD1_TEMP), "20 °C, off");
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD2_TEMP), "20 °C, off");
    // Cooling camera 1 towards -70 C, not there yet.
    SetCurrentCamera(camsim::HandleOfIndex(0));
    SetTemperature(-70);
    CoolerON();
    ccd.setPoint1 = -70;
    ShowSensorStates();
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD1_TEMP).find("°C → -70 °C"), 3u);
}

TEST_F(CameraTest, ReadingTheSensorsForThePanelLeavesTheCurrentCameraCurrent) {
    // A scan of camera 1 takes its frames from the current camera; the
    // panel's sensor read that comes in the middle must not hand it camera 2.
    CamerasOn();
    for (int handle : {state.nCameraHandle1.load(), state.nCameraHandle2.load()}) {
        SetCurrentCamera(handle);
        ShowSensorStates();
        int32_t current = 0;
        GetCurrentCamera(&current);
        EXPECT_EQ(current, handle);
    }
    EXPECT_EQ(GetText(state.mainPanel, MAIN_CCD2_TEMP), "20 °C, off");  // both were read
}

TEST_F(CameraTest, FailedCoolerCommandReturnsAtOnce) {
    camsim::Config config;
    config.faults = {{"CoolerON", 0, DRV_ERROR_ACK, camsim::HandleOfIndex(1)}};
    Simulate(config);
    CamerasOn();
    camsim::ClearTrace();
    EXPECT_EQ(TempSet(0, 0, -20, -20), 0);
    EXPECT_EQ(ccd.temp_thread, 0);
    EXPECT_EQ(camsim::TraceTexts().back(), "CoolerON()");
}

TEST_F(CameraTest, WarmUpFromColdReportsEachSecondUntilAboveFiveDegrees) {
    CamerasOn();
    Cold(0, -70);
    Cold(1, -70);
    EXPECT_EQ(CameraQuitCooling(), 1);
    const std::string cooling = Cooling();
    const size_t lines = Count(cooling, "CCD1: ");
    EXPECT_GE(lines, 10u);  // about 75 at full speed (1 C/s); a loaded host gives fewer
    EXPECT_LE(lines, 85u);
    EXPECT_EQ(Count(cooling, "Temperature Stabilized!"), 0u);
    EXPECT_EQ(cooling.find("CCD1: "), 0u);
    EXPECT_GE(camsim::Inspect(0).temperature, 5.0);
    // Passing 5 C first leaves the coolers on at 10 C.
    EXPECT_TRUE(camsim::Inspect(0).coolerOn);
    EXPECT_EQ(camsim::Inspect(1).setPoint, 10);
}

TEST_F(CameraTest, WarmUpEndsStabilisedWithBothCoolersOff) {
    CamerasOn();
    Cold(0, 10);
    Cold(1, 10);
    camsim::ClearTrace();
    EXPECT_EQ(CameraQuitCooling(), 1);
    EXPECT_EQ(Count(Status(), "Temperature Stabilized!\n"), 1u);
    EXPECT_EQ(Cooling(), "Temperature Stabilized!\n");
    const auto trace = camsim::TraceTexts();
    const int off2 = Find(trace, "CoolerOFF()");
    ASSERT_GE(off2, 0);
    EXPECT_EQ(camsim::Trace()[size_t(off2)].handle, state.nCameraHandle2);  // camera 2 first
    const int off1 = Find(trace, "CoolerOFF()", off2 + 1);
    ASSERT_GT(off1, off2);
    EXPECT_EQ(camsim::Trace()[size_t(off1)].handle, state.nCameraHandle1);
    EXPECT_FALSE(camsim::Inspect(0).coolerOn);
    EXPECT_FALSE(camsim::Inspect(1).coolerOn);
}

TEST_F(CameraTest, WarmUpEndsWhenATemperatureCannotBeRead) {
    CamerasOn();
    Cold(0, -70);
    Cold(1, -70);
    camsim::AddFault({"GetTemperature", 0, DRV_ERROR_ACK, 0});
    EXPECT_EQ(CameraQuitCooling(), 1);
    EXPECT_NE(Status().find("cannot be read (error 20013): warm-up ended"), std::string::npos);
}

TEST_F(CameraTest, SingleCameraNeverAddressesHandleZero) {
    camsim::Config one;
    one.cameras = 1;
    Simulate(one);
    CamerasOn();
    camsim::ClearTrace();
    EXPECT_EQ(TempSet(0, 0, 15, 15), 1);
    Cold(0, -70);
    EXPECT_EQ(CameraQuitCooling(), 1);
    for (const std::string& call : camsim::TraceTexts()) EXPECT_NE(call, "SetCurrentCamera(0)");
    EXPECT_NE(Cooling().find("CCD1: "), std::string::npos);
    EXPECT_EQ(Count(Cooling(), "CCD2"), 0u);
    EXPECT_EQ(Count(Cooling(), "Temperature Stabilized!"), 1u);
}

// The monitoring loop, a live acquisition and the temperature watch share
// the camera library; the watch only ends when the warm-up takes over.
TEST_F(CameraTest, MonitoringLiveViewAndTemperatureWatchRunTogether) {
    Configure(1, 4, 10);
    state.pelu_take_mode = 1;  // the live view keeps making camera 2 current
    state.PmacAccessible = 1;
    int monitor = 0;
    ui::ScheduleThreadFunction(MonitoringThreadFunction, &monitor);
    std::atomic<bool> live{true};
    std::atomic<int> liveFrames{0};
    std::thread liveView([&] {
        while (live) {
            CameraSession session(state.nCameraHandle2);
            if (TakeImage(state.nhDim2, state.nvDim2, state.nCameraHandle2, 0)) ++liveFrames;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the display's turn
        }
    });
    // Camera 2's cooler stays off, so the watch runs until the warm-up.
    std::thread watch([] { TempSet(0, 1, -20, 0); });
    ASSERT_TRUE(ui::testing::Eventually([this] { return Count(Cooling(), "CCD1: ") >= 3; },
                                        std::chrono::seconds(60)));
    for (int step = 1; step <= 10; ++step) {
        state.Scanpos_CCDframe = step;
        state.take = 1;
        ASSERT_TRUE(ui::testing::Eventually([] { return state.take == 0; }, std::chrono::seconds(60)));
    }
    CameraQuitCooling();
    watch.join();
    live = false;
    liveView.join();
    state.PmacAccessible = 0;
    ui::WaitForThreadFunctionCompletion(monitor);
    ui::ReleaseThreadFunctionID(monitor);
    EXPECT_GT(liveFrames.load(), 0);
    const size_t frame = size_t(state.nhDim1) * size_t(state.nvDim1);
    for (int f = 0; f < 10; ++f)
        EXPECT_TRUE(std::any_of(state.g_pRawData.get() + f * frame,
                                state.g_pRawData.get() + (f + 1) * frame, [](uint16_t v) { return v; }));
    EXPECT_TRUE(frontEnd.Popups().empty());
}

}  // namespace
}  // namespace pelu
