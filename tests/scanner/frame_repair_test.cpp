// Frames of a scan exposed off their step: how they are found, and their
// retaking with the stage standing at their step before the scan ends.
#include "scanner/frame_repair.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <thread>

#include "camera/camera.h"
#include "control/monitoring.h"
#include "platform/camera_sdk/simulator.h"
#include "platform/os/realtime.h"
#include "state/camera_slot.h"
#include "state/observing_log.h"
#include "tests/scanner/scanner_fixture.h"

namespace pelu::testing {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

FrameRecord Record(int index, float requested, float ended, bool late = false, bool read = true) {
    FrameRecord r;
    r.camera = 1;
    r.index = index;
    r.scanStep = index + 1;
    r.read = read;
    r.late = late;
    r.positionRequested = requested;
    r.positionEnded = ended;
    return r;
}

TEST(FramePlaceTest, AFrameIsInPlaceOnlyWhenTheStageStoodAtItsStepThroughout) {
    // Step mode: steps of 2 units counted from where the stage started.
    const ScanGeometry steps{0, 10, 0.3, 2.0, 0.0};
    const FramePlace third = PlaceOfFrame(steps, 3);
    EXPECT_DOUBLE_EQ(third.centre, 6.3);
    EXPECT_DOUBLE_EQ(third.tolerance, 0.2);
    EXPECT_TRUE(TakenInPlace(Record(2, 6.3f, 6.45f), third));
    EXPECT_FALSE(TakenInPlace(Record(2, 6.3f, 6.55f), third));       // the stage had moved on
    EXPECT_FALSE(TakenInPlace(Record(2, 6.0f, 6.3f), third));        // requested before it arrived
    EXPECT_FALSE(TakenInPlace(Record(2, 6.3f, kNaN), third));        // no reading after the frame
    EXPECT_FALSE(TakenInPlace(Record(2, 6.3f, 6.3f, true), third));  // requested late
    EXPECT_FALSE(TakenInPlace(Record(2, 6.3f, 6.3f, false, false), third));  // never read

    // Continuous mode: half a step either side of step x step size, from 0.
    const ScanGeometry stroke{1, 10, 0.2, 2.0, 0.0};
    const FramePlace fourth = PlaceOfFrame(stroke, 4);
    EXPECT_DOUBLE_EQ(fourth.centre, 8.0);
    EXPECT_DOUBLE_EQ(fourth.tolerance, 1.0);
    EXPECT_TRUE(TakenInPlace(Record(3, 7.05f, 8.9f), fourth));
    EXPECT_FALSE(TakenInPlace(Record(3, 7.05f, 9.1f), fourth));

    // A scan that does not move still has the resolution of a reading.
    EXPECT_DOUBLE_EQ(PlaceOfFrame(ScanGeometry{0, 3, 1.0, 0.0, 1.0}, 2).tolerance, 0.05);
}

TEST(FramePlaceTest, WithoutRetakingTheFramesOffTheirStepAreFlaggedLate) {
    ResetInstrumentState();
    state.nCameraHandle1 = 101;
    state.frames1.Start(3);
    state.frames1.Add(Record(0, 2.0f, 2.1f));
    state.frames1.Add(Record(1, 4.0f, 5.0f));  // left its step during the frame
    state.frames1.Add(Record(2, 6.0f, 6.0f));
    const RepairResult result =
        RepairOffStepFrames(ScanGeometry{0, 3, 0.0, 2.0, 0.0}, 101, 0, false, {});
    EXPECT_EQ(result.offStep, 1);
    EXPECT_EQ(result.retaken, 0);
    const std::vector<FrameRecord> records = state.frames1.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_FALSE(records[0].late);
    EXPECT_TRUE(records[1].late);
    EXPECT_FALSE(records[2].late);
    ResetInstrumentState();
}

// Scans with both simulated cameras, their frames taken by the program's
// own monitoring loop.
class FrameRepairTest : public ScannerTest {
  protected:
    void SetUp() override {
        ScannerTest::SetUp();
        camsim::Reset(camsim::Config{});
        ResetCameraGlobals();
    }
    void TearDown() override {
        StopMonitoring();
        os::SetRealTimeRefused(false);
        CloseObservingLog();
        ScannerTest::TearDown();
        camsim::Reset(camsim::Config{});
    }
    // Cameras on, single frames of `exposure` seconds, a series of `frames`.
    void Cameras(int frames, float exposure) {
        ASSERT_TRUE(CamerasOn());
        for (int handle : {state.nCameraHandle1.load(), state.nCameraHandle2.load()}) {
            SetCurrentCamera(handle);
            SetCameraParam(1, 4, 0, 0, 4, 4, exposure, 0, 0, frames, handle);
        }
        SetCurrentCamera(state.nCameraHandle1);
        state.frames1.Start(frames);
        state.frames2.Start(frames);
    }
    void StartMonitoring() {
        state.PmacAccessible = 1;
        monitor = std::thread([] { MonitoringThreadFunction(); });
    }
    void StopMonitoring() {
        state.PmacAccessible = 0;
        if (monitor.joinable()) monitor.join();
    }
    // A step scan of `frames` steps of 4 units and 100 ms, both cameras in every step.
    int StepScan(int frames) {
        state.scan_mode = 0;
        state.g_nFrameNumber1 = frames;
        state.pelu_take_mode = 1;
        if (ScanCommandWrite(frames, 100.0f, 4.0f, 0.0f, 0.0f) != 1) return -1;
        return ExecuteProgram(state.nCameraHandle1, 1);
    }
    std::thread monitor;
};

TEST_F(FrameRepairTest, FramesExposedOffTheirStepAreTakenAgainWithTheStageStandingThere) {
    Open();
    Home();
    ASSERT_TRUE(OpenObservingLog("E:\\DRAV_Data\\"));
    // The simulated stage keeps the instrument's own pace here while the
    // program runs a hundred times faster: exposures of 10 s take 100 ms,
    // and the stage leaves every step (a dwell of 30 ms) while its frames
    // are exposed.
    Cameras(5, 10.0f);
    StartMonitoring();
    ASSERT_EQ(StepScan(5), 1) << Status();

    EXPECT_EQ(scanner.g_nOffStepFrames, 5);
    EXPECT_EQ(scanner.g_nRetakenFrames, 5);
    EXPECT_NE(Status().find("\n5 of 5 frames were exposed off their step; 5 of them were taken "
                            "again with the stage standing at their step.\n"),
              std::string::npos)
        << Status();
    const ScanGeometry scan{0, 5, 0.0, 4.0, 0.0};
    for (const FrameLog* log : {&state.frames1, &state.frames2}) {
        const std::vector<FrameRecord> records = log->Records();
        ASSERT_EQ(records.size(), 5u);
        for (const FrameRecord& r : records) {
            EXPECT_TRUE(r.retaken) << "camera " << r.camera << " frame " << r.index;
            EXPECT_FALSE(r.late);
            EXPECT_TRUE(TakenInPlace(r, PlaceOfFrame(scan, r.index + 1)))
                << "camera " << r.camera << " frame " << r.index << " requested at "
                << r.positionRequested << ", ended at " << r.positionEnded;
        }
    }
    // The stage was jogged to the steps and is back home for the next scan.
    const std::vector<std::string> trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "#1J=120.0"), trace.end());
    ASSERT_TRUE(QueryPosition());
    EXPECT_LT(std::fabs(state.scanpos.load()), 0.3f);

    // The observing log has the jogs, and the polls only where their reply changed.
    std::ifstream in(ObservingLogPath());
    int runningPolls = 0, jogs = 0;
    for (std::string line; std::getline(in, line);) {
        runningPolls += line.find("scanner> m180 -> ") != std::string::npos;
        jogs += line.find("scanner> #1J=") != std::string::npos;
    }
    EXPECT_GE(runningPolls, 2);  // running, then ended
    EXPECT_LE(runningPolls, 4);
    EXPECT_GE(jogs, 6);  // five steps and the way home
}

