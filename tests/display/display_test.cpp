// The display: byte scaling, automatic limits, the panel rule, frame and
// slice views, cursor read-out and profile, histograms, and what the display
// does when the buffers behind it are gone.
#include "display/display.h"

#include <atomic>
#include <random>
#include <thread>

#include "display/views.h"
#include "tests/display/display_fixture.h"

namespace pelu {
namespace {

using testing::DisplayTest;
using testing::kHandle1;
using testing::kHandle2;

// ---- pure parts --------------------------------------------------------------------

TEST(ByteScaling, MapsTheRangeOntoBytesAndClipsOutside) {
    EXPECT_EQ(ScaleSample(150, 100, 200), 127);  // 255 x 0.5, truncated
    EXPECT_EQ(ScaleSample(50, 100, 200), 0);
    EXPECT_EQ(ScaleSample(250, 100, 200), 255);
    EXPECT_EQ(ScaleSample(200, 100, 200), 255);
    EXPECT_EQ(ScaleSample(100, 100, 200), 0);
    EXPECT_EQ(ScaleSample(65535, 0, 65535), 255);
}

TEST(ByteScaling, AFlatScaleIsAThresholdAtLow) {
    EXPECT_EQ(ScaleSample(99, 100, 100), 0);
    EXPECT_EQ(ScaleSample(100, 100, 100), 0);
    EXPECT_EQ(ScaleSample(101, 100, 100), 255);
    // low above high as well: no division, no inversion.
    EXPECT_EQ(ScaleSample(150, 200, 100), 0);
    EXPECT_EQ(ScaleSample(201, 200, 100), 255);
}

TEST(ByteScaling, PlaneScalingAgreesWithTheSampleRuleAndFlips) {
    // Every sample value once, limits well inside and outside the 16-bit range.
    std::vector<uint16_t> plane(256 * 256);
    for (size_t i = 0; i < plane.size(); ++i) plane[i] = uint16_t(i);
    for (auto [low, high] : {std::pair{1000, 60000}, {-5, 70000}, {300, 300}, {70000, 80000}}) {
        std::vector<unsigned char> out(plane.size());
        int histogram[kHistogramBins];
        ScalePlane(256, 256, plane.data(), low, high, true, out.data(), 256, histogram);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                ASSERT_EQ(out[x + 256 * y], ScaleSample(plane[x + 256 * (255 - y)], low, high))
                    << low << ".." << high << " at " << x << "," << y;
    }
}

TEST(ScaleLimits, ThreeSigmaClippedToTheExtremes) {
    ScaleLimits l = AutomaticLimits(1000.0f, 100.0f, 900, 2000);
    EXPECT_EQ(l.low, 900);  // 700 lies below the minimum
    EXPECT_EQ(l.high, 1300);
    l = AutomaticLimits(1000.0f, 100.0f, 0, 1200);
    EXPECT_EQ(l.low, 700);
    EXPECT_EQ(l.high, 1200);
    l = AutomaticLimits(10.6f, 0.0f, 0, 65535);  // truncated toward zero
    EXPECT_EQ(l.low, 10);
    EXPECT_EQ(l.high, 10);
}

TEST(ScaleLimits, MinMaxAndPercentileStretches) {
    // 1000 samples 0..999 and ten hot pixels at 60000.
    std::vector<uint16_t> plane(1010);
    for (int i = 0; i < 1000; ++i) plane[size_t(i)] = uint16_t(i);
    for (int i = 1000; i < 1010; ++i) plane[size_t(i)] = 60000;
    ScaleLimits l = LimitsFor(kStretchMinMax, plane.data(), plane.size(), 500, 100, 0, 60000);
    EXPECT_EQ(l.low, 0);
    EXPECT_EQ(l.high, 60000);
    // 0.5 % of 1010 is 5.05 samples: the sixth smallest value, 5; 99.5 %
    // (1004.95) is reached within the hot pixels only.
    l = LimitsFor(kStretchPercentile, plane.data(), plane.size(), 500, 100, 0, 60000);
    EXPECT_EQ(l.low, 5);
    EXPECT_EQ(l.high, 60000);
    l = PercentileLimits(plane.data(), plane.size(), 0.005, 0.98);  // 989.8 -> the 990th value
    EXPECT_EQ(l.high, 989);
    // The automatic rule stays the default.
    l = LimitsFor(kStretchAutomatic, plane.data(), plane.size(), 500.0f, 100.0f, 0, 60000);
    EXPECT_EQ(l.low, 200);
    EXPECT_EQ(l.high, 800);
    l = PercentileLimits(nullptr, 0, 0.005, 0.995);
    EXPECT_EQ(l.low, 0);
    EXPECT_EQ(l.high, 0);
}

TEST(Builders, SliceGathersOneColumnOfEveryFrame) {
    const int w = 128, h = 512, frames = 20;
    std::vector<uint16_t> cube(size_t(w) * h * frames);
    for (size_t i = 0; i < cube.size(); ++i) cube[i] = uint16_t(i * 7919);
    std::vector<uint16_t> slice(size_t(frames) * h);
    CopySlice(cube.data(), w, h, frames, 100, slice.data());
    for (int y = 0; y < h; ++y)
        for (int f = 0; f < frames; ++f)
            ASSERT_EQ(slice[f + size_t(frames) * y], cube[100 + size_t(w) * (y + size_t(h) * f)]);
    std::vector<uint16_t> frame(size_t(w) * h);
    CopyFrame(cube.data(), w, h, 19, frame.data());
    EXPECT_EQ(frame.front(), cube[size_t(w) * h * 19]);
    EXPECT_EQ(frame.back(), cube.back());
}

TEST(Builders, BiasDarkSubtractionWrapsBelowZero) {
    std::vector<uint16_t> plane = {500, 490, 1000};
    const std::vector<uint16_t> biasDark = {500, 500, 400};
    SubtractBiasDark(plane.data(), biasDark.data(), plane.size());
    EXPECT_EQ(plane, (std::vector<uint16_t>{0, 65526, 600}));
}

TEST(Histogram, ThePlanePassBinsAsTheRunTimeBinsTheSamples) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(0, 65535);
    const int width = 333, height = 150;  // not a multiple of four wide
    std::vector<uint16_t> plane;
    std::vector<double> samples;
    for (int i = 0; i < width * height; ++i) {
        const int v = i % 3 ? sample(random) % 3000 + 1000 : sample(random);
        plane.push_back(uint16_t(v));
        samples.push_back(v);
    }
    std::vector<unsigned char> out(plane.size());
    for (auto [low, high] : {std::pair{1000, 1100}, {1234, 3999}, {0, 65535}, {-50, 70000}}) {
        int expected[kHistogramBins], got[kHistogramBins];
        double expectedAxis[kHistogramBins], gotAxis[kHistogramBins];
        ASSERT_EQ(ui::Histogram(samples.data(), int(samples.size()), low, high, expected,
                                expectedAxis, kHistogramBins),
                  0);
        ScalePlane(width, height, plane.data(), low, high, false, out.data(), size_t(width), got,
                   gotAxis);
        for (int i = 0; i < kHistogramBins; ++i) {
            ASSERT_EQ(got[i], expected[i]) << low << ".." << high << " bin " << i;
            ASSERT_DOUBLE_EQ(gotAxis[i], expectedAxis[i]);
        }
    }
}

// ---- on the main panel -------------------------------------------------------------

TEST_F(DisplayTest, PictureShowsTheLastRowOnTopWithItsHistogram) {
    // 4 x 3 plane, rows 0..2 hold 100, 150, 200.
    const std::vector<uint16_t> plane = {100, 100, 100, 100, 150, 150,
                                         150, 150, 200, 200, 200, 200};
    OnDispatch([&] { ByteDisplay(4, 3, plane.data(), 100, 200); });
    const ui::PictureImage picture = Picture();
    ASSERT_EQ(picture.width, 4);
    ASSERT_EQ(picture.height, 3);
    EXPECT_EQ(picture.pixels[0], 255);  // top row: the plane's last row
    EXPECT_EQ(picture.pixels[4], 127);
    EXPECT_EQ(picture.pixels[8], 0);
    EXPECT_EQ(picture.palette[200], 0xC8C8C8);
    // The control keeps its size (its view fits the picture) and names the
    // values of the palette's ends for the colour bar.
    int width = 0, designWidth = 0;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_WIDTH, &width);
    designWidth = width;
    EXPECT_GT(designWidth, 4);
    double low = 0, high = 0;
    ui::GetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_SCALE_LOW, &low);
    ui::GetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_SCALE_HIGH, &high);
    EXPECT_EQ(low, 100);
    EXPECT_EQ(high, 200);

    std::vector<ui::Plot> plots = Plots();
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].style, ui::VAL_VERTICAL_BAR);
    EXPECT_EQ(plots[0].color, ui::VAL_BLUE);
    ASSERT_EQ(plots[0].y.size(), 100u);
    EXPECT_DOUBLE_EQ(plots[0].x[0], 100.5);
    EXPECT_EQ(plots[0].y[0], 4);
    EXPECT_EQ(plots[0].y[50], 4);
    EXPECT_EQ(plots[0].y[99], 4);

    // A flat scale draws a threshold picture and keeps the graph.
    OnDispatch([&] { ByteDisplay(4, 3, plane.data(), 150, 150); });
    EXPECT_EQ(Picture().pixels[0], 255);
    EXPECT_EQ(Picture().pixels[4], 0);
    EXPECT_EQ(Plots().size(), 1u);
    EXPECT_EQ(Plots()[0].handle, plots[0].handle);
}

