#include "platform/os/os.h"
#include "platform/os/waitable.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The shared test main runs everything at this scale.
constexpr double kTestScale = 0.01;

double ElapsedMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// A fresh folder under the system's temporary folder, removed afterwards;
// drive E is mapped onto its "E" subfolder.
class TempDrive : public ::testing::Test {
  protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        root_ = fs::temp_directory_path() /
                ("os_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(root_ / "E");
        drive_ = (root_ / "E").string();
        os::SetDriveFolder('E', drive_);
        os::ClearLaunchedBatchCommands();
    }
    void TearDown() override {
        os::SetDriveFolder('E', "");
        os::ClearLaunchedBatchCommands();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    void Write(const fs::path& file, const std::string& text) {
        std::ofstream out(file, std::ios::binary);
        out << text;
    }

    fs::path root_;
    std::string drive_;
};

class ScaledTime : public ::testing::Test {
  protected:
    void TearDown() override { os::SetTimeScale(kTestScale); }
};

}  // namespace

// ---- time scale -----------------------------------------------------------

TEST(TimeScaleParse, AcceptsPositiveFiniteNumbers) {
    const std::pair<const char*, double> good[] = {
        {"1", 1.0}, {"0.01", 0.01}, {" 2.5\t", 2.5}, {"1e-3", 1e-3}, {"+4", 4.0}, {"100", 100.0},
    };
    for (const auto& [text, expected] : good) {
        bool valid = false;
        EXPECT_DOUBLE_EQ(os::ParseTimeScale(text, &valid), expected) << text;
        EXPECT_TRUE(valid) << text;
    }
}

TEST(TimeScaleParse, UnsetMeansOneWithoutComplaint) {
    for (const char* text : {static_cast<const char*>(nullptr), "", "   "}) {
        bool valid = false;
        EXPECT_DOUBLE_EQ(os::ParseTimeScale(text, &valid), 1.0);
        EXPECT_TRUE(valid);
    }
}

TEST(TimeScaleParse, RefusesGarbageWithOne) {
    for (const char* text : {"abc", "0", "-1", "-0.5", "inf", "-inf", "nan", "1x", "0x10", "1,5",
                             "1e400", "1e-400", "1 2", "--1", "+-1", "."}) {
        bool valid = true;
        EXPECT_DOUBLE_EQ(os::ParseTimeScale(text, &valid), 1.0) << text;
        EXPECT_FALSE(valid) << text;
    }
    EXPECT_DOUBLE_EQ(os::ParseTimeScale("garbage", nullptr), 1.0);  // null flag is allowed
}

TEST_F(ScaledTime, OverrideAndRestore) {
    const double fromEnvironment = os::ParseTimeScale(std::getenv("PELU_TIME_SCALE"), nullptr);
    os::SetTimeScale(0.5);
    EXPECT_DOUBLE_EQ(os::TimeScale(), 0.5);
    os::SetTimeScale(0.0);
    EXPECT_DOUBLE_EQ(os::TimeScale(), fromEnvironment);
    os::SetTimeScale(3.0);
    os::SetTimeScale(-2.0);
    EXPECT_DOUBLE_EQ(os::TimeScale(), fromEnvironment);
    os::SetTimeScale(std::numeric_limits<double>::quiet_NaN());
    EXPECT_DOUBLE_EQ(os::TimeScale(), fromEnvironment);
}

TEST_F(ScaledTime, SleepAndDelayAreScaled) {
    ASSERT_DOUBLE_EQ(os::TimeScale(), kTestScale);
    // The upper bounds only tell a scaled wait from an unscaled one (a
    // hundred times longer), so that a busy host cannot fail them.
    auto start = std::chrono::steady_clock::now();
    os::Sleep(10000.0);  // 100 ms real, 10 s unscaled
    double ms = ElapsedMs(start);
    EXPECT_GE(ms, 100.0);
    EXPECT_LT(ms, 5000.0);

    start = std::chrono::steady_clock::now();
    os::Delay(10.0);  // 100 ms real
    ms = ElapsedMs(start);
    EXPECT_GE(ms, 100.0);
    EXPECT_LT(ms, 5000.0);

    os::SetTimeScale(0.1);
    start = std::chrono::steady_clock::now();
    os::Sleep(300.0);  // 30 ms real
    EXPECT_GE(ElapsedMs(start), 30.0);
}