// Whatever the host's speed, a finished scan holds only frames taken in
// place: the ones found off their step, and only those, were retaken.
void ExpectEveryFrameInPlace(int frames) {
    const ScanGeometry scan{0, frames, 0.0, 4.0, 0.0};
    int retaken = 0;
    for (const FrameLog* log : {&state.frames1, &state.frames2}) {
        const std::vector<FrameRecord> records = log->Records();
        EXPECT_EQ(records.size(), size_t(frames));
        for (const FrameRecord& r : records) {
            EXPECT_TRUE(TakenInPlace(r, PlaceOfFrame(scan, r.index + 1)))
                << "camera " << r.camera << " frame " << r.index;
            retaken += r.camera == 1 && r.retaken;
        }
    }
    EXPECT_EQ(retaken, scanner.g_nRetakenFrames);
    EXPECT_EQ(scanner.g_nRetakenFrames, scanner.g_nOffStepFrames);
}

TEST_F(FrameRepairTest, ShortFramesAreTakenInPlaceOrRetaken) {
    Open();
    Home();
    Cameras(4, 0.001f);  // 10 us each, against a dwell of 30 ms
    StartMonitoring();
    ASSERT_EQ(StepScan(4), 1);
    ExpectEveryFrameInPlace(4);
}

TEST_F(FrameRepairTest, ARefusedRealTimePolicyIsSaidOnceAndTheScanGoesOn) {
    os::SetRealTimeRefused(true);
    Open();
    Home();
    Cameras(2, 0.001f);
    StartMonitoring();
    ASSERT_EQ(StepScan(2), 1);
    ASSERT_EQ(StepScan(2), 1);
    const std::string line =
        "\nReal-time scheduling refused by the system (refused for this "
        "test): on a busy computer frames may be exposed off their step; "
        "each scan takes them again at their step before it ends.\n";
    const std::string status = Status();
    const size_t first = status.find(line);
    ASSERT_NE(first, std::string::npos) << status;
    EXPECT_EQ(status.find(line, first + 1), std::string::npos);  // once, for all threads and scans
    const std::string memory = "\nThe series could not be locked in memory (refused for this test)";
    const size_t locked = status.find(memory);
    ASSERT_NE(locked, std::string::npos);
    EXPECT_EQ(status.find(memory, locked + 1), std::string::npos);
    ExpectEveryFrameInPlace(2);  // the frames are still put in place
}

}  // namespace
}  // namespace pelu::testing