TEST_F(DisplayTest, ASingleFrameIsShownFromTheCameraBufferWithTheSelectorsDimmed) {
    MakeSeries(1, 64, 32, 1, [](int x, int y, int) { return uint16_t(1000 + x + y); });
    OnDispatch([] { DisplayCCDImage(64, 32, 1, kHandle1); });
    EXPECT_FALSE(state.planeDataCCD.owned());
    EXPECT_EQ(state.planeDataCCD.get(), state.g_pRawData.get());
    EXPECT_TRUE(Dimmed(MAIN_FRAME));
    EXPECT_TRUE(Dimmed(MAIN_VIEW));
    EXPECT_FALSE(Dimmed(MAIN_PICTURE));
    EXPECT_EQ(Int(MAIN_VIEW_CCD1), 1);
    EXPECT_EQ(Int(MAIN_VIEW_CCD2), 0);
    EXPECT_EQ(Picture().width, 64);
    // Scale controls: range [min, max], values at the automatic limits.
    EXPECT_EQ(Range(MAIN_BYTSCL_MIN, ui::ATTR_MIN_VALUE), 1000);
    EXPECT_EQ(Range(MAIN_BYTSCL_MAX, ui::ATTR_MAX_VALUE), 1000 + 63 + 31);
    const ScaleLimits l = AutomaticLimits(display.mean, display.stdev, 1000, 1094);
    EXPECT_EQ(Int(MAIN_BYTSCL_MIN), l.low);
    EXPECT_EQ(Int(MAIN_BYTSCL_MAX), l.high);
    EXPECT_EQ(Text(MAIN_MEAN), Format("%.2f", display.mean));

    // Releasing the plane leaves the camera's buffer alone.
    state.planeDataCCD.Release();
    EXPECT_TRUE(state.g_pRawData);
}