TEST_F(ScaledTime, NonsenseWaitsReturnAtOnce) {
    os::SetTimeScale(1.0);
    const auto start = std::chrono::steady_clock::now();
    os::Sleep(-5000.0);
    os::Sleep(std::numeric_limits<double>::quiet_NaN());
    os::Sleep(-std::numeric_limits<double>::infinity());
    os::Delay(-3.0);
    os::Delay(std::numeric_limits<double>::quiet_NaN());
    // Less than the shortest of the waits asked for: none of them was waited.
    EXPECT_LT(ElapsedMs(start), 2500.0);
}

// ---- counter ------------------------------------------------------------------

TEST_F(ScaledTime, CounterReadsInstrumentSeconds) {
    EXPECT_FALSE(os::QueryPerformanceFrequency(nullptr));
    EXPECT_FALSE(os::QueryPerformanceCounter(nullptr));

    int64_t frequency = 0;
    ASSERT_TRUE(os::QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 10'000'000);  // 1e9 x 0.01

    int64_t before = 0;
    int64_t after = 0;
    ASSERT_TRUE(os::QueryPerformanceCounter(&before));
    os::Sleep(500.0);
    ASSERT_TRUE(os::QueryPerformanceCounter(&after));
    const double instrumentSeconds =
        static_cast<double>(after - before) / static_cast<double>(frequency);
    EXPECT_GE(instrumentSeconds, 0.5);
    EXPECT_LT(instrumentSeconds, 5.0);  // generous: 45 ms of real slack

    os::SetTimeScale(1.0);
    ASSERT_TRUE(os::QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency, 1'000'000'000);
    os::SetTimeScale(1e-12);  // absurdly fast still gives a usable frequency
    ASSERT_TRUE(os::QueryPerformanceFrequency(&frequency));
    EXPECT_GE(frequency, 1);
    os::SetTimeScale(1e30);
    ASSERT_TRUE(os::QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency, 0);  // no overflow into a negative frequency
}

TEST(Counter, NeverRunsBackwards) {
    int64_t previous = 0;
    ASSERT_TRUE(os::QueryPerformanceCounter(&previous));
    for (int i = 0; i < 10000; ++i) {
        int64_t now = 0;
        ASSERT_TRUE(os::QueryPerformanceCounter(&now));
        ASSERT_GE(now, previous);
        previous = now;
    }
}

// ---- calendar -----------------------------------------------------------------

// Under a time zone far from UTC, so that local time read by mistake shows.
TEST(Calendar, UtcNowIsUtcWithMilliseconds) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    ::setenv("TZ", "XST-5:30", 1);
    ::tzset();

    // The bounds from the same clock UtcNow reads: time() reads a coarser
    // one that may not have reached the second UtcNow already saw.
    const auto wallSeconds = [] {
        return std::chrono::system_clock::to_time_t(
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));
    };
    const std::time_t lo = wallSeconds();
    const os::UtcTime utc = os::UtcNow();
    const std::time_t hi = wallSeconds();

    if (oldTz) {
        ::setenv("TZ", savedTz.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();

    EXPECT_GE(utc.month, 1);
    EXPECT_LE(utc.month, 12);
    EXPECT_GE(utc.day, 1);
    EXPECT_LE(utc.day, 31);
    EXPECT_GE(utc.millisecond, 0);
    EXPECT_LE(utc.millisecond, 999);

    std::tm tm{};
    tm.tm_year = utc.year - 1900;
    tm.tm_mon = utc.month - 1;
    tm.tm_mday = utc.day;
    tm.tm_hour = utc.hour;
    tm.tm_min = utc.minute;
    tm.tm_sec = utc.second;
    const std::time_t t = ::timegm(&tm);
    EXPECT_GE(t, lo);
    EXPECT_LE(t, hi);
}

// ---- logical paths ------------------------------------------------------------

TEST_F(TempDrive, DrivePathsMapBelowTheDriveFolder) {
    const std::string data = drive_ + "/DRAV_Data/2026/06/15";
    EXPECT_EQ(os::HostPath("E:\\DRAV_Data\\2026\\06\\15"), data);
    EXPECT_EQ(os::HostPath("e:\\DRAV_Data\\2026\\06\\15"), data);         // lower-case drive
    EXPECT_EQ(os::HostPath("E:/DRAV_Data\\2026/06\\15"), data);           // mixed separators
    EXPECT_EQ(os::HostPath("E:\\DRAV_Data\\\\2026\\.\\06\\15\\"), data);  // doubled, ".", trailing
    EXPECT_EQ(os::HostPath("E:\\DRAV_Data\\x\\..\\2026\\06\\15"), data);
    EXPECT_EQ(os::HostPath("E:DRAV_Data\\2026\\06\\15"), data);  // no separator after colon
    EXPECT_EQ(os::HostPath("E:"), drive_);
    EXPECT_EQ(os::HostPath("E:\\"), drive_);
    EXPECT_EQ(os::HostPath("E:\\scan 1\\a.fits"), drive_ + "/scan 1/a.fits");
}

TEST_F(TempDrive, ClimbingOutIsRefused) {
    EXPECT_EQ(os::HostPath(""), "");
    EXPECT_EQ(os::HostPath("E:\\.."), "");
    EXPECT_EQ(os::HostPath("E:\\..\\E\\x"), "");  // even when it would land back inside
    EXPECT_EQ(os::HostPath("E:\\DRAV_Data\\..\\..\\x"), "");
    EXPECT_EQ(os::HostPath("..\\Wv.ini"), "");
    EXPECT_EQ(os::HostPath("a\\..\\..\\Wv.ini"), "");
    EXPECT_EQ(os::HostPath("/.."), "");
    EXPECT_FALSE(os::MakeDirectories("E:\\..\\escaped"));
    EXPECT_FALSE(fs::exists(root_ / "escaped"));
    EXPECT_FALSE(os::MakeDirectories(""));
}

TEST_F(TempDrive, RelativeAndHostPaths) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(os::WorkingDirectory(), cwd);
    EXPECT_EQ(os::HostPath(".\\Wv.ini"), cwd + "/Wv.ini");
    EXPECT_EQ(os::HostPath("Wv.ini"), cwd + "/Wv.ini");
    EXPECT_EQ(os::HostPath("sub/dir\\x.txt"), cwd + "/sub/dir/x.txt");
    EXPECT_EQ(os::HostPath("sub\\..\\Wv.ini"), cwd + "/Wv.ini");
    EXPECT_EQ(os::HostPath("."), cwd);
    EXPECT_EQ(os::HostPath("/tmp/a/../b//c/"), "/tmp/b/c");
    EXPECT_EQ(os::HostPath("/"), "/");
    EXPECT_EQ(os::HostPath("1:\\x"), cwd + "/1:/x");  // not a drive letter
}

