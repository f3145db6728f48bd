// Discovery, report, closing, configuration and acquisition of the camera
// subsystem, driven against the simulated camera pair.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "camera/camera_lock.h"
#include "control/monitoring.h"
#include "platform/os/os.h"
#include "tests/camera/camera_fixture.h"

namespace pelu {
namespace {

using testing::CameraTest;

TEST_F(CameraTest, TwoCamerasOpenInOrderAndCameraOneStaysCurrent) {
    CamerasOn();
    EXPECT_EQ(state.nNumberOfCameras, 2);
    EXPECT_EQ(state.nCameraHandle1, camsim::HandleOfIndex(0));
    EXPECT_EQ(state.nCameraHandle2, camsim::HandleOfIndex(1));
    EXPECT_EQ(state.g_nXPixels1, 512);
    EXPECT_EQ(state.g_nYPixels1, 512);
    EXPECT_EQ(state.g_nXPixels2, 1004);
    EXPECT_EQ(state.g_nYPixels2, 1002);
    EXPECT_EQ(state.CCD_status, kDeviceOn);
    EXPECT_EQ(state.colortable[200], 200 * 0x010101);
    // The switch-on names the library that serves the cameras first.
    const std::string library = "\nCamera library: " + os::ExecutableDirectory() +
                                "/libpelu_camsim.so (simulator, version 1.0)\n";
    EXPECT_EQ(Status(),
              library + "\n2 Two Cameras Detected!!\n\nCamera1 is Opening\n\nCamera1 Open Complete!!\n"
              "\nCamera2 is Opening\n\nCamera2 Open Complete!!\n\nSet to Current Camera1\n");
    const auto trace = camsim::TraceTexts();
    const int init1 = Find(trace, "SetCurrentCamera(100)");
    const int init2 = Find(trace, "SetCurrentCamera(101)");
    ASSERT_GE(init1, 0);
    ASSERT_GT(init2, init1);
    EXPECT_EQ(trace[size_t(init1) + 1].rfind("Initialize(", 0), 0u);
    EXPECT_EQ(trace[size_t(init2) + 1].rfind("Initialize(", 0), 0u);
    EXPECT_EQ(trace.back(), "SetCurrentCamera(100)");
    int32_t current = 0;
    GetCurrentCamera(&current);
    EXPECT_EQ(current, state.nCameraHandle1);
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(CameraTest, OneCameraLeavesCameraTwoUnsetAndNoneOpensNothing) {
    camsim::Config one;
    one.cameras = 1;
    Simulate(one);
    CamerasOn();
    EXPECT_EQ(Status(), "\nCamera library: " + os::ExecutableDirectory() +
                            "/libpelu_camsim.so (simulator, version 1.0)\n"
                            "\n1 Camera Detected!!\n\nCamera1 is Opening\n\nCamera1 Open Complete!!\n");
    EXPECT_EQ(state.nCameraHandle2, 0);
    EXPECT_EQ(state.g_nXPixels1, 512);
    EXPECT_EQ(state.g_nXPixels2, 0);

    camsim::Config none;
    none.cameras = 0;
    Simulate(none);
    ResetInstrumentState();
    CamerasOn();
    EXPECT_EQ(state.CCD_status, kDeviceNeverOpened);
    EXPECT_EQ(camsim::TraceTexts(), std::vector<std::string>{"GetAvailableCameras()"});
}

TEST_F(CameraTest, CapabilityReportOfBothCameras) {
    CamerasOn();
    std::string report1 = GetCameraInfo();
    EXPECT_EQ(report1,
              "Head Model : EMCCD-512-BV\n"
              "Size of CCD : 512 X 512 pixels\n"
              "VSNumber is 4\n"
              "Vertical Speed : 3.3 microseconds per pixel shift\n"
              "ADNumber is 0\n"
              "HSNumber is 0\n"
              "Horizontal Speed : 10 MHz\n"
              "Plug-in card version : 3.00\n"
              "Flex 10K file version : 11.0\n"
              "Camera FirmWare Version :5.00\n"
              "Cam Firmware Build No : 61.00\n"
              "EPROM_ver : 1.0\n"
              "COF_file_ver : 17.0\n"
              "Driver_revision_num : 2.0\n"
              "Driver_ver : 6.0\n"
              "DLL_revision_number : 14.0\n"
              "DLL_ver : 2.0\n"
              "Temperature range : From -100 C to 20 C\n"
              "EM Gain range : From 0 to 255\n"
              "Current EMGain value :0\n"
              "pre amp gain :3\n"
              "Correct Hardware for Continuous Mode\n"
              "Software Trigger Mode Available\n");
    {
        CameraSession session(state.nCameraHandle2);
        std::string report2 = GetCameraInfo();
        EXPECT_NE(report2.find("Size of CCD : 1004 X 1002 pixels\n"), std::string::npos);
        // Not camera type 1: the slowest-reading entry wins and is shown per pixel.
        EXPECT_NE(report2.find("Horizontal Speed : 1 microseconds per pixel shift\n"), std::string::npos);
        EXPECT_NE(report2.find("InCorrect HardWare for Continuous Mode\n"), std::string::npos);
        EXPECT_NE(report2.find("Not Valid Mode for Software Trigger\n"), std::string::npos);
    }
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(CameraTest, ReportSearchesSpeedsAndSurvivesAFailedChannelCount) {
    camsim::Config config;
    config.models = {camsim::DefaultCamera(0), camsim::DefaultCamera(1)};
    config.models[0].vsSpeeds = {0.3f, 0.5f, 0.5f, 0.4f};
    config.models[0].hsSpeeds = {{10.0f, 5.0f}, {3.0f, 17.0f}};
    Simulate(config);
    CamerasOn();
    std::string report = GetCameraInfo();
    EXPECT_NE(report.find("VSNumber is 1\nVertical Speed : 0.5 microseconds per pixel shift\n"),
              std::string::npos);
    // Fastest on channel 1, index 1; the speed shown is channel 0's at that index.
    EXPECT_NE(report.find("ADNumber is 1\nHSNumber is 1\nHorizontal Speed : 5 MHz\n"), std::string::npos);

    camsim::AddFault({"GetNumberADChannels", 0, DRV_ERROR_ACK, 0});
    frontEnd.ClearPopups();
    report = GetCameraInfo();
    EXPECT_NE(report.find("ADNumber is 0\nHSNumber is 0\nHorizontal Speed : 10 MHz\n"), std::string::npos);
    EXPECT_EQ(PopupTexts(), std::vector<std::string>{"Error/Get number AD Channel Error\n"});
}

TEST_F(CameraTest, ACameraThatDoesNotInitialiseIsNotOn) {
    camsim::Config config;
    config.faults = {{"Initialize", 0, DRV_ERROR_ACK, 0}};
    Simulate(config);
    EXPECT_FALSE(CamerasOn());
    const auto popups = PopupTexts();
    EXPECT_EQ(std::count(popups.begin(), popups.end(), "Error/Initialize Error"), 2);
    // Nothing more is asked of a camera that did not initialise.
    EXPECT_EQ(std::count(popups.begin(), popups.end(), "Error/Get Detector information Error"), 0);
    EXPECT_NE(state.CCD_status, kDeviceOn);
    EXPECT_EQ(Status().find("Open Complete!!"), std::string::npos);
    EXPECT_NE(Status().find("camera 1 did not initialise"), std::string::npos);
    EXPECT_NE(Status().find("camera 2 did not initialise"), std::string::npos);
}

TEST_F(CameraTest, ClosingWarmsThenClosesCameraOneBeforeCameraTwo) {
    Configure(1, 1, 0);
    state.BiasDark2.Allocate(10);
    camsim::ClearTrace();
    CamerasOff();
    const auto trace = camsim::TraceTexts();
    const int warm1 = Find(trace, "SetTemperature(10)");
    const int shut = Find(trace, "ShutDown()");
    const int shut2 = Find(trace, "ShutDown()", shut + 1);
    ASSERT_GE(warm1, 0);
    ASSERT_GT(shut, warm1);
    ASSERT_GT(shut2, shut);
    EXPECT_EQ(camsim::Trace()[size_t(shut)].handle, state.nCameraHandle1);
    EXPECT_EQ(camsim::Trace()[size_t(shut2)].handle, state.nCameraHandle2);
    EXPECT_EQ(trace[size_t(shut) - 2], "SetShutter(1, 0, 1, 1)");
    EXPECT_EQ(trace[size_t(shut) - 1], "SetFanMode(2)");
    EXPECT_FALSE(state.g_pRawData);
    EXPECT_FALSE(state.g_pRawData2);
    EXPECT_FALSE(state.BiasDark2);  // closing camera 1 already discards it
    EXPECT_EQ(state.CCD_status, kDeviceOff);
    EXPECT_EQ(Count(Status(), "Set to Shutter Auto Mode\nComplete Shut Down\n"), 2u);
}

TEST_F(CameraTest, ACameraThatCannotBePolledIsLeftOpen) {
    Configure(1, 1, 0);
    camsim::AddFault({"GetStatus", 0, DRV_ERROR_ACK, 0});
    EXPECT_EQ(CloseCamera(state.nCameraHandle1), 0);
    EXPECT_EQ(PopupTexts(), std::vector<std::string>{"Status/System not initialized1"});
    EXPECT_TRUE(state.g_pRawData);
    EXPECT_TRUE(camsim::Inspect(0).initialized);
    EXPECT_EQ(state.CCD_status, kDeviceOn);
}

TEST_F(CameraTest, SmallSensorGeometryBufferAndCallOrder) {
    CamerasOn();
    camsim::ClearTrace();
    frontEnd.ClearPopups();
    SetCameraParam(1, 4, 0, 7, 2, 2, 0.25f, 1, 0, 100, state.nCameraHandle1);
    EXPECT_EQ(state.nhDim1, 256);
    EXPECT_EQ(state.nvDim1, 256);
    EXPECT_EQ(state.g_pRawData.size() * sizeof(uint16_t), 13107200u);
    EXPECT_EQ(camsim::TraceTexts(),
              (std::vector<std::string>{
                  "SetFrameTransferMode(0)", "SetAcquisitionMode(1)", "SetReadMode(4)",
                  "SetVSSpeed(4)", "SetADChannel(0)", "SetHSSpeed(0, 0)", "SetShutter(1, 1, 1, 1)",
                  "SetFanMode(0)", "SetPreAmpGain(2)", "SetEMCCDGain(7)",
                  "SetImage(2, 2, 1, 512, 1, 512)", "SetTriggerMode(0)", "SetExposureTime(0.25)",
                  "SetBaselineClamp(1)", "SetBaselineOffset(1000)", "GetAcquisitionTimings()"}));
    EXPECT_NE(Status().find("\nComplete Shutter Setting\nSet PreAmpGain is 2-4.4X\n"
                            "\nsetting exposute time is 0.250000\nBaseLine Clamp On\n"
                            "\nactual exposure time is 0.250000,\nvalid kinetic cycle time is "),
              std::string::npos);
    EXPECT_TRUE(frontEnd.Popups().empty());
}

TEST_F(CameraTest, WideSensorIsReadWithDoubledBinningAndWithoutItsLastRows) {
    CamerasOn();
    camsim::ClearTrace();
    {
        CameraSession session(state.nCameraHandle2);
        SetCameraParam(1, 4, 0, 0, 1, 1, 0.1f, 0, 0, 0, state.nCameraHandle2);
    }
    EXPECT_EQ(state.nhDim2, 502);
    EXPECT_EQ(state.nvDim2, 500);
    EXPECT_EQ(state.g_pRawData2.size(), 502u * 500u);  // frames 0: one frame
    const auto trace = camsim::TraceTexts(state.nCameraHandle2);
    EXPECT_GE(Find(trace, "SetImage(2, 2, 1, 1004, 1, 1000)"), 0);
    EXPECT_GE(Find(trace, "SetVSSpeed(3)"), 0);
    {
        CameraSession session(state.nCameraHandle2);
        SetCameraParam(1, 4, 0, 0, 3, 3, 0.1f, 0, 0, 1, state.nCameraHandle2);
    }
    EXPECT_EQ(state.nhDim2, 167);
    EXPECT_EQ(camsim::Inspect(1).hend - camsim::Inspect(1).hstart + 1, 1004);
}

TEST_F(CameraTest, AcquisitionModesSendTheirOwnSequences) {
    CamerasOn();
    camsim::ClearTrace();
    SetCameraParam(6, 4, 0, 0, 1, 1, 0.1f, 0, 0, 50, state.nCameraHandle1);
    auto trace = camsim::TraceTexts();
    EXPECT_EQ(trace[0], "SetFrameTransferMode(1)");
    EXPECT_EQ(trace[1], "SetNumberKinetics(50)");
    EXPECT_EQ(Find(trace, "SetAcquisitionMode(6)"), -1);
    camsim::ClearTrace();
    SetCameraParam(3, 4, 0, 0, 1, 1, 0.1f, 0, 0, 50, state.nCameraHandle1);
    EXPECT_EQ(camsim::TraceTexts()[0], "SetReadMode(4)");
    camsim::ClearTrace();
    SetCameraParam(5, 4, 0, 0, 1, 1, 0.1f, 0, 0, 50, state.nCameraHandle1);
    trace = camsim::TraceTexts();
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 3),
              (std::vector<std::string>{"SetFrameTransferMode(0)", "SetAcquisitionMode(5)",
                                        "SetKineticCycleTime(0)"}));
}

TEST_F(CameraTest, ConfigurationFailuresAreReportedAndTheSequenceGoesOn) {
    camsim::Config config;
    config.faults = {{"SetEMCCDGain", 0, DRV_ERROR_ACK, 0}, {"SetBaselineOffset", 0, DRV_ERROR_ACK, 0},
                     {"SetShutter", 0, DRV_ERROR_ACK, 0}};
    Simulate(config);
    CamerasOn();
    camsim::ClearTrace();
    SetCameraParam(1, 4, 0, 0, 1, 1, 0.1f, 0, 0, 1, state.nCameraHandle1);
    EXPECT_EQ(PopupTexts(), (std::vector<std::string>{"Error/Shutter Error", "Error/EMCCD Gain error"}));
    EXPECT_NE(Status().find("\nComplete Shutter Setting\n"), std::string::npos);
    EXPECT_NE(Status().find("BaseLine Clamp On\nNot Set Baseline Clamp\n"), std::string::npos);
    EXPECT_GE(Find(camsim::TraceTexts(), "SetImage(1, 1, 1, 512, 1, 512)"), 0);
    // No camera behind a handle: nothing is sent.
    camsim::ClearTrace();
    SetCameraParam(1, 4, 0, 0, 1, 1, 0.1f, 0, 0, 1, 0);
    EXPECT_TRUE(camsim::TraceTexts().empty());
    EXPECT_NE(Status().find("No camera with handle 0 to configure"), std::string::npos);
}

// ---- acquisition ----------------------------------------------------------------------------

bool Zero(const uint16_t* from, size_t count) {
    return std::all_of(from, from + count, [](uint16_t v) { return v == 0; });
}

TEST_F(CameraTest, StepRequestFillsTheSlotOfItsScanPosition) {
    Configure(1, 2, 20);
    const size_t frame = 256 * 256;
    state.Scanpos_CCDframe = 10;
    state.take = 1;
    ServeTakeRequest();
    EXPECT_EQ(state.take, 0);
    EXPECT_EQ(ccd.nUnknownCameraHandle, state.nCameraHandle1);
    const uint16_t* raw = state.g_pRawData.get();
    EXPECT_TRUE(Zero(raw, 9 * frame));
    EXPECT_FALSE(Zero(raw + 9 * frame, frame));
    EXPECT_TRUE(Zero(raw + 10 * frame, 10 * frame));
    EXPECT_TRUE(Zero(state.g_pRawData2.get(), state.g_pRawData2.size()));  // only the current camera
    EXPECT_EQ(state.DataSource, 1);
}

TEST_F(CameraTest, EachAttemptedFrameLeavesARecordOfItsScanRequest) {
    Configure(1, 2, 20);
    state.Scanpos_CCDframe = 10;
    state.Scanpos_requested = 12.5f;
    state.Scanpos_late = 1;
    state.scanpos = 13.0f;
    state.take = 1;
    EXPECT_EQ(ServeTakeRequest(), 9);
    const std::vector<FrameRecord> records = state.frames1.Records();
    ASSERT_EQ(records.size(), 1u);
    const FrameRecord& r = records[0];
    EXPECT_EQ(r.camera, 1);
    EXPECT_EQ(r.index, 9);
    EXPECT_EQ(r.width, 256);
    EXPECT_EQ(r.height, 256);
    EXPECT_TRUE(r.read);
    EXPECT_EQ(r.scanStep, 10);
    EXPECT_FLOAT_EQ(r.positionRequested, 12.5f);
    // No scanner answers here: where the stage stood after the frame is
    // unknown, never the stale reading from before it.
    EXPECT_TRUE(std::isnan(r.positionEnded)) << r.positionEnded;
    EXPECT_TRUE(r.late);
    EXPECT_FALSE(r.retaken);
    EXPECT_GT(r.startUtcUs, 1600000000LL * 1000000);
    EXPECT_LE(r.startUtcUs, r.endUtcUs);
    EXPECT_EQ(state.frames1.Stored(20), 1);
    EXPECT_TRUE(state.frames2.Records().empty());
    EXPECT_EQ(ServeTakeRequest(), -1);  // no request pending
}

TEST_F(CameraTest, AFrameThatCouldNotBeReadIsRecordedAsNotStored) {
    Configure(1, 2, 3);
    EXPECT_TRUE(TakeImage(256, 256, state.nCameraHandle1, 0));
    camsim::AddFault({"GetAcquiredData16", 0, DRV_ERROR_ACK, 0});
    EXPECT_FALSE(TakeImage(256, 256, state.nCameraHandle1, 1));
    const std::vector<FrameRecord> records = state.frames1.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].read);
    EXPECT_FALSE(records[1].read);
    EXPECT_EQ(records[1].scanStep, 0);
    EXPECT_EQ(state.frames1.Stored(3), 1);
}

