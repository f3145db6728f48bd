#include "display/display.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "data/statistics.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/camera_slot.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr int kSampleValues = 65536;

// A plane of the given geometry, or nothing when the memory behind it is
// missing or too small for that geometry.
ShownPlane Checked(int width, int height, const uint16_t* data, size_t available) {
    if (!data || width <= 0 || height <= 0) return {};
    if (size_t(width) * size_t(height) > available) return {};
    return ShownPlane{width, height, data};
}

}  // namespace

std::recursive_mutex& DisplayMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

void ResetDisplayGlobals() {
    Lock lock(DisplayMutex());
    display = DisplayGlobals{};
}

// ---- scaling -------------------------------------------------------------------------

ScaleLimits AutomaticLimits(float mean, float stdev, int min, int max) {
    ScaleLimits limits;
    limits.low = static_cast<int>(mean - kScaleSigmas * stdev);
    if (limits.low < min) limits.low = min;
    limits.high = static_cast<int>(mean + kScaleSigmas * stdev);
    if (limits.high > max) limits.high = max;
    return limits;
}

ScaleLimits PercentileLimits(const uint16_t* data, size_t count, double lowFraction,
                             double highFraction) {
    ScaleLimits limits;
    if (!data || count == 0) return limits;
    std::vector<uint32_t> counts(kSampleValues, 0);
    for (size_t i = 0; i < count; ++i) ++counts[data[i]];
    // The smallest value with at least `fraction` of the samples at or below it.
    auto valueAt = [&](double fraction) {
        const double wanted = std::max(1.0, std::ceil(fraction * double(count)));
        double seen = 0;
        for (int v = 0; v < kSampleValues; ++v) {
            seen += counts[size_t(v)];
            if (seen >= wanted) return v;
        }
        return kSampleValues - 1;
    };
    limits.low = valueAt(lowFraction);
    limits.high = valueAt(highFraction);
    return limits;
}

ScaleLimits LimitsFor(int stretch, const uint16_t* data, size_t count, float mean, float stdev,
                      int min, int max) {
    switch (stretch) {
        case kStretchMinMax:
            return ScaleLimits{min, max};
        case kStretchPercentile:
            return PercentileLimits(data, count, kPercentileLow, kPercentileHigh);
        default:
            return AutomaticLimits(mean, stdev, min, max);
    }
}

unsigned char ScaleSample(uint16_t sample, int low, int high) {
    if (low >= high) return sample > low ? 255 : 0;
    float v = static_cast<float>(int(sample) - low) / static_cast<float>(high - low);
    if (v > 1.0f) v = 1.0f;
    if (v < 0.0f) v = 0.0f;
    return static_cast<unsigned char>(255.0 * v);
}

namespace {

// How often each sample value occurs, in four partial tables: neighbouring
// samples often have the same value, and one counter would make every
// increment wait for the previous one. Kept per thread between planes and
// cleared once read.
struct ValueCounts {
    uint32_t counts[4][kSampleValues] = {};
};

// Scales one row through `bytes` into `dst`; with `Counted`, counts the
// value of each sample as well.
template <bool Counted>
void ScaleRow(const uint16_t* __restrict src, unsigned char* __restrict dst, int width,
              const unsigned char* __restrict bytes, ValueCounts* __restrict counts) {
    int x = 0;
    for (; x + 4 <= width; x += 4) {
        const unsigned a = src[x], b = src[x + 1], c = src[x + 2], d = src[x + 3];
        dst[x] = bytes[a];
        dst[x + 1] = bytes[b];
        dst[x + 2] = bytes[c];
        dst[x + 3] = bytes[d];
        if constexpr (Counted) {
            ++counts->counts[0][a];
            ++counts->counts[1][b];
            ++counts->counts[2][c];
            ++counts->counts[3][d];
        }
    }
    for (; x < width; ++x) {
        dst[x] = bytes[src[x]];
        if constexpr (Counted) ++counts->counts[0][src[x]];
    }
}

}  // namespace