TEST_F(TempDrive, DriveFolderSources) {
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(os::DriveFolder('E'), drive_);
    EXPECT_EQ(os::DriveFolder('e'), drive_);

    os::SetDriveFolder('e', (root_ / "other").string());  // letters are one drive in either case
    EXPECT_EQ(os::DriveFolder('E'), (root_ / "other").string());
    os::SetDriveFolder('E', "");
    EXPECT_EQ(os::DriveFolder('E'), std::getenv("PELU_DRIVE_E")
                                        ? std::string(std::getenv("PELU_DRIVE_E"))
                                        : cwd + "/drive_E");

    ASSERT_EQ(std::getenv("PELU_DRIVE_Q"), nullptr);
    EXPECT_EQ(os::DriveFolder('q'), cwd + "/drive_Q");
    ::setenv("PELU_DRIVE_Q", (root_ / "q/").c_str(), 1);
    EXPECT_EQ(os::DriveFolder('Q'), (root_ / "q/").string());
    EXPECT_EQ(os::HostPath("q:\\x"), (root_ / "q" / "x").string());
    os::SetDriveFolder('Q', (root_ / "set").string());  // the process's own mapping wins
    EXPECT_EQ(os::HostPath("Q:\\x"), (root_ / "set" / "x").string());
    os::SetDriveFolder('Q', "");
    ::unsetenv("PELU_DRIVE_Q");

    EXPECT_EQ(os::DriveFolder('1'), "");
    os::SetDriveFolder('1', "/tmp");  // ignored
    EXPECT_EQ(os::DriveFolder('1'), "");
}