TEST_F(CameraTest, AFrameTransferSeriesRecordsEveryFrameInOrder) {
    Configure(6, 2, 4);
    ASSERT_TRUE(TakeImage_FTmode(256, 256, 4, state.nCameraHandle1));
    const std::vector<FrameRecord> records = state.frames1.Records();
    ASSERT_EQ(records.size(), 4u);
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(records[size_t(f)].index, f);
        EXPECT_TRUE(records[size_t(f)].read);
        if (f > 0) EXPECT_EQ(records[size_t(f)].startUtcUs, records[size_t(f - 1)].endUtcUs);
    }
    camsim::AddFault({"GetAcquiredData16", 0, DRV_ERROR_ACK, 0});
    state.frames1.Start(4);
    ASSERT_TRUE(TakeImage_FTmode(256, 256, 4, state.nCameraHandle1));
    EXPECT_EQ(state.frames1.Records().size(), 4u);
    EXPECT_EQ(state.frames1.Stored(4), 0);
}

TEST(FrameLog, ASlotTakenAgainKeepsItsLatestAttemptAndStartForgetsAll) {
    FrameLog log;
    log.Start(3);
    FrameRecord record;
    record.index = 2;
    record.read = false;
    log.Add(record);
    record.read = true;
    log.Add(record);
    record.index = 5;  // beyond the planned series: kept, not counted in it
    log.Add(record);
    record.index = -1;
    log.Add(record);
    EXPECT_EQ(log.Records().size(), 2u);
    EXPECT_EQ(log.Stored(3), 1);
    EXPECT_EQ(log.Stored(6), 2);
    log.SetEndPosition(2, 4.0f);
    log.SetEndPosition(1, 9.0f);  // never attempted: stays without a record
    EXPECT_FLOAT_EQ(log.Records()[0].positionEnded, 4.0f);
    log.Start(3);
    EXPECT_TRUE(log.Records().empty());
    EXPECT_EQ(log.Stored(3), 0);
}

