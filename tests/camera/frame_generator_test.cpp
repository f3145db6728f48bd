// The synthetic frames: reproducible for a seed, bias near the baseline,
// dark current that grows with exposure and temperature, a spectrum with
// its absorption line when the shutter is open, binning and buffer bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "platform/camera_sdk/frame_generator.h"

namespace camsim {
namespace {

FrameRequest Request(int width, int height, double exposure, bool open) {
    FrameRequest r;
    r.context.detectorWidth = width;
    r.context.detectorHeight = height;
    r.context.exposureSeconds = exposure;
    r.hend = width;
    r.vend = height;
    r.shutterOpen = open;
    r.temperatureCelsius = -70;
    return r;
}

std::vector<uint16_t> Render(const FrameRequest& r, const SensorModel& sensor = {}) {
    SpectrumLight light;
    std::vector<uint16_t> frame(size_t(FrameWidth(r)) * size_t(FrameHeight(r)));
    std::vector<double> scratch;
    EXPECT_EQ(RenderFrame(r, sensor, &light, frame.data(), frame.size(), scratch), frame.size());
    return frame;
}

double Mean(const std::vector<uint16_t>& v, size_t from = 0, size_t step = 1) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = from; i < v.size(); i += step, ++n) sum += v[i];
    return n ? sum / double(n) : 0;
}

double ColumnMean(const std::vector<uint16_t>& frame, int width, int column) {
    return Mean(frame, size_t(column), size_t(width));
}

TEST(FrameGenerator, SameSeedSameFrameOtherSeedOrFrameNumberOther) {
    FrameRequest r = Request(64, 32, 0.1, true);
    EXPECT_EQ(Render(r), Render(r));
    FrameRequest other = r;
    other.seed = 2;
    EXPECT_NE(Render(r), Render(other));
    other = r;
    other.context.frameNumber = 1;
    EXPECT_NE(Render(r), Render(other));
}

TEST(FrameGenerator, ClosedShutterGivesBiasNearBaselineWithReadNoise) {
    std::vector<uint16_t> frame = Render(Request(128, 128, 0.0, false));
    const double mean = Mean(frame);
    EXPECT_NEAR(mean, 1000.0, 2.0);
    double var = 0;
    for (uint16_t v : frame) var += (v - mean) * (v - mean);
    const double sigma = std::sqrt(var / double(frame.size()));
    EXPECT_GT(sigma, 4.0);  // read noise 6 e-, plus the column pattern
    EXPECT_LT(sigma, 9.0);
}

TEST(FrameGenerator, DarkCurrentGrowsWithExposureAndTemperature) {
    SensorModel sensor;
    EXPECT_NEAR(DarkRate(sensor, 20.0), sensor.darkRateAt20C, 1e-9);
    EXPECT_NEAR(DarkRate(sensor, 26.0), 2 * sensor.darkRateAt20C, 1e-9);
    FrameRequest warm = Request(64, 64, 1.0, false);
    warm.temperatureCelsius = 20;
    FrameRequest longer = warm;
    longer.context.exposureSeconds = 4.0;
    FrameRequest cold = longer;
    cold.temperatureCelsius = -60;
    const double base = 1000.0;
    EXPECT_NEAR(Mean(Render(warm)) - base, 40.0, 3.0);
    EXPECT_NEAR(Mean(Render(longer)) - base, 160.0, 5.0);
    EXPECT_NEAR(Mean(Render(cold)) - base, 0.0, 1.5);
}

TEST(FrameGenerator, OpenShutterShowsTheAbsorptionLineAndSlitStructure) {
    const int width = 200, height = 100;
    std::vector<uint16_t> frame = Render(Request(width, height, 0.1, true));
    const double lineCore = ColumnMean(frame, width, width / 2);
    const double continuum = ColumnMean(frame, width, width / 2 + 20);
    EXPECT_GT(continuum - 1000, 300);
    EXPECT_LT(lineCore - 1000, 0.3 * (continuum - 1000));  // a deep line
    // Along the slit: the spot band is darker than the rows around it.
    auto rowMean = [&](int y) {
        return std::accumulate(frame.begin() + y * width, frame.begin() + (y + 1) * width, 0.0) / width;
    };
    EXPECT_LT(rowMean(58) - 1000, 0.6 * (rowMean(30) - 1000));
    // With the shutter closed the same exposure has no light at all.
    EXPECT_NEAR(Mean(Render(Request(width, height, 0.1, false))), 1000.0, 2.0);
}

TEST(FrameGenerator, BinningDividesTheAreaAndSumsTheLight) {
    FrameRequest full = Request(100, 80, 0.05, true);
    FrameRequest binned = full;
    binned.hbin = binned.vbin = 2;
    EXPECT_EQ(FrameWidth(binned), 50);
    EXPECT_EQ(FrameHeight(binned), 40);
    binned.hbin = 3;  // a remainder is dropped
    EXPECT_EQ(FrameWidth(binned), 33);
    binned.hbin = 2;
    const double fullSignal = Mean(Render(full)) - 1000;
    const double binnedSignal = Mean(Render(binned)) - 1000;
    EXPECT_NEAR(binnedSignal / fullSignal, 4.0, 0.1);
    // A sub-area of the sensor.
    FrameRequest area = full;
    area.hstart = 11;
    area.hend = 30;
    area.vstart = 5;
    area.vend = 14;
    EXPECT_EQ(FrameWidth(area), 20);
    EXPECT_EQ(FrameHeight(area), 10);
    area.vend = 81;  // beyond the sensor
    EXPECT_EQ(FrameWidth(area), 0);
}

TEST(FrameGenerator, NeverWritesBeyondTheCapacity) {
    FrameRequest r = Request(32, 32, 0.1, true);
    std::vector<uint16_t> buffer(32 * 32, 0xBEEF);
    std::vector<double> scratch;
    SpectrumLight light;
    EXPECT_EQ(RenderFrame(r, SensorModel{}, &light, buffer.data(), 100, scratch), 100u);
    EXPECT_TRUE(std::all_of(buffer.begin() + 100, buffer.end(), [](uint16_t v) { return v == 0xBEEF; }));
    EXPECT_EQ(RenderFrame(r, SensorModel{}, &light, nullptr, 100, scratch), 0u);
}

// A scene can replace the spectrum: the generator asks it for every row.
TEST(FrameGenerator, TakesItsLightFromAnyLightModel) {
    struct Flat : LightModel {
        void RowRate(const ExposureContext& c, int, int, int count, double* rate) const override {
            for (int i = 0; i < count; ++i) rate[i] = c.camera == 1 ? 2000.0 : 0.0;
        }
    };
    Flat flat;
    FrameRequest r = Request(40, 40, 0.5, true);
    r.context.camera = 1;
    std::vector<uint16_t> frame(1600);
    std::vector<double> scratch;
    RenderFrame(r, SensorModel{}, &flat, frame.data(), frame.size(), scratch);
    EXPECT_NEAR(Mean(frame), 2000.0, 5.0);  // 1000 light + 1000 bias
    r.context.camera = 0;
    RenderFrame(r, SensorModel{}, &flat, frame.data(), frame.size(), scratch);
    EXPECT_NEAR(Mean(frame), 1000.0, 2.0);
}

}  // namespace
}  // namespace camsim