TEST(Paths, ExecutableDirectoryHoldsThisProgram) {
    const fs::path dir = os::ExecutableDirectory();
    ASSERT_TRUE(dir.is_absolute()) << dir;
    EXPECT_TRUE(fs::is_regular_file(dir / fs::path(program_invocation_name).filename())) << dir;
}

TEST_F(TempDrive, MakeDirectoriesMakesParents) {
    EXPECT_TRUE(os::MakeDirectories("E:\\DRAV_Data\\2026\\06\\15\\scan1"));
    EXPECT_TRUE(fs::is_directory(root_ / "E/DRAV_Data/2026/06/15/scan1"));
    EXPECT_TRUE(os::MakeDirectories("e:/DRAV_Data/2026"));  // already there
    Write(root_ / "E/file", "x");
    EXPECT_FALSE(os::MakeDirectories("E:\\file"));  // a file in the way
    EXPECT_FALSE(os::MakeDirectories("E:\\file\\below"));
}

// ---- batch files --------------------------------------------------------------

TEST_F(TempDrive, BatchFileMakesFoldersAndRecordsTheRest) {
    // An "arp" that leaves a mark if anything ever runs it.
    const fs::path bin = root_ / "bin";
    fs::create_directories(bin);
    const fs::path marker = root_ / "arp_ran";
    Write(bin / "arp", "#!/bin/sh\ntouch '" + marker.string() + "'\n");
    fs::permissions(bin / "arp", fs::perms::owner_all);
    const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (bin.string() + ":" + savedPath).c_str(), 1);
    // Relative paths would land in the working directory: make it a fresh one.
    const fs::path savedCwd = fs::current_path();
    fs::create_directories(root_ / "cwd");
    fs::current_path(root_ / "cwd");

    Write(root_ / "E/makefolder.bat",
          "@echo off\r\n"
          "rem folders of today's observation\r\n"
          ":: another comment\r\n"
          "\r\n"
          "   \r\n"
          "mkdir E:\\DRAV_Data\\2026\\06\\15\\scan1\r\n"
          "MD \"E:\\DRAV Data\\quoted\"\r\n"
          "md E:\\a E:\\b 2>nul\r\n"
          "mkdir E:\\..\\..\\escape\r\n"
          "arp -s 192.168.0.10 00-11-22-33-44-55\r\n"
          "copy x y\r\n"
          "mkdir E:\\last");  // no line end at the end
    EXPECT_TRUE(os::LaunchBatchFile("E:\\makefolder.bat"));
    ::setenv("PATH", savedPath.c_str(), 1);
    fs::current_path(savedCwd);

    EXPECT_TRUE(fs::is_directory(root_ / "E/DRAV_Data/2026/06/15/scan1"));
    EXPECT_TRUE(fs::is_directory(root_ / "E/DRAV Data/quoted"));
    EXPECT_TRUE(fs::is_directory(root_ / "E/a"));
    EXPECT_TRUE(fs::is_directory(root_ / "E/b"));
    EXPECT_TRUE(fs::is_directory(root_ / "E/last"));
    EXPECT_TRUE(fs::is_empty(root_ / "cwd"));  // the redirection "2>nul" made no folder
    EXPECT_FALSE(fs::exists(root_.parent_path() / "escape"));
    EXPECT_FALSE(fs::exists(marker));

    const std::vector<os::BatchCommand> record = os::LaunchedBatchCommands();
    const std::vector<std::pair<std::string, bool>> expected = {
        {"@echo off", false},
        {"mkdir E:\\DRAV_Data\\2026\\06\\15\\scan1", true},
        {"MD \"E:\\DRAV Data\\quoted\"", true},
        {"md E:\\a E:\\b 2>nul", true},
        {"mkdir E:\\..\\..\\escape", false},
        {"arp -s 192.168.0.10 00-11-22-33-44-55", false},
        {"copy x y", false},
        {"mkdir E:\\last", true},
    };
    ASSERT_EQ(record.size(), expected.size());
    for (size_t i = 0; i < record.size(); ++i) {
        EXPECT_EQ(record[i].batchFile, "E:\\makefolder.bat");
        EXPECT_EQ(record[i].command, expected[i].first);
        EXPECT_EQ(record[i].executed, expected[i].second) << record[i].command;
    }

    os::ClearLaunchedBatchCommands();
    EXPECT_TRUE(os::LaunchedBatchCommands().empty());
}