TEST_F(CameraTest, TakeModeOneFillsTheSameSlotInBothCamerasAndLeavesCameraTwoCurrent) {
    Configure(1, 2, 5);
    const size_t frame1 = size_t(state.nhDim1) * size_t(state.nvDim1);
    const size_t frame2 = size_t(state.nhDim2) * size_t(state.nvDim2);
    state.pelu_take_mode = 1;
    state.Scanpos_CCDframe = 3;
    state.take = 1;
    ServeTakeRequest();
    EXPECT_EQ(state.take, 0);
    EXPECT_FALSE(Zero(state.g_pRawData.get() + 2 * frame1, frame1));
    EXPECT_FALSE(Zero(state.g_pRawData2.get() + 2 * frame2, frame2));
    EXPECT_TRUE(Zero(state.g_pRawData2.get(), 2 * frame2));
    int32_t current = 0;
    GetCurrentCamera(&current);
    EXPECT_EQ(current, state.nCameraHandle2);
}

TEST_F(CameraTest, FailedStartShowsOnePopupAbortsAndTheRequestIsStillCleared) {
    Configure(1, 2, 5);
    camsim::AddFault({"StartAcquisition", 0, DRV_ERROR_ACK, 0});
    camsim::ClearTrace();
    state.Scanpos_CCDframe = 1;
    state.take = 1;
    ServeTakeRequest();
    EXPECT_EQ(PopupTexts(), std::vector<std::string>{"Error/Start acquisition error"});
    const auto trace = camsim::TraceTexts();
    EXPECT_EQ(trace[size_t(Find(trace, "StartAcquisition()")) + 1], "AbortAcquisition()");
    EXPECT_EQ(state.take, 0);
    EXPECT_TRUE(Zero(state.g_pRawData.get(), state.g_pRawData.size()));
}

