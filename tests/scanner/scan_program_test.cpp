// Scan programs: the text written into PELU.pmc, its download, and scans run
// on the simulated stage with frame requests served by a stand-in loop.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "tests/scanner/scanner_fixture.h"

namespace pelu::testing {
namespace {

// The site templates, copied verbatim around the generated block.
const std::string kHead = ReadWhole(std::string(PELU_SITE_DIR) + "/pelu.head");
const std::string kTail = ReadWhole(std::string(PELU_SITE_DIR) + "/pelu.tail");

TEST_F(ScannerTest, StepBlockHasTheFormatsWidthsAndDownloads) {
    Open();
    ScanCommandWrite(10, 100.0f, 4.0f, 0.0f, 0.0f);
    const std::string expected =
        kHead + "\r\n" +
        "i130=120000\r\ni131=4000\r\ni132=4000\r\ni133=40000\r\ni134=0\r\ni135=20000\r\n"
        "inc\r\nta 35\r\nts 17\r\np1=0\r\nWhile(p1<  10)\r\nx   4\r\ndwell 30\r\np1=p1+1\r\n"
        "EndWhile\r\n" +
        "\r\n" + kTail;
    EXPECT_EQ(ReadWhole("PELU.pmc"), expected);
    EXPECT_FLOAT_EQ(scanner.step_size, 4.0f);
    EXPECT_NE(Status().find("\nScript was generated.\n\nDevice Download Success\n\n"
                            "Open Script() called complete!!\n"),
              std::string::npos);
}

TEST_F(ScannerTest, BlockNumbersAreRoundedAsPrintfRoundsThem) {
    Open();
    // 0.35 x 570 = 199.5 and 0.35 x 1070 = 374.5, computed from the floats.
    ScanCommandWrite(20, 570.0f, 5.0f, 0.0f, 0.0f);
    EXPECT_NE(ReadWhole("PELU.pmc").find("ta200\r\nts 97\r\n"), std::string::npos);
    ScanCommandWrite(20, 1070.0f, 5.0f, 0.0f, 0.0f);
    EXPECT_NE(ReadWhole("PELU.pmc").find("ta374\r\nts182\r\n"), std::string::npos);
}

TEST_F(ScannerTest, ContinuousBlockAndWhichBlocksAreWritten) {
    Open();
    ScanCommandWrite(100, 0.0f, 0.0f, 5.0f, 200.0f);
    std::string text = ReadWhole("PELU.pmc");
    EXPECT_NE(text.find("i135=0\r\nabs\r\nta100\r\nts50\r\nf 5\r\nx  200\r\n\r\n" + kTail),
              std::string::npos);
    EXPECT_EQ(text.find("While"), std::string::npos);
    EXPECT_FLOAT_EQ(scanner.step_size, 2.0f);

    // A feed rate in step mode suppresses the step block; both pairs set
    // gives no block at all.
    ScanCommandWrite(10, 100.0f, 4.0f, 5.0f, 0.0f);
    text = ReadWhole("PELU.pmc");
    EXPECT_EQ(text, kHead + "\r\n\r\n" + kTail);
    // All four zero writes both blocks.
    ScanCommandWrite(10, 0.0f, 0.0f, 0.0f, 0.0f);
    text = ReadWhole("PELU.pmc");
    EXPECT_NE(text.find("While"), std::string::npos);
    EXPECT_NE(text.find("abs"), std::string::npos);
}

TEST_F(ScannerTest, MissingTemplateIsReportedAndTheOldProgramStays) {
    Open();
    ScanCommandWrite(10, 100.0f, 4.0f, 0.0f, 0.0f);
    const std::string before = ReadWhole("PELU.pmc");
    std::filesystem::remove("pelu.tail");
    ScanCommandWrite(30, 100.0f, 2.0f, 0.0f, 0.0f);
    EXPECT_EQ(ReadWhole("PELU.pmc"), before);
    EXPECT_NE(Status().find("Cannot read the scan template pelu.tail"), std::string::npos);
    // An oversized head is not a template either.
    std::ofstream("pelu.tail") << kTail;
    std::ofstream("pelu.head") << std::string(100000, 'x');
    ScanCommandWrite(30, 100.0f, 2.0f, 0.0f, 0.0f);
    EXPECT_EQ(ReadWhole("PELU.pmc"), before);
    EXPECT_NE(Status().find("Cannot read the scan template pelu.head"), std::string::npos);
}

TEST_F(ScannerTest, AProgramThatCannotBeWrittenIsNeverDownloadedAndScansAreRefused) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 5;
    EXPECT_EQ(ScanCommandWrite(5, 100.0f, 4.0f, 0.0f, 0.0f), 1);
    // PELU.pmc can no longer be written (here: a folder takes its name).
    std::filesystem::remove("PELU.pmc");
    std::filesystem::create_directory("PELU.pmc");
    const size_t before = Status().size();
    EXPECT_EQ(ScanCommandWrite(2, 100.0f, 4.0f, 0.0f, 0.0f), 0);
    EXPECT_NE(Status().find("Cannot write PELU.pmc: scan program not generated", before),
              std::string::npos);
    EXPECT_EQ(Status().find("Device Download Success", before), std::string::npos);
    // The controller still holds the 5-step program: the scan is refused.
    EXPECT_EQ(ExecuteProgram(), 0);
    EXPECT_EQ(state.take, 0);
    EXPECT_NE(Status().find("Scan refused: PELU.pmc could not be written", before),
              std::string::npos)
        << Status().substr(before);
    EXPECT_EQ(state.Scanning, 0);

