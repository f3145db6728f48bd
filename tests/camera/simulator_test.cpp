// The simulated camera pair behind the C API: initialisation, current
// camera, acquisition timing and data, cooling, faults and the call trace.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/os.h"

namespace camsim {
namespace {

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(Config{}); }
    void TearDown() override { Reset(Config{}); }
    void Open(int index) {
        ASSERT_EQ(SetCurrentCamera(HandleOfIndex(index)), DRV_SUCCESS);
        ASSERT_EQ(Initialize("/tmp"), DRV_SUCCESS);
    }
    // Polls GetStatus until idle; false after `seconds` of real time.
    bool WaitIdle(double seconds) {
        auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (GetStatus(&status) != DRV_SUCCESS) return false;
            if (status == int(DRV_IDLE)) return true;
        }
        return false;
    }
};

TEST_F(SimulatorTest, CamerasAreCountedHandledAndNeedInitialize) {
    int32_t count = -1, handle = 0;
    EXPECT_EQ(GetAvailableCameras(&count), DRV_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(GetCameraHandle(1, &handle), DRV_SUCCESS);
    EXPECT_EQ(handle, HandleOfIndex(1));
    EXPECT_EQ(GetCameraHandle(2, &handle), DRV_P1INVALID);
    EXPECT_EQ(SetCurrentCamera(0), DRV_P1INVALID);  // a handle nobody has
    int x = 0, y = 0;
    EXPECT_EQ(SetCurrentCamera(handle), DRV_SUCCESS);
    EXPECT_EQ(GetDetector(&x, &y), DRV_NOT_INITIALIZED);
    EXPECT_EQ(Initialize("/tmp"), DRV_SUCCESS);
    EXPECT_EQ(GetDetector(&x, &y), DRV_SUCCESS);
    EXPECT_EQ(x, 1004);
    EXPECT_EQ(y, 1002);
    EXPECT_EQ(ShutDown(), DRV_SUCCESS);
    EXPECT_EQ(GetDetector(&x, &y), DRV_NOT_INITIALIZED);

    Config none;
    none.cameras = 0;
    Reset(none);
    EXPECT_EQ(GetAvailableCameras(&count), DRV_SUCCESS);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Initialize("/tmp"), DRV_VXDNOTINSTALLED);
}

TEST_F(SimulatorTest, SettersCheckTheirArguments) {
    Open(0);
    EXPECT_EQ(SetVSSpeed(5), DRV_P1INVALID);  // five speeds, 0..4
    EXPECT_EQ(SetVSSpeed(4), DRV_SUCCESS);
    EXPECT_EQ(SetImage(1, 1, 1, 513, 1, 512), DRV_P4INVALID);
    EXPECT_EQ(SetImage(1, 1, 1, 512, 0, 512), DRV_P5INVALID);
    EXPECT_EQ(SetEMCCDGain(256), DRV_P1INVALID);
    EXPECT_EQ(SetShutter(1, 3, 1, 1), DRV_P2INVALID);
    EXPECT_EQ(SetTemperature(-101), DRV_P1INVALID);
    EXPECT_EQ(IsTriggerModeAvailable(10), DRV_SUCCESS);
    Open(1);
    EXPECT_EQ(IsTriggerModeAvailable(10), DRV_NOT_AVAILABLE);
    EXPECT_EQ(SetTemperature(-81), DRV_P1INVALID);
}

TEST_F(SimulatorTest, AcquisitionTakesExposurePlusReadoutThenDeliversTheFrame) {
    Open(0);
    ASSERT_EQ(SetImage(2, 2, 1, 512, 1, 512), DRV_SUCCESS);
    // 200 ms at the tests' time scale: long enough that the calls below come
    // while it runs even on a loaded host (the read-out worker may have
    // rendered the frame long before).
    ASSERT_EQ(SetExposureTime(20.0f), DRV_SUCCESS);
    std::vector<uint16_t> frame(256 * 256);
    ASSERT_EQ(StartAcquisition(), DRV_SUCCESS);
    int status = 0;
    EXPECT_EQ(GetStatus(&status), DRV_SUCCESS);
    EXPECT_EQ(status, int(DRV_ACQUIRING));
    EXPECT_EQ(GetAcquiredData16(frame.data(), uint32_t(frame.size())), DRV_ACQUIRING);
    EXPECT_EQ(StartAcquisition(), DRV_ACQUIRING);
    ASSERT_TRUE(WaitIdle(5.0));
    EXPECT_GE(Inspect(0).lastAcquisitionSeconds, 20.0);
    EXPECT_EQ(GetAcquiredData16(frame.data(), uint32_t(frame.size()) + 1), DRV_P2INVALID);
    ASSERT_EQ(GetAcquiredData16(frame.data(), uint32_t(frame.size())), DRV_SUCCESS);
    double mean = 0;
    for (uint16_t v : frame) mean += v;
    EXPECT_GT(mean / double(frame.size()), 1100.0);  // light on a 20 s exposure
}

