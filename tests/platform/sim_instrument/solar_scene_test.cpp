#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/sim_instrument/scene_light.h"
#include "platform/sim_instrument/solar_scene.h"

namespace simsun {
namespace {

double MeanContinuum(double x0, double x1, double y0, double y1) {
    double sum = 0;
    int n = 0;
    for (double x = x0; x < x1; x += 0.1)
        for (double y = y0; y < y1; y += 0.1) {
            sum += SurfaceAt(x, y).continuum;
            ++n;
        }
    return sum / n;
}

TEST(SolarScene, TheSpotIsDarkWithAPenumbraBetweenUmbraAndQuietSun) {
    const double umbra = MeanContinuum(kSpotX - 2, kSpotX + 2, kSpotY - 2, kSpotY + 2);
    const double penumbra = MeanContinuum(kSpotX + 7, kSpotX + 9, kSpotY - 1, kSpotY + 1);
    const double quiet = MeanContinuum(kSpotX + 20, kSpotX + 30, kSpotY + 20, kSpotY + 30);
    EXPECT_LT(umbra, 0.3);
    EXPECT_GT(penumbra, 0.55);
    EXPECT_LT(penumbra, 0.9);
    EXPECT_NEAR(quiet, 1.0, 0.05);
}

TEST(SolarScene, GranulationHasContrastAndBrightGranulesRise) {
    double lo = 10, hi = 0, correlation = 0;
    int n = 0;
    for (double x = 60; x < 70; x += 0.1)
        for (double y = 10; y < 20; y += 0.1) {
            SurfacePoint p = SurfaceAt(x, y);
            lo = std::min(lo, p.continuum);
            hi = std::max(hi, p.continuum);
            correlation += (p.continuum - 1.0) * p.velocity;
            ++n;
        }
    EXPECT_GT(hi - lo, 0.1);           // visible granulation
    EXPECT_LT(correlation / n, 0.0);   // bright = blue-shifted (negative velocity)
    // The same point always gives the same light.
    EXPECT_EQ(SurfaceAt(63.21, 14.5).continuum, SurfaceAt(63.21, 14.5).continuum);
}

TEST(SolarScene, TheLineCoreIsDeepAndShiftsWithVelocity) {
    SurfacePoint still{1.0, 0.0, 0.8};
    EXPECT_NEAR(LineIntensity(still, 0.0, 6562.8, 0.35), 0.2, 1e-12);
    EXPECT_NEAR(LineIntensity(still, 3.0, 6562.8, 0.35), 1.0, 1e-6);
    SurfacePoint receding{1.0, 2.0, 0.8};  // 2 km/s away: red shift of 0.044 A
    const double shift = 6562.8 * 2.0 / 299792.458;
    EXPECT_NEAR(LineIntensity(receding, shift, 6562.8, 0.35), 0.2, 1e-12);
    EXPECT_GT(LineIntensity(receding, 0.0, 6562.8, 0.35), 0.2);
}

TEST(SolarSpectrumLight, TheGratingMovesTheLineAndTheStageMovesTheScene) {
    double stage = 0, grating = 20000;
    SpectrographModel model;
    model.lineCentreStep = 20000;
    SolarSpectrumLight light({[&] { return stage; }, [&] { return grating; }}, model);
    camsim::ExposureContext context;
    context.camera = 0;
    context.detectorWidth = 512;
    context.detectorHeight = 512;
    std::vector<double> row(512);
    // The light reads the instrument once per exposure.
    auto darkest = [&] {
        ++context.frameNumber;
        light.RowRate(context, 10, 0, 512, row.data());
        return static_cast<int>(std::min_element(row.begin(), row.end()) - row.begin());
    };
    EXPECT_NEAR(darkest(), 256, 3);  // the line sits in the middle at the centre step
    grating = 20000 + 100;           // 0.5 A further: the line moves 42 pixels left
    EXPECT_NEAR(darkest(), 256 - 42, 3);

    // Across the spot centre row, the continuum is darker on the spot than off it.
    grating = 20000;
    const int spotRow = static_cast<int>(kSpotY / kFieldHeightArcsec * 512);
    stage = kSpotX / model.arcsecPerStageUnit;
    ++context.frameNumber;
    light.RowRate(context, spotRow, 0, 1, row.data());
    const double onSpot = row[0];
    stage = (kSpotX + 30) / model.arcsecPerStageUnit;
    light.RowRate(context, spotRow, 0, 1, row.data());
    EXPECT_EQ(row[0], onSpot) << "the same exposure sees the stage where it began";
    ++context.frameNumber;
    light.RowRate(context, spotRow, 0, 1, row.data());
    EXPECT_LT(onSpot, 0.4 * row[0]);
}

}  // namespace
}  // namespace simsun