    // Written again, the scan runs with the new program.
    std::filesystem::remove("PELU.pmc");
    EXPECT_EQ(ScanCommandWrite(2, 100.0f, 4.0f, 0.0f, 0.0f), 1);
    FrameRecorder recorder;
    EXPECT_EQ(ExecuteProgram(), 1);
    EXPECT_EQ(recorder.Stop(), (std::vector<int>{1, 2}));
}

// A program that never ends, downloaded after a 3-step program was written.
void DownloadEndlessProgram() {
    std::ofstream("endless.pmc") << "CLOSE\r\n&1\r\nOPEN PROG 1\r\nCLEAR\r\ninc\r\n"
                                    "While(1<2)\r\nx 1\r\ndwell 50\r\nEndWhile\r\nCLOSE\r\n";
    OpenScript("endless.pmc");
}

TEST_F(ScannerTest, AProgramThatNeverEndsIsHaltedAfterItsOwnDurationAndAMargin) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 3;
    ASSERT_EQ(ScanCommandWrite(3, 100.0f, 4.0f, 0.0f, 0.0f), 1);
    DownloadEndlessProgram();
    FrameRecorder recorder;
    int64_t frequency = 0, start = 0, end = 0;
    os::QueryPerformanceFrequency(&frequency);
    os::QueryPerformanceCounter(&start);
    EXPECT_EQ(ExecuteProgram(), 0);
    os::QueryPerformanceCounter(&end);
    const double seconds = double(end - start) / double(frequency);
    // 3 steps of 0.1 s: twice that plus 30 s, in instrument time, and never
    // less than the ten host seconds every scan wait is given.
    EXPECT_GE(seconds, 30.6);
    EXPECT_GE(seconds * os::TimeScale(), 10.0);
    EXPECT_NE(Status().find(pelu::Format("Scan ended: the scan program did not end within %.0f s",
                                         TimeLimitMs(30.6) / 1000.0)),
              std::string::npos)
        << Status();
    EXPECT_EQ(state.Scanning, 0);
    // The program was aborted and the stage stands.
    std::string running;
    ASSERT_TRUE(PmacCommand("m180", &running));
    EXPECT_EQ(running[0], '0');
    EXPECT_LE(recorder.Stop().size(), 3u);
}