TEST_F(DisplayTest, ASeriesGetsTheFrameSelectorAndAnOwnedCopyOfFrameZero) {
    MakeSeries(1, 40, 30, 10, [](int x, int, int f) { return uint16_t(100 * f + x); });
    OnDispatch([] { DisplayCCDImage(40, 30, 10, kHandle1); });
    EXPECT_TRUE(state.planeDataCCD.owned());
    EXPECT_FALSE(Dimmed(MAIN_FRAME));
    EXPECT_FALSE(Dimmed(MAIN_VIEW));
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MIN_VALUE), 0);
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MAX_VALUE), 9);
    EXPECT_EQ(state.planeDataCCD.get()[39], 39);  // frame 0, not bias/dark corrected
}

TEST_F(DisplayTest, FrameAndSliceAxesKeepTheIndexInsideTheSeries) {
    // Sample encodes frame and column: the picture tells which plane is shown.
    MakeSeries(1, 640, 16, 10, [](int x, int, int f) { return uint16_t(1000 * f + x); });
    state.BiasDark1.Allocate(640 * 16);  // zero: nothing subtracted
    OnDispatch([] { DisplayCCDImage(640, 16, 10, kHandle1); });
    Script(R"(
set MAIN.FRAME 9
commit MAIN.FRAME
set MAIN.VIEW 1
commit MAIN.VIEW
)");
    // Slice at column 9: frames x height, element (f, y) = 1000 f + 9.
    EXPECT_EQ(Int(MAIN_FRAME), 9);
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MAX_VALUE), 639);
    EXPECT_EQ(Picture().width, 10);
    ASSERT_EQ(state.planeDataCCD.size(), 10u * 16u);
    EXPECT_EQ(state.planeDataCCD.get()[3], 3009);
    Script(R"(
set MAIN.FRAME 600
commit MAIN.FRAME
set MAIN.VIEW 0
commit MAIN.VIEW
)");
    EXPECT_EQ(Int(MAIN_FRAME), 9);  // column 600 is no frame: the last frame
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MAX_VALUE), 9);
    EXPECT_EQ(Picture().width, 640);
    EXPECT_EQ(state.planeDataCCD.get()[5], 9005);
    // 640 wide: the picture's view fits it; the panel and its controls keep
    // their design size and places.
    int width = 0, graphLeft = 0, top = 0, pictureWidth = 0;
    ui::GetPanelAttribute(state.mainPanel, ui::ATTR_WIDTH, &width);
    EXPECT_EQ(width, state.panelwidth);
    ui::GetCtrlBoundingRect(state.mainPanel, MAIN_GRAPH, &top, &graphLeft, nullptr, nullptr);
    EXPECT_EQ(graphLeft, 540);
    ui::GetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_WIDTH, &pictureWidth);
    EXPECT_EQ(pictureWidth, 512);
}

