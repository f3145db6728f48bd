// Plane statistics, the stopwatch, bias/dark averaging and correction, and the
// folder-name rule: the pure parts of the data products.
#include "data/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <vector>

#include "data/bias_dark.h"
#include "data/directory.h"
#include "state/instrument_state.h"

namespace pelu {
namespace {

TEST(Statistics, MinMaxOfSamplesAndOfNothing) {
    uint16_t lo = 1, hi = 1;
    const std::vector<uint16_t> a = {3, 7, 5};
    GetMinMax(a.data(), a.size(), &lo, &hi);
    EXPECT_EQ(lo, 3);
    EXPECT_EQ(hi, 7);
    const std::vector<uint16_t> b = {65535, 0};
    GetMinMax(b.data(), b.size(), &lo, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 65535);
    GetMinMax(nullptr, 0, &lo, &hi);
    EXPECT_EQ(lo, 65535);
    EXPECT_EQ(hi, 0);
}

TEST(Statistics, MeanAndPopulationStandardDeviation) {
    const std::vector<uint16_t> s = {1, 2, 3, 4};
    const float mean = DataMean(2, 2, s.data());
    EXPECT_FLOAT_EQ(mean, 2.5f);
    EXPECT_NEAR(DataStdev(2, 2, s.data(), mean), 1.1180340f, 1e-6);
    EXPECT_EQ(DataMean(0, 5, s.data()), 0.0f);
}

// A float running sum stops growing exactly once it passes 2^24: these planes
// gave 996.1 / 3.9 and 30265 / 265.
TEST(Statistics, LargeUniformPlanesAreExact) {
    const std::vector<uint16_t> small(512 * 512, 1000);
    float mean = DataMean(512, 512, small.data());
    EXPECT_EQ(mean, 1000.0f);
    EXPECT_EQ(DataStdev(512, 512, small.data(), mean), 0.0f);
    const std::vector<uint16_t> large(1024 * 1024, 30000);
    mean = DataMean(1024, 1024, large.data());
    EXPECT_EQ(mean, 30000.0f);
    EXPECT_EQ(DataStdev(1024, 1024, large.data(), mean), 0.0f);
    // Half 0, half 60000 over a large plane: mean 30000, deviation 30000.
    std::vector<uint16_t> halves(1024 * 1024, 0);
    std::fill(halves.begin() + halves.size() / 2, halves.end(), 60000);
    mean = DataMean(1024, 1024, halves.data());
    EXPECT_EQ(mean, 30000.0f);
    EXPECT_FLOAT_EQ(DataStdev(1024, 1024, halves.data(), mean), 30000.0f);
}

// The one-pass statistics against a long-double reference, on planes whose
// length is not a multiple of the vector width, with both extremes, and on a
// plane long enough to need several blocks of partial sums. The figures are
// floats: they agree with the reference to float rounding (a relative 2^-23),
// the extremes exactly, and DataMean / DataStdev / GetMinMax give the same.
TEST(Statistics, OnePassAgreesWithAPlainReferenceToFloatRounding) {
    uint32_t r = 12345;
    auto next = [&r] { return r = r * 1664525u + 1013904223u; };
    for (const size_t count : {size_t(1), size_t(7), size_t(8), size_t(1001), size_t(3) << 20}) {
        std::vector<uint16_t> plane(count);
        for (uint16_t& v : plane) v = uint16_t(next() >> 16);
        if (count > 8) {
            plane[count / 3] = 0;
            plane[count / 2] = 65535;
        }
        long double sum = 0, squares = 0;
        uint16_t lo = 65535, hi = 0;
        for (uint16_t v : plane) {
            sum += v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        const float mean = float(sum / count);
        for (uint16_t v : plane) squares += (v - (long double)mean) * (v - (long double)mean);
        const float stdev = float(std::sqrt(squares / count));

        const PlaneStatistics s = Statistics(plane.data(), count);
        EXPECT_EQ(s.min, lo) << count;
        EXPECT_EQ(s.max, hi) << count;
        EXPECT_NEAR(s.mean, mean, mean * 0x1p-23f) << count;
        EXPECT_NEAR(s.stdev, stdev, stdev * 0x1p-23f + 1e-6f) << count;
        // The separate functions give the same figures.
        const int width = int(count);
        EXPECT_EQ(DataMean(width, 1, plane.data()), s.mean);
        EXPECT_EQ(DataStdev(width, 1, plane.data(), s.mean), s.stdev);
        uint16_t min = 0, max = 0;
        GetMinMax(plane.data(), count, &min, &max);
        EXPECT_EQ(min, s.min);
        EXPECT_EQ(max, s.max);
    }
    // Nothing to count.
    const PlaneStatistics none = Statistics(nullptr, 0);
    EXPECT_EQ(none.min, 65535);
    EXPECT_EQ(none.max, 0);
    EXPECT_EQ(none.mean, 0.0f);
    EXPECT_EQ(none.stdev, 0.0f);
}

TEST(Timing, MarksGiveSecondsAndUtcStamps) {
    const std::regex stamp(R"(\d{4}\.\d{2}\.\d{2}-\d{2}:\d{2}:\d{2})");
    std::string start, end;
    marktime_start(start);
    marktime_end(end);
    EXPECT_TRUE(std::regex_match(start, stamp)) << start;
    EXPECT_TRUE(std::regex_match(end, stamp)) << end;

    state.gliFreq = 1000;
    state.gliStart = 10'000'000;
    state.gliEnd = 10'001'500;
    EXPECT_FLOAT_EQ(time_difference(), 1.5f);
    state.gliFreq = 0;  // before any run set the frequency
    EXPECT_EQ(time_difference(), 0.0f);
}

TEST(BiasDark, AveragingKeepsWholeValuesAndDropsRemainders) {
    const size_t plane = 3;
    std::vector<uint16_t> series(plane * kBiasDarkFrames);
    for (int k = 0; k < kBiasDarkFrames; ++k) {
        series[k * plane + 0] = 1000;                // sum 100000 needs more than 16 bits
        series[k * plane + 1] = k % 2 ? 199 : 0;     // (50 x 199) / 100 = 99.5 -> 99
        series[k * plane + 2] = 65535;               // the largest sum there is
    }
    std::vector<uint16_t> master(plane, 7);
    AverageFrames(series.data(), plane, kBiasDarkFrames, master.data());
    EXPECT_EQ(master[0], 1000);
    EXPECT_EQ(master[1], 99);
    EXPECT_EQ(master[2], 65535);
}

TEST(BiasDark, CorrectionWrapsAndTouchesOnlyItsFrame) {
    ResetInstrumentState();
    state.nCameraHandle1 = 100;
    state.nCameraHandle2 = 101;
    state.g_pRawData2.Allocate(2 * 2 * 3);
    state.BiasDark2.Allocate(2 * 2);
    for (size_t i = 0; i < 12; ++i) state.g_pRawData2.get()[i] = 995;
    for (size_t i = 0; i < 4; ++i) state.BiasDark2.get()[i] = 1000;
    state.BiasDark2.get()[3] = 5;
    BiasDarkCorrection(2, 2, 101, 1);
    const uint16_t* raw = state.g_pRawData2.get();
    EXPECT_EQ(raw[3], 995);  // frame 0 untouched
    EXPECT_EQ(raw[4], 65531);
    EXPECT_EQ(raw[7], 990);
    EXPECT_EQ(raw[8], 995);  // frame 2 untouched
    BiasDarkCorrection(2, 2, 101, 3);  // past the buffer: nothing happens
    BiasDarkCorrection(2, 2, 555, 0);  // neither camera
    EXPECT_EQ(raw[0], 995);
    ResetInstrumentState();
}

TEST(Directory, TargetFoldersAndFolderNames) {
    EXPECT_STREQ(TargetFolder(-1), "");
    EXPECT_STREQ(TargetFolder(0), "\\raw\\dc");
    EXPECT_STREQ(TargetFolder(5), "\\raw\\sunspot");
    EXPECT_STREQ(TargetFolder(7), "\\raw\\prom");
    EXPECT_STREQ(TargetFolder(8), "\\raw\\");
    EXPECT_STREQ(TargetFolder(9), "");

    for (const char* good : {"comet", "Comet Hale-Bopp", "AR 12345", "flare[1]", "x..y"})
        EXPECT_EQ(FolderNameRefusal(good), "") << good;
    for (const char* bad : {"", ".", "..", "../up", "a\\b", "a/b", "C:", "x:y", "tab\there",
                            "what?", "star*", "end.", "end ", " lead", "a|b", "\x7f"})
        EXPECT_NE(FolderNameRefusal(bad), "") << bad;
}

}  // namespace
}  // namespace pelu