TEST_F(ScannerTest, StopOrQuitEndsARunningProgram) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 3;
    // Steps of 1000 s: the time limit (over an hour and a half) plays no part.
    ASSERT_EQ(ScanCommandWrite(3, 1.0e6f, 4.0f, 0.0f, 0.0f), 1);
    DownloadEndlessProgram();
    FrameRecorder recorder;
    // The scan runs where the run does, on the thread that dispatches the
    // observer's events; the run's Stop flag is raised once it has started.
    std::atomic<int> finished{-1};
    state.runStop = 0;
    ui::PostDeferredCall([&] { finished = ExecuteProgram(); });
    ASSERT_TRUE(ui::testing::Eventually([] { return state.Scanning == 1; }));
    state.runStop = 1;
    ASSERT_TRUE(ui::testing::Eventually([&] { return finished != -1; }));
    EXPECT_EQ(finished, 0);
    EXPECT_NE(Status().find("Scan stopped: the stage is halted; the frames taken are kept."),
              std::string::npos)
        << Status();
    EXPECT_EQ(Status().find("did not end within"), std::string::npos);
    std::string running;
    ASSERT_TRUE(PmacCommand("m180", &running));
    EXPECT_EQ(running[0], '0');

    // Quitting ends it as well, long before the time limit.
    DownloadEndlessProgram();
    state.runStop = 0;
    finished = -1;
    int64_t frequency = 0, start = 0, end = 0;
    os::QueryPerformanceFrequency(&frequency);
    os::QueryPerformanceCounter(&start);
    ui::PostDeferredCall([&] { finished = ExecuteProgram(); });
    ASSERT_TRUE(ui::testing::Eventually([] { return state.Scanning == 1; }));
    ui::QuitUserInterface(0);
    ASSERT_TRUE(ui::testing::Eventually([&] { return finished != -1; }));
    os::QueryPerformanceCounter(&end);
    EXPECT_EQ(finished, 0);
    EXPECT_LT(double(end - start) / double(frequency), 6030.0);
    ASSERT_TRUE(PmacCommand("m180", &running));
    EXPECT_EQ(running[0], '0');
    recorder.Stop();
}

TEST_F(ScannerTest, ProgramTheControllerRefusesIsNotReportedAsDownloaded) {
    Open();
    std::ofstream("bad.pmc") << "OPEN PROG 1\r\nCLEAR\r\nfrobnicate\r\nCLOSE\r\n";
    const size_t before = Status().size();
    OpenScript("bad.pmc");
    EXPECT_EQ(Status().find("Device Download Success", before), std::string::npos);
}

TEST_F(ScannerTest, StepScanRaisesEveryFrameOnceInOrderAndWaitsForTheLast) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 20;
    ScanCommandWrite(20, 100.0f, 4.0f, 0.0f, 0.0f);
    FrameRecorder recorder;
    ASSERT_EQ(ExecuteProgram(), 1);
    // The last frame has been stored before the scan returns.
    EXPECT_EQ(state.take, 0);
    EXPECT_EQ(state.Scanning, 0);
    const std::vector<int> frames = recorder.Stop();
    std::vector<int> expected(20);
    for (int i = 0; i < 20; ++i) expected[i] = i + 1;
    EXPECT_EQ(frames, expected);
    EXPECT_NE(Status().find("\nStarting Scan.\n"), std::string::npos);
    EXPECT_NE(Status().find("\nScanning complete.\n"), std::string::npos);
    // The scan's own commands, without the monitoring loop's reads between them.
    std::vector<std::string> trace = Trace();
    std::erase_if(trace, [](const std::string& c) {
        return c == "#1P" || c == "m140" || c == "m137" || c == "m131" || c == "m132";
    });
    const std::vector<std::string> setup = {"I19=5",   "I20=7",       "CLOSE",
                                            "END GAT", "DEL GAT",     "DEF GAT",
                                            "GAT &1 b1 r", "m180->X:$818,0", "m145->Y:$814,10"};
    auto at = std::search(trace.begin(), trace.end(), setup.begin(), setup.end());
    EXPECT_NE(at, trace.end());
}