TEST_F(TempDrive, UnreadableBatchFilesAreRefused) {
    Write(root_ / "E/old.bat", "arp -d *\n");
    ASSERT_TRUE(os::LaunchBatchFile("E:\\old.bat"));
    const size_t before = os::LaunchedBatchCommands().size();

    EXPECT_FALSE(os::LaunchBatchFile("E:\\missing.bat"));
    EXPECT_FALSE(os::LaunchBatchFile("E:\\"));  // a folder
    EXPECT_FALSE(os::LaunchBatchFile("E:\\..\\outside.bat"));
    EXPECT_FALSE(os::LaunchBatchFile(""));
    EXPECT_EQ(os::LaunchedBatchCommands().size(), before);

    Write(root_ / "E/empty.bat", "");
    EXPECT_TRUE(os::LaunchBatchFile("E:\\empty.bat"));
    EXPECT_EQ(os::LaunchedBatchCommands().size(), before);
}

// Several threads launch at once: each file's lines stay together and the
// record loses nothing (run under the thread sanitizer too).
TEST_F(TempDrive, ConcurrentLaunchesKeepEachFileTogether) {
    constexpr int kThreads = 4;
    constexpr int kLaunches = 25;
    for (int t = 0; t < kThreads; ++t) {
        Write(root_ / "E" / ("t" + std::to_string(t) + ".bat"), "mkdir E:\\t" + std::to_string(t) +
                                                                    "\narp -a\nmkdir E:\\t" +
                                                                    std::to_string(t) + "\\x\n");
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLaunches; ++i) {
                EXPECT_TRUE(os::LaunchBatchFile("E:\\t" + std::to_string(t) + ".bat"));
                (void)os::LaunchedBatchCommands();
                os::SetTimeScale(t % 2 ? 0.02 : kTestScale);
                (void)os::TimeScale();
                (void)os::HostPath("E:\\x");
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    os::SetTimeScale(kTestScale);

    const std::vector<os::BatchCommand> record = os::LaunchedBatchCommands();
    ASSERT_EQ(record.size(), static_cast<size_t>(kThreads * kLaunches * 3));
    for (size_t i = 0; i < record.size(); i += 3) {
        EXPECT_EQ(record[i + 1].batchFile, record[i].batchFile);
        EXPECT_EQ(record[i + 2].batchFile, record[i].batchFile);
        EXPECT_EQ(record[i + 1].command, "arp -a");
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(fs::is_directory(root_ / "E" / ("t" + std::to_string(t)) / "x"));
}

// The take handshake's wait: woken by the store of another thread, not by a
// poll; a wait that cannot succeed ends at its limit or when abandoned.
TEST(WaitableInt, AStoreWakesTheWaiterAndLimitsEndTheWait) {
    os::WaitableInt take{1};
    std::atomic<bool> waiting{false};
    std::thread monitor([&] {
        while (!waiting) std::this_thread::yield();
        take = 0;
    });
    waiting = true;
    // An hour of instrument time: only the store can end this wait in a test.
    EXPECT_TRUE(take.WaitFor(0, 3600.0 * 1000.0, {}, 3600.0 * 1000.0));
    monitor.join();
    EXPECT_EQ(int(take), 0);

    take = 1;
    EXPECT_FALSE(take.WaitFor(0, 0.0));
    EXPECT_FALSE(take.WaitFor(0, 3600.0 * 1000.0, [] { return true; }));
    EXPECT_TRUE(take.WaitFor(1, 0.0));
}
