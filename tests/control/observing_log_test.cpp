// The observing log: status lines and controller commands, time-stamped, in
// one file a day below the data root.
#include "state/observing_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class ObservingLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("pelu-log-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
    }
    void TearDown() override {
        CloseObservingLog();
        fs::remove_all(root);
    }
    fs::path root;
};

TEST_F(ObservingLogTest, StatusLinesAndCommandsAreStampedInTheFileOfTheDay) {
    // The data root is created when it is missing.
    ASSERT_TRUE(OpenObservingLog((root / "DRAV_Data").string()));
    ShowStatus("\nCamera1 is Opening\n\nCamera1 Open Complete!!\n");
    LogControllerCommand("scanner", "i900", "3\r", true);
    LogControllerCommand("scanner", "m139", "", false);
    LogControllerWrite("motor", "1GO:");
    const std::string path = ObservingLogPath();
    EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(),
                                 std::regex(R"(ObservingLog_20\d{6}\.txt)")))
        << path;
    EXPECT_EQ(fs::path(path).parent_path(), root / "DRAV_Data");
    const std::vector<std::string> lines = Lines(path);
    ASSERT_EQ(lines.size(), 5u);
    const std::string stamp = R"(20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "status  Camera1 is Opening")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + "status  Camera1 Open Complete!!")));
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "scanner> i900 -> \"3\"")))
        << lines[2];
    EXPECT_TRUE(std::regex_match(lines[3], std::regex(stamp + R"(scanner> m139 -> \(no reply\))")));
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(stamp + "motor> 1GO:")));

    // Appended to, never rewritten: a second program run adds its lines.
    CloseObservingLog();
    ShowStatus("not logged while closed\n");
    ASSERT_TRUE(OpenObservingLog((root / "DRAV_Data").string()));
    ShowStatus("again\n");
    const std::vector<std::string> after = Lines(path);
    ASSERT_EQ(after.size(), 6u);
    EXPECT_NE(after[5].find("status  again"), std::string::npos);
}

TEST_F(ObservingLogTest, AnUnusableFolderLeavesTheProgramWithoutALog) {
    fs::create_directories(root);
    std::ofstream(root / "file") << "x";
    EXPECT_FALSE(OpenObservingLog((root / "file" / "DRAV_Data").string()));
    ShowStatus("nothing to log into\n");
    EXPECT_EQ(ObservingLogPath(), "");
}

}  // namespace
}  // namespace pelu

namespace pelu {
namespace {

TEST_F(ObservingLogTest, WarningsAreCountedByKindLoggedAndSummedUpPerRun) {
    ResetInstrumentState();
    ASSERT_TRUE(OpenObservingLog((root / "DRAV_Data").string()));
    ShowWarning(Warning::Device, "\nThe camera was not switched on: no camera found.\n");
    const RunWarnings run;
    EXPECT_EQ(run.Summary(), "") << "what came before the run is not the run's";
    ShowStatus("\nScanning is finished.\n");
    ShowWarning(Warning::Frames, "\n2 of 5 frames were taken after the stage had left\n", 2);
    ShowWarning(Warning::Save, "\nFITS file a.fts: writing failed\n", 0);  // explains the next
    ShowWarning(Warning::Save, "\nThe series of CCD 1 was not saved to a.fts\n");
    const WarningCounts counts = CountedWarnings();
    EXPECT_EQ(counts.frames, 2);
    EXPECT_EQ(counts.saves, 1);
    EXPECT_EQ(counts.devices, 1);

    const std::string summary = run.Summary();
    EXPECT_NE(summary.find("- 2 frames late or missing"), std::string::npos) << summary;
    EXPECT_NE(summary.find("- 1 product not saved"), std::string::npos) << summary;
    EXPECT_EQ(summary.find("device fault"), std::string::npos) << summary;
    EXPECT_NE(summary.find("FITS file a.fts: writing failed\nThe series of CCD 1"),
              std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("Scanning is finished"), std::string::npos) << summary;

    const std::vector<std::string> lines = Lines(ObservingLogPath());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("WARNING The camera was not switched on"), std::string::npos);
    EXPECT_NE(lines[1].find("status  Scanning is finished."), std::string::npos);
    ResetInstrumentState();
}

}  // namespace
}  // namespace pelu