TEST_F(CameraTest, SlotsOutsideTheBufferAndMissingBuffersAreRefused) {
    Configure(1, 2, 5);
    camsim::ClearTrace();
    EXPECT_FALSE(TakeImage(256, 256, state.nCameraHandle1, 5));
    EXPECT_FALSE(TakeImage(256, 256, state.nCameraHandle1, -1));
    EXPECT_FALSE(TakeImage(512, 512, state.nCameraHandle1, 2));  // larger frames than configured
    EXPECT_FALSE(TakeImage_FTmode(256, 256, 6, state.nCameraHandle1));
    state.g_pRawData.Free();
    EXPECT_FALSE(TakeImage(256, 256, state.nCameraHandle1, 0));
    EXPECT_EQ(Find(camsim::TraceTexts(), "StartAcquisition()"), -1);
    EXPECT_EQ(Count(Status(), "acquisition refused"), 5u);
    EXPECT_NE(Status().find("Camera 1 has no frame buffer"), std::string::npos);
}

TEST_F(CameraTest, FrameTransferSeriesReadsAllFramesInOneCall) {
    Configure(6, 2, 100);
    camsim::ClearTrace();
    ASSERT_TRUE(TakeImage_FTmode(256, 256, 100, state.nCameraHandle1)) << Status() << ::testing::PrintToString(PopupTexts());
    EXPECT_GE(Find(camsim::TraceTexts(), "GetAcquiredData16(6553600)"), 0);
    const uint16_t* raw = state.g_pRawData.get();
    EXPECT_FALSE(Zero(raw + 99 * 65536, 65536));
    EXPECT_FALSE(std::equal(raw, raw + 65536, raw + 65536));
    EXPECT_EQ(state.DataSource, 1);
}