TEST_F(DisplayTest, ClickingASliceColumnShowsThatFrameOfTheCameraOnScreen) {
    // Camera selection 3, camera 2 on screen, camera 1 of another geometry.
    state.ccd_camera = kBothCamerasEachStep;
    MakeSeries(1, 50, 20, 12, [](int, int, int f) { return uint16_t(10 + f); });
    MakeSeries(2, 30, 8, 12, [](int x, int, int f) { return uint16_t(2000 + 100 * f + x); });
    state.BiasDark2.Allocate(30 * 8);
    OnDispatch([] { DisplayCCDImage(30, 8, 12, kHandle2); });
    EXPECT_EQ(Int(MAIN_VIEW_CCD2), 1);
    Script(R"(
set MAIN.VIEW 1
commit MAIN.VIEW
click MAIN.PICTURE 7 3
)");
    EXPECT_EQ(Marked(), 0);
    EXPECT_EQ(Int(MAIN_FRAME), 7);
    EXPECT_EQ(Range(MAIN_FRAME, ui::ATTR_MAX_VALUE), 11);
    ASSERT_EQ(state.planeDataCCD.size(), 30u * 8u);
    EXPECT_EQ(state.planeDataCCD.get()[4], 2704);  // camera 2's frame 7
    EXPECT_EQ(Picture().width, 30);
}

TEST_F(DisplayTest, CursorShowsPositionValueAndTheProfileOfTheRowUnderIt) {
    MakeSeries(1, 16, 8, 1, [](int x, int y, int) { return uint16_t(100 * y + x); });
    OnDispatch([] { DisplayCCDImage(16, 8, 1, kHandle1); });
    Script("move MAIN.PICTURE 5 0");
    EXPECT_EQ(Text(MAIN_CURSOR_X), "5");
    EXPECT_EQ(Text(MAIN_CURSOR_Y), "0");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "705");  // top row: the plane's last row
    std::vector<ui::Plot> plots = Plots();
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].style, ui::VAL_THIN_LINE);
    EXPECT_EQ(plots[0].color, ui::VAL_GREEN);
    ASSERT_EQ(plots[0].y.size(), 16u);
    EXPECT_EQ(plots[0].y[0], 700);
    EXPECT_EQ(plots[0].y[15], 715);

    EXPECT_EQ(Text(MAIN_CURSOR_FRAME), "");  // a single frame is no series

    // Leaving the picture clears the read-out.
    Script("leave MAIN.PICTURE");
    EXPECT_EQ(Text(MAIN_CURSOR_X), "");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "");

    // While the live view runs the read-out follows the pointer and each new
    // frame under it; the line profile does not replace the histogram.
    state.threadparam = 0;
    OnDispatch([] { DisplayCCDImage(16, 8, 1, kHandle1); });
    Script("move MAIN.PICTURE 1 7");
    EXPECT_EQ(Text(MAIN_CURSOR_X), "1");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "1");  // bottom row: the plane's first row
    EXPECT_EQ(Plots()[0].style, ui::VAL_VERTICAL_BAR);
    for (int x = 0; x < 16; ++x) state.g_pRawData.get()[x] = uint16_t(4000 + x);
    OnDispatch([] { DisplayCCDImage(16, 8, 1, kHandle1); });
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "4001");
}