void ScalePlane(int width, int height, const uint16_t* data, int low, int high, bool flip,
                unsigned char* out, size_t stride, int* histogram, double* axis) {
    if (!data || !out || width <= 0 || height <= 0) return;
    // The byte depends on the sample value only: one table entry per value
    // turns the pass into lookups. Below low and above high the bytes are
    // constant: only the values between the limits are worked out one by one.
    static thread_local unsigned char bytes[kSampleValues];
    const int first = std::clamp(low, 0, kSampleValues);
    const int last = std::clamp(std::max(low, high), -1, kSampleValues - 1);
    std::fill(bytes, bytes + first, ScaleSample(0, low, high));
    for (int v = first; v <= last; ++v) bytes[v] = ScaleSample(uint16_t(v), low, high);
    std::fill(bytes + last + 1, bytes + kSampleValues, ScaleSample(65535, low, high));

    // The histogram is made from the counts of the values afterwards, bin by
    // bin over the values between the limits: counting bins in the pass
    // would send every sample outside the limits to one counter.
    const bool binned = histogram && low < high;
    thread_local std::unique_ptr<ValueCounts> countsOfThread;
    if (binned && !countsOfThread) countsOfThread = std::make_unique<ValueCounts>();
    ValueCounts* counts = binned ? countsOfThread.get() : nullptr;
    for (int y = 0; y < height; ++y) {
        const uint16_t* src = data + size_t(flip ? height - 1 - y : y) * size_t(width);
        unsigned char* dst = out + size_t(y) * stride;
        if (binned)
            ScaleRow<true>(src, dst, width, bytes, counts);
        else
            ScaleRow<false>(src, dst, width, bytes, counts);
    }
    if (!binned) return;

    const double binWidth = double(high - low) / kHistogramBins;
    std::fill(histogram, histogram + kHistogramBins, 0);
    for (int v = std::max(low, 0); v <= std::min(high, kSampleValues - 1); ++v) {
        int b = static_cast<int>((double(v) - low) / binWidth);
        if (b >= kHistogramBins) b = kHistogramBins - 1;  // v == high
        histogram[b] += int(counts->counts[0][v] + counts->counts[1][v] + counts->counts[2][v] +
                            counts->counts[3][v]);
    }
    std::memset(counts->counts, 0, sizeof counts->counts);
    if (axis)
        for (int i = 0; i < kHistogramBins; ++i)
            axis[i] = low + (i + 0.5) * (double(high - low) / kHistogramBins);
}

void FillGreyRamp(int* palette) {
    for (int k = 0; k < 256; ++k) palette[k] = k * 0x010101;
}

// ---- drawing ---------------------------------------------------------------------------

void ReplaceGraphPlot(const double* x, const double* y, size_t count, int style, int color,
                      GraphAxes axes) {
    Lock lock(DisplayMutex());
    ui::SetCtrlAttribute(state.mainPanel, MAIN_GRAPH, ui::ATTR_XNAME, axes.x);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_GRAPH, ui::ATTR_YNAME, axes.y);
    if (const int previous = state.plotHandle.exchange(0); previous > 0)
        ui::DeleteGraphPlot(state.mainPanel, MAIN_GRAPH, previous);
    const int handle = ui::PlotXY(state.mainPanel, MAIN_GRAPH, std::span<const double>(x, count),
                                  std::span<const double>(y, count), style, color);
    if (handle > 0) state.plotHandle = handle;
}

void ByteDisplay(int width, int height, const uint16_t* data, int low, int high) {
    Lock lock(DisplayMutex());
    if (!data || width <= 0 || height <= 0) return;
    const int panel = state.mainPanel;
    const bool withHistogram = low < high;
    // Kept between redraws (under the display lock): a picture of a
    // million pixels is not allocated afresh at every scale change.
    static std::vector<unsigned char> bytes;
    bytes.resize(size_t(width) * size_t(height));
    int histogram[kHistogramBins];
    double axis[kHistogramBins];
    ScalePlane(width, height, data, low, high, true, bytes.data(), size_t(width), histogram, axis);

    // The colour bar names the values the ends of the palette stand for.
    ui::SetCtrlAttribute(panel, MAIN_PICTURE, ui::ATTR_SCALE_LOW, low);
    ui::SetCtrlAttribute(panel, MAIN_PICTURE, ui::ATTR_SCALE_HIGH, std::max(low, high));
    int bitmap = 0;
    if (ui::NewBitmap(width, 8, width, height, state.colortable, bytes.data(), &bitmap) == 0) {
        ui::SetCtrlBitmap(panel, MAIN_PICTURE, 0, bitmap);
        ui::DiscardBitmap(bitmap);
    }

    if (!withHistogram) return;  // a flat scale has no bins: the graph stays as it was
    double heights[kHistogramBins];
    for (int i = 0; i < kHistogramBins; ++i) heights[i] = histogram[i];
    ReplaceGraphPlot(axis, heights, kHistogramBins, ui::VAL_VERTICAL_BAR, ui::VAL_BLUE,
                     kHistogramAxes);
}