TEST_F(ScannerTest, FramesServedTooSlowlyAreAllTakenAndCountedLate) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 10;
    ScanCommandWrite(10, 100.0f, 4.0f, 0.0f, 0.0f);
    // Each frame takes far longer than a step: the stage runs ahead.
    FrameRecorder recorder(2000);
    ASSERT_EQ(ExecuteProgram(), 1);
    std::vector<int> expected(10);
    for (int i = 0; i < 10; ++i) expected[i] = i + 1;
    EXPECT_EQ(recorder.Stop(), expected);  // every frame, once, in order
    EXPECT_GE(scanner.g_nLateFrames, 5);
    EXPECT_LE(scanner.g_nLateFrames, 10);
    EXPECT_NE(Status().find(pelu::Format("\n%d of 10 frames were taken after the stage had left "
                                         "their position.\n",
                                         scanner.g_nLateFrames.load())),
              std::string::npos)
        << Status();
    // Late frames stand out and are counted on the main panel.
    EXPECT_NE(Warnings().find("frames were taken after the stage had left"), std::string::npos)
        << Warnings();
    EXPECT_EQ(pelu::CountedWarnings().frames, scanner.g_nLateFrames.load());
}

TEST_F(ScannerTest, ProgramEndEndsPollingEvenWithFewerFramesThanPlanned) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 20;
    ScanCommandWrite(5, 100.0f, 4.0f, 0.0f, 0.0f);  // a program of only 5 steps
    FrameRecorder recorder;
    ASSERT_EQ(ExecuteProgram(), 1);
    EXPECT_EQ(recorder.Stop(), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST_F(ScannerTest, ContinuousScanNeverCountsPastTheFrames) {
    Open();
    Home();
    state.scan_mode = 1;
    state.g_nFrameNumber1 = 100;
    ScanCommandWrite(100, 0.0f, 0.0f, 5.0f, 200.0f);
    {
        FrameRecorder recorder;
        ASSERT_EQ(ExecuteProgram(), 1);
        const std::vector<int> frames = recorder.Stop();
        ASSERT_EQ(frames.size(), 100u);
        EXPECT_EQ(frames.front(), 1);
        EXPECT_EQ(frames.back(), 100);
    }
    // A zero stroke makes every position "passed": the count still stops at
    // the frames of the series.
    state.PmacAccessible = 1;
    state.g_nFrameNumber1 = 7;
    ScanCommandWrite(7, 0.0f, 0.0f, 5.0f, 0.0f);
    FrameRecorder recorder;
    ASSERT_EQ(ExecuteProgram(), 1);
    EXPECT_EQ(recorder.Stop().size(), 7u);
}

TEST_F(ScannerTest, ContinuousScanServesEveryFrameWhenTheCameraFallsBehind) {
    Open();
    Home();
    state.scan_mode = 1;
    state.g_nFrameNumber1 = 7;
    // A 14 s stroke, and a camera that needs 6 s a frame: most requests are
    // still pending when the stage turns home. They are served late, never
    // dropped, and the count of late frames says so.
    ScanCommandWrite(7, 0.0f, 0.0f, 5.0f, 70.0f);
    FrameRecorder recorder(6000);
    ASSERT_EQ(ExecuteProgram(), 1);
    EXPECT_EQ(recorder.Stop(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_GE(scanner.g_nLateFrames, 4);
    EXPECT_EQ(scanner.g_nMissingFrames, 0);
    EXPECT_EQ(Status().find("were not taken"), std::string::npos) << Status();
}

TEST_F(ScannerTest, FramesOfTheSeriesBeyondTheProgramAreReportedMissing) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 8;
    ScanCommandWrite(5, 100.0f, 4.0f, 0.0f, 0.0f);  // the program has 5 steps
    FrameRecorder recorder;
    ASSERT_EQ(ExecuteProgram(), 1);
    EXPECT_EQ(recorder.Stop().size(), 5u);
    EXPECT_EQ(scanner.g_nMissingFrames, 3);
    EXPECT_NE(Status().find("\n3 of 8 frames of the scan were not taken.\n"), std::string::npos)
        << Status();
    EXPECT_NE(Warnings().find("3 of 8 frames of the scan were not taken."), std::string::npos)
        << Warnings();
    EXPECT_EQ(pelu::CountedWarnings().frames, 3 + scanner.g_nLateFrames.load())
        << "missing and late";
}

TEST_F(ScannerTest, GatherFileHasTheColumnsAndTheSampleTimes) {
    Open();
    Home();
    state.scan_mode = 0;
    state.g_nFrameNumber1 = 5;
    ScanCommandWrite(5, 100.0f, 4.0f, 0.0f, 0.0f);
    {
        FrameRecorder recorder;
        ASSERT_EQ(ExecuteProgram(), 1);
    }
    state.PmacAccessible = 1;
    // The display's histogram is on the graph; the gather plot takes its place.
    const std::vector<double> bins = {1, 2, 3}, counts = {5, 9, 4};
    state.plotHandle = ui::PlotXY(state.mainPanel, MAIN_GRAPH, bins, counts,
                                  ui::VAL_VERTICAL_BAR, ui::VAL_BLUE);
    ASSERT_GT(state.plotHandle, 0);
    ASSERT_EQ(UploadQuickGather(1), 1);
    EXPECT_EQ(state.plotHandle, 0);
    std::ifstream in("GatherResult.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "Quick Gathering Sample Data File");
    std::getline(in, line);
    EXPECT_EQ(line, "[Commanded Position]\t[Actual Position]\t[DAC Output]");
    std::vector<std::array<double, 4>> rows;
    while (std::getline(in, line)) {
        ASSERT_EQ(line.size(), 4 * 20 + 3u) << line;
        for (int column = 0; column < 3; ++column) ASSERT_EQ(line[20 + column * 21], '\t');
        std::array<double, 4> row{};
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf\t%lf\t%lf\t%lf", &row[0], &row[1], &row[2],
                              &row[3]),
                  4);
        rows.push_back(row);
    }
    // Five steps of 100 ms at 5 servo cycles (2.2 ms) a sample: at least 227
    // samples; gathering goes on until the upload, so a slow host gives more.
    ASSERT_GE(rows.size(), 227u);
    EXPECT_DOUBLE_EQ(rows[0][3], 0.0);
    EXPECT_DOUBLE_EQ(rows[1][3], 0.002);  // 3703707 x 5 / 8388608 / 1000, three decimals
    // Positions in counts: raw / (32 x 96); the stage went from 0 to 200.
    EXPECT_NEAR(rows.front()[0], 0.0, 1e-3);
    // The farthest commanded position is the fifth step; the site's tail
    // brings the stage home again.
    double farthest = 0;
    for (const auto& row : rows) farthest = std::max(farthest, row[0]);
    EXPECT_NEAR(farthest, 200.0, 1e-3);
    // The plot: actual position against time, in red.
    std::vector<ui::Plot> plots;
    ui::GetGraphPlots(state.mainPanel, MAIN_GRAPH, &plots);
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].color, ui::VAL_RED);
    EXPECT_EQ(plots[0].x.size(), rows.size());
    // A second upload replaces the plot instead of adding one.
    ASSERT_EQ(UploadQuickGather(0), 1);
    ui::GetGraphPlots(state.mainPanel, MAIN_GRAPH, &plots);
    EXPECT_EQ(plots.size(), 1u);
}

TEST_F(ScannerTest, GatherUploadFailsCleanly) {
    // Nothing gathered yet.
    Open();
    EXPECT_EQ(UploadQuickGather(1), 0);
    EXPECT_FALSE(std::filesystem::exists("GatherResult.txt"));
    CloseDevice();
    EXPECT_EQ(UploadQuickGather(1), 0);
    EXPECT_NE(Status().find("Scanner is not connected."), std::string::npos);
}

}  // namespace
}  // namespace pelu::testing