TEST_F(DisplayTest, TheReadOutNamesTheFrameAndFollowsTheCameraShown) {
    state.ccd_camera = kBothCamerasEachStep;
    MakeSeries(1, 10, 4, 5, [](int x, int, int f) { return uint16_t(100 * f + x); });
    MakeSeries(2, 10, 4, 5, [](int x, int, int f) { return uint16_t(5000 + 100 * f + x); });
    state.BiasDark1.Allocate(40);
    state.BiasDark2.Allocate(40);
    OnDispatch([] { DisplayCCDImage(10, 4, 5, kHandle1); });
    Script("set MAIN.FRAME 3\ncommit MAIN.FRAME\nmove MAIN.PICTURE 2 1");
    EXPECT_EQ(Text(MAIN_CURSOR_FRAME), "3 of 5");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "302");
    // In the slice view each column of the picture is a frame.
    Script("set MAIN.VIEW 1\ncommit MAIN.VIEW\nmove MAIN.PICTURE 4 0");
    EXPECT_EQ(Text(MAIN_CURSOR_FRAME), "4 of 5");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "403");  // frame 4 at column 3, the selector's
    // Switching the camera shows camera 2's value under the resting pointer.
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD2, false);
    Script("move MAIN.PICTURE 2 1\ncommit MAIN.VIEW_CCD2");
    EXPECT_EQ(Text(MAIN_CURSOR_FRAME), "0 of 5");
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "5002");
}

TEST_F(DisplayTest, TheScaleLimitsRingChoosesHowTheLimitsAreSet) {
    // A row of 0..998 and one hot pixel.
    MakeSeries(1, 1000, 1, 1, [](int x, int, int) { return uint16_t(x == 999 ? 60000 : x); });
    OnDispatch([] { DisplayCCDImage(1000, 1, 1, kHandle1); });
    const int automaticHigh = Int(MAIN_BYTSCL_MAX);
    EXPECT_LT(automaticHigh, 60000);
    Script("set MAIN.STRETCH \"Min / max\"\ncommit MAIN.STRETCH");
    EXPECT_EQ(Int(MAIN_BYTSCL_MIN), 0);
    EXPECT_EQ(Int(MAIN_BYTSCL_MAX), 60000);
    // The next frame keeps the choice.
    OnDispatch([] { DisplayCCDImage(1000, 1, 1, kHandle1); });
    EXPECT_EQ(Int(MAIN_BYTSCL_MAX), 60000);
    Script("set MAIN.STRETCH 2\ncommit MAIN.STRETCH");
    EXPECT_EQ(Int(MAIN_BYTSCL_MIN), 4);     // 0.5 %: the 5th of 1000 values
    EXPECT_EQ(Int(MAIN_BYTSCL_MAX), 994);   // 99.5 %: the 995th; the hot pixel is left out
    EXPECT_EQ(Picture().pixels[500], 127);  // 255 x 496 / 990, truncated
}

TEST_F(DisplayTest, TheHistogramOnRequestSpansTheShownPlane) {
    MakeSeries(1, 101, 4, 1, [](int x, int, int) { return uint16_t(1000 + x); });
    OnDispatch([] { DisplayCCDImage(101, 4, 1, kHandle1); });
    Script("click MAIN.GRAPH 10 10");
    std::vector<ui::Plot> plots = Plots();
    ASSERT_EQ(plots.size(), 1u);
    EXPECT_EQ(plots[0].style, ui::VAL_VERTICAL_BAR);
    EXPECT_DOUBLE_EQ(plots[0].x[0], 1000.5);  // bins 1.0 wide from 1000 to 1100
    EXPECT_DOUBLE_EQ(plots[0].x[99], 1099.5);
    EXPECT_EQ(plots[0].y[0], 4);
    EXPECT_EQ(plots[0].y[99], 8);  // 1099 and 1100
}