void ShowPlane(int width, int height, const uint16_t* data, int* min, int* max) {
    Lock lock(DisplayMutex());
    if (!data || width <= 0 || height <= 0) return;
    const int panel = state.mainPanel;
    const size_t count = size_t(width) * size_t(height);
    const PlaneStatistics statistics = Statistics(data, count);
    display.mean = statistics.mean;
    display.stdev = statistics.stdev;
    const uint16_t lo = statistics.min, hi = statistics.max;
    const ScaleLimits limits =
        LimitsFor(display.stretch, data, count, display.mean, display.stdev, lo, hi);
    ByteDisplay(width, height, data, limits.low, limits.high);

    SetText(panel, MAIN_MEAN, Format("%.2f", display.mean));
    SetText(panel, MAIN_STDEV, Format("%.2f", display.stdev));
    SetMainPanelRange(MAIN_BYTSCL_MIN, lo, hi);
    ui::SetCtrlVal(panel, MAIN_BYTSCL_MIN, limits.low);
    SetMainPanelRange(MAIN_BYTSCL_MAX, lo, hi);
    ui::SetCtrlVal(panel, MAIN_BYTSCL_MAX, limits.high);
    if (min) *min = lo;
    if (max) *max = hi;
    ShowCursorReadout();
}

// ---- cameras -------------------------------------------------------------------------------

int DisplayedCameraNumber(int cameraHandle) {
    return CameraSlotOfHandle(cameraHandle).number;
}

bool SeriesOfCamera(int camera, CameraSeries* series) {
    if (camera != 1 && camera != 2) return false;
    const CameraSlot slot = CameraSlotNumbered(camera);
    CameraSeries s;
    s.handle = slot.handle;
    s.width = slot.width();
    s.height = slot.height();
    s.frames = std::max(1, state.g_nFrameNumber1.load());
    if (s.width <= 0 || s.height <= 0) return false;
    const size_t plane = size_t(s.width) * size_t(s.height);
    const Buffer<uint16_t>& raw = *slot.raw;
    const Buffer<uint16_t>& biasDark = *slot.biasDark;
    if (raw && raw.size() >= plane * size_t(s.frames)) s.raw = raw.get();
    if (biasDark && biasDark.size() >= plane) s.biasDark = biasDark.get();
    *series = s;
    return true;
}

int ShownCamera() {
    const int one = GetInt(state.mainPanel, MAIN_VIEW_CCD1);
    const int two = GetInt(state.mainPanel, MAIN_VIEW_CCD2);
    if (one && !two) return 1;
    if (two && !one) return 2;
    return 0;
}

ShownPlane PlaneOnScreen() {
    Lock lock(DisplayMutex());
    const int view = ViewSelector();
    if (state.DataSource == 0) {
        const FitsHeaderRecord& h = display.FitsHeader;
        if (h.NAXIS == 2)
            return Checked(h.NAXIS1, h.NAXIS2, state.pFitsData.get(), state.pFitsData.size());
        if (h.NAXIS != 3) return {};
        const int width = view == 0 ? h.NAXIS1 : h.NAXIS3;
        return Checked(width, h.NAXIS2, state.pusFitsData.get(), state.pusFitsData.size());
    }
    CameraSeries series;
    if (!SeriesOfCamera(ShownCamera(), &series)) return {};
    const int width = series.frames < 2 || view == 0 ? series.width : series.frames;
    return Checked(width, series.height, state.planeDataCCD.get(), state.planeDataCCD.size());
}