TEST_F(CameraTest, ACameraThatNeverBecomesIdleIsAbortedAfterItsTimeOut) {
    Configure(5, 2, 3);  // run till abort never ends by itself
    camsim::ClearTrace();
    EXPECT_FALSE(TakeImage(256, 256, state.nCameraHandle1, 0));
    const auto popups = PopupTexts();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_NE(popups[0].find("did not finish its acquisition"), std::string::npos);
    const auto trace = camsim::TraceTexts();
    EXPECT_EQ(trace.back(), "AbortAcquisition()");
    EXPECT_FALSE(camsim::Inspect(0).acquiring);
}

TEST_F(CameraTest, AnExposureBeingWaitedForLeavesTheCamerasToOtherThreads) {
    camsim::Config config;
    config.hangAcquisition = true;  // the wait lasts until the acquisition is given up
    Simulate(config);
    Configure(1, 2, 2);
    camsim::ClearTrace();
    const int one = state.nCameraHandle1, two = state.nCameraHandle2;
    std::atomic<int> taken{-1};
    std::thread exposure([&] {
        CameraSession session(one);
        taken = TakeImage(256, 256, one, 0) ? 1 : 0;
    });
    ASSERT_TRUE(ui::testing::Eventually([] { return camsim::Inspect(0).acquiring; },
                                        std::chrono::seconds(60)));
    {
        // Obtained while camera 1 is still exposing, not once it is done.
        CameraSession other(two);
        EXPECT_TRUE(camsim::Inspect(0).acquiring);
        EXPECT_EQ(taken, -1);
    }
    exposure.join();
    EXPECT_EQ(taken, 0);
    // Camera 1 was made current again before its wait went on: the abort
    // reached camera 1, not camera 2 that this thread had selected.
    const auto trace = camsim::TraceTexts();
    const int switched = Find(trace, "SetCurrentCamera(" + std::to_string(two) + ")");
    ASSERT_GE(switched, 0);
    EXPECT_GT(Find(trace, "SetCurrentCamera(" + std::to_string(one) + ")", switched), switched);
    EXPECT_EQ(Find(camsim::TraceTexts(two), "AbortAcquisition()"), -1);
    EXPECT_GE(Find(camsim::TraceTexts(one), "AbortAcquisition()"), 0);
    EXPECT_FALSE(camsim::Inspect(0).acquiring);
}

TEST_F(CameraTest, MonitoringLoopServesRequestsUntilTheScannerConnectionEnds) {
    Configure(1, 4, 10);
    state.PmacAccessible = 1;
    int id = 0;
    ui::ScheduleThreadFunction(MonitoringThreadFunction, &id);
    for (int step = 1; step <= 10; ++step) {
        state.Scanpos_CCDframe = step;
        state.take = 1;
        ASSERT_TRUE(ui::testing::Eventually([] { return state.take == 0; }, std::chrono::seconds(60)));
    }
    state.PmacAccessible = 0;
    ui::WaitForThreadFunctionCompletion(id);
    int result = 0;
    ui::GetThreadFunctionReturnValue(id, &result);
    ui::ReleaseThreadFunctionID(id);
    EXPECT_EQ(result, 1);
    const size_t frame = 128 * 128;
    for (int f = 0; f < 10; ++f) EXPECT_FALSE(Zero(state.g_pRawData.get() + f * frame, frame)) << f;
}

}  // namespace
}  // namespace pelu