TEST_F(SimulatorTest, FrameTransferWithKineticsGivesASeriesAndRunTillAbortNeverEnds) {
    Open(0);
    ASSERT_EQ(SetImage(4, 4, 1, 512, 1, 512), DRV_SUCCESS);
    ASSERT_EQ(SetExposureTime(0.01f), DRV_SUCCESS);
    ASSERT_EQ(SetFrameTransferMode(1), DRV_SUCCESS);
    ASSERT_EQ(SetNumberKinetics(5), DRV_SUCCESS);
    ASSERT_EQ(StartAcquisition(), DRV_SUCCESS);
    ASSERT_TRUE(WaitIdle(5.0));
    std::vector<uint16_t> series(5 * 128 * 128);
    ASSERT_EQ(GetAcquiredData16(series.data(), uint32_t(series.size())), DRV_SUCCESS);
    EXPECT_NE(std::vector<uint16_t>(series.begin(), series.begin() + 128 * 128),
              std::vector<uint16_t>(series.end() - 128 * 128, series.end()));  // fresh noise per frame

    ASSERT_EQ(SetFrameTransferMode(0), DRV_SUCCESS);
    ASSERT_EQ(SetAcquisitionMode(5), DRV_SUCCESS);
    ASSERT_EQ(StartAcquisition(), DRV_SUCCESS);
    EXPECT_FALSE(WaitIdle(0.2));
    EXPECT_EQ(AbortAcquisition(), DRV_SUCCESS);
    int status = 0;
    EXPECT_EQ(GetStatus(&status), DRV_SUCCESS);
    EXPECT_EQ(status, int(DRV_IDLE));
    EXPECT_EQ(AbortAcquisition(), DRV_IDLE);
}

TEST_F(SimulatorTest, CoolerApproachesTheSetPointAndReportsStabilisedAfterHolding) {
    Open(0);
    int t = 0;
    EXPECT_EQ(GetTemperature(&t), DRV_TEMP_OFF);
    EXPECT_EQ(t, 20);
    ASSERT_EQ(SetTemperature(-10), DRV_SUCCESS);
    ASSERT_EQ(CoolerON(), DRV_SUCCESS);
    os::Delay(5.0);  // 1.5 C/s: about -7.5 C on the way
    EXPECT_EQ(GetTemperature(&t), DRV_TEMP_NOT_REACHED);
    EXPECT_LT(t, 16);
    EXPECT_GT(t, -10);
    os::Delay(20.0);  // at -10 by 20 s, held for less than 10 s
    EXPECT_EQ(GetTemperature(&t), DRV_TEMP_NOT_STABILIZED);
    EXPECT_EQ(t, -10);
    os::Delay(10.0);
    EXPECT_EQ(GetTemperature(&t), DRV_TEMP_STABILIZED);
    ASSERT_EQ(CoolerOFF(), DRV_SUCCESS);
    os::Delay(5.0);  // drifts back at 1 C/s
    EXPECT_EQ(GetTemperature(&t), DRV_TEMP_OFF);
    EXPECT_GT(t, -10);
    EXPECT_LT(t, 0);
}

TEST_F(SimulatorTest, FaultsFailANamedCallAfterNCalls) {
    std::vector<Fault> faults;
    EXPECT_TRUE(ParseFaults("StartAcquisition@2, CoolerON=20013,GetStatus@1=20075", &faults));
    ASSERT_EQ(faults.size(), 3u);
    EXPECT_EQ(faults[0].call, "StartAcquisition");
    EXPECT_EQ(faults[0].after, 2);
    EXPECT_EQ(faults[2].status, 20075u);
    std::vector<Fault> bad;
    EXPECT_FALSE(ParseFaults("Start Acquisition,@3,X@-1,Y@2=abc,Good", &bad));
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad[0].call, "Good");

    Open(0);
    AddFault({"SetFanMode", 2, DRV_ERROR_ACK, 0});
    EXPECT_EQ(SetFanMode(0), DRV_SUCCESS);
    EXPECT_EQ(SetFanMode(0), DRV_SUCCESS);
    EXPECT_EQ(SetFanMode(0), DRV_ERROR_ACK);
    EXPECT_EQ(SetFanMode(0), DRV_ERROR_ACK);
    // A fault for one camera leaves the other alone.
    AddFault({"SetReadMode", 0, DRV_ERROR_ACK, HandleOfIndex(1)});
    EXPECT_EQ(SetReadMode(4), DRV_SUCCESS);
    Open(1);
    EXPECT_EQ(SetReadMode(4), DRV_ERROR_ACK);
}

TEST_F(SimulatorTest, TraceRecordsEveryCallWithArgumentsAndFoldsPolls) {
    Open(0);
    SetImage(2, 2, 1, 512, 1, 512);
    SetExposureTime(0.5f);
    int status = 0;
    GetStatus(&status);
    GetStatus(&status);
    std::vector<Call> trace = Trace();
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[0].text, "SetCurrentCamera(100)");
    EXPECT_EQ(trace[1].text, "Initialize(\"/tmp\")");
    EXPECT_EQ(trace[2].text, "SetImage(2, 2, 1, 512, 1, 512)");
    EXPECT_EQ(trace[3].text, "SetExposureTime(0.5)");
    EXPECT_EQ(trace[4].text, "GetStatus()");
    EXPECT_EQ(trace[4].repeats, 2);
    EXPECT_EQ(trace[4].handle, 100);
    ClearTrace();
    EXPECT_TRUE(Trace().empty());
}

}  // namespace
}  // namespace camsim