void DisplayCCDImage(int width, int height, int frames, int cameraHandle) {
    Lock lock(DisplayMutex());
    const int camera = DisplayedCameraNumber(cameraHandle);
    if (camera == 0 || width <= 0 || height <= 0) return;
    if (frames < 1) frames = 1;
    const Buffer<uint16_t>& raw = camera == 1 ? state.g_pRawData : state.g_pRawData2;
    const size_t plane = size_t(width) * size_t(height);
    if (!raw || raw.size() < plane * size_t(frames)) return;  // freed, or not this geometry

    const int panel = state.mainPanel;
    ShowFileName("", false);
    for (int control : {MAIN_PICTURE, MAIN_BYTSCL_MIN, MAIN_BYTSCL_MAX, MAIN_GRAPH, MAIN_CURSOR_X,
                        MAIN_CURSOR_Y, MAIN_CURSOR_FRAME, MAIN_PIXEL_VALUE})
        SetDimmed(panel, control, false);
    // The view switches name the camera on screen: the callbacks that redraw
    // take that camera's geometry.
    ui::SetCtrlVal(panel, MAIN_VIEW_CCD1, camera == 1 ? 1 : 0);
    ui::SetCtrlVal(panel, MAIN_VIEW_CCD2, camera == 2 ? 1 : 0);
    state.DataSource = 1;
    ui::MarkOption(panel, MAIN_VIEW, 0);

    if (frames == 1) {
        state.planeDataCCD.Refer(raw.get(), plane);
        SetDimmed(panel, MAIN_FRAME, true);
        SetDimmed(panel, MAIN_VIEW, true);
    } else {
        SetMainPanelRange(MAIN_FRAME, 0, frames - 1);
        ui::SetCtrlVal(panel, MAIN_FRAME, 0);
        SetDimmed(panel, MAIN_FRAME, false);
        SetDimmed(panel, MAIN_VIEW, false);
        uint16_t* copy = state.planeDataCCD.Own(plane);
        if (!copy) {
            ShowStatus("\nNo memory for the display plane\n");
            return;
        }
        std::memcpy(copy, raw.get(), plane * sizeof(uint16_t));
    }
    ShowPlane(width, height, state.planeDataCCD.get(), nullptr, nullptr);
}

int ViewSelector() {
    int view = 0;
    ui::GetMarkedOption(state.mainPanel, MAIN_VIEW, &view);
    return view;
}

void SetMainPanelRange(int control, int min, int max) {
    ui::SetCtrlAttribute(state.mainPanel, control, ui::ATTR_MIN_VALUE, min);
    ui::SetCtrlAttribute(state.mainPanel, control, ui::ATTR_MAX_VALUE, max);
}

SeriesShape ShapeOnScreen(CameraSeries* series) {
    if (state.DataSource == 0) {
        const FitsHeaderRecord& h = display.FitsHeader;
        if (h.NAXIS != 3) return {};
        return SeriesShape{h.NAXIS3, h.NAXIS1, h.NAXIS2};
    }
    if (!SeriesOfCamera(ShownCamera(), series) || series->frames < 2) return {};
    return SeriesShape{series->frames, series->width, series->height};
}

void ShowFileName(const std::string& path, bool withHeader) {
    Lock lock(DisplayMutex());
    const int panel = state.mainPanel;
    if (display.programTitle.empty())
        ui::GetPanelAttribute(panel, ui::ATTR_TITLE, &display.programTitle);
    if (path == display.shownFile) return;  // the live view calls this for every frame
    display.shownFile = path;
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    ui::SetPanelAttribute(
        panel, ui::ATTR_TITLE,
        path.empty() ? display.programTitle : name + " - " + display.programTitle);
    ui::SetMenuBarAttribute(state.menubar, MENUBAR_FILE_HEADER, ui::ATTR_DIMMED,
                            withHeader ? 0 : 1);
    SetDimmed(panel, MAIN_HEADER, !withHeader);
    if (!withHeader && display.headerPanel > 0) ui::HidePanel(display.headerPanel);
}

void ShowCursorReadout() {
    Lock lock(DisplayMutex());
    const int panel = state.mainPanel;
    const ShownPlane plane = display.pointerOnPicture ? PlaneOnScreen() : ShownPlane{};
    const int x = display.pointerX, y = display.pointerY;
    if (!plane || x < 0 || y < 0 || x >= plane.width || y >= plane.height) {
        for (int control : {MAIN_CURSOR_X, MAIN_CURSOR_Y, MAIN_CURSOR_FRAME, MAIN_PIXEL_VALUE})
            SetText(panel, control, "");
        return;
    }
    SetText(panel, MAIN_CURSOR_X, Format("%d", x));
    SetText(panel, MAIN_CURSOR_Y, Format("%d", y));
    // The picture shows the plane upside down: row height - 1 - y.
    const uint16_t sample =
        plane.data[size_t(plane.height - 1 - y) * size_t(plane.width) + size_t(x)];
    SetText(panel, MAIN_PIXEL_VALUE, Format("%d", int(sample)));
    // In the frame view the frame is the selector's; in the slice view each
    // column of the picture is a frame.
    CameraSeries series;
    const SeriesShape shape = ShapeOnScreen(&series);
    std::string frame;
    if (shape.frames > 0) {
        const int index = ViewSelector() == 1 ? x : GetInt(panel, MAIN_FRAME);
        frame = Format("%d of %d", index, shape.frames);
    }
    SetText(panel, MAIN_CURSOR_FRAME, frame);
}

}  // namespace pelu