TEST_F(DisplayTest, TheFrameViewSubtractsBiasDarkOrSaysOnceThatThereIsNone) {
    MakeSeries(1, 4, 2, 3, [](int, int, int) { return uint16_t(500); });
    OnDispatch([] { DisplayCCDImage(4, 2, 3, kHandle1); });
    // The settings dialog discarded the bias/dark frame.
    Script("set MAIN.FRAME 1\ncommit MAIN.FRAME\nset MAIN.FRAME 2\ncommit MAIN.FRAME");
    EXPECT_EQ(state.planeDataCCD.get()[0], 500);
    const std::string message = "No bias/dark frame in memory";
    const std::string status = Status();
    ASSERT_NE(status.find(message), std::string::npos);
    EXPECT_EQ(status.find(message), status.rfind(message));

    state.BiasDark1.Allocate(8);
    for (int i = 0; i < 8; ++i) state.BiasDark1.get()[i] = uint16_t(500 + (i == 3 ? 10 : 0));
    Script("set MAIN.FRAME 1\ncommit MAIN.FRAME");
    EXPECT_EQ(state.planeDataCCD.get()[0], 0);
    EXPECT_EQ(state.planeDataCCD.get()[3], 65526);
    EXPECT_EQ(state.g_pRawData.get()[8 + 3], 500);  // the series itself is untouched
}

TEST_F(DisplayTest, CallbacksDoNothingOnceTheBuffersAreFreed) {
    MakeSeries(1, 32, 16, 1, [](int x, int, int) { return uint16_t(x * 10); });
    OnDispatch([] { DisplayCCDImage(32, 16, 1, kHandle1); });
    const ui::PictureImage before = Picture();
    SetDimmed(state.mainPanel, MAIN_VIEW_CCD1, false);
    // The settings OK frees the buffers while the picture stays up.
    state.planeDataCCD.Release();
    state.g_pRawData.Free();
    Script(R"(
set MAIN.BYTSCL_MIN 5
commit MAIN.BYTSCL_MIN
commit MAIN.BYTSCL_MAX
move MAIN.PICTURE 3 3
click MAIN.GRAPH 1 1
commit MAIN.VIEW_CCD1
)");
    EXPECT_EQ(Picture().pixels, before.pixels);
    EXPECT_EQ(Text(MAIN_PIXEL_VALUE), "");

    // A buffer of a smaller geometry than the camera's is not read either.
    state.g_pRawData.Allocate(10);
    state.planeDataCCD.Refer(state.g_pRawData.get(), 10);
    Script("commit MAIN.BYTSCL_MIN\nmove MAIN.PICTURE 3 3\ncommit MAIN.VIEW_CCD1");
    EXPECT_EQ(Picture().pixels, before.pixels);
}

TEST_F(DisplayTest, TheLiveViewRedrawsWhileTheObserverChangesTheScale) {
    MakeSeries(1, 64, 64, 1, [](int x, int y, int) { return uint16_t(x * y); });
    OnDispatch([] { DisplayCCDImage(64, 64, 1, kHandle1); });
    state.threadparam = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> shown{0};
    std::thread live([&] {
        while (!stop) {
            DisplayCCDImage(64, 64, 1, kHandle1);
            ++shown;
        }
    });
    // The live view is drawing before the observer starts and still after.
    ASSERT_TRUE(ui::testing::Eventually([&] { return shown.load() > 0; }));
    for (int i = 0; i < 20; ++i)
        Script(Format("set MAIN.BYTSCL_MIN %d\ncommit MAIN.BYTSCL_MIN\nclick MAIN.GRAPH 5 5", i));
    const int drawn = shown.load();
    EXPECT_TRUE(ui::testing::Eventually([&] { return shown.load() > drawn; }));
    stop = true;
    live.join();
    state.threadparam = 1;
    EXPECT_EQ(Picture().width, 64);
}

}  // namespace
}  // namespace pelu
