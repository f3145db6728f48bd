#include "display/views.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "data/statistics.h"
#include "display/display.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// The frame view subtracts the camera's bias/dark frame. The settings dialog
// discards it when it opens; until the next one is taken frames are shown
// as they are, and the status box says so once.
void SubtractCameraBiasDark(uint16_t* plane, const CameraSeries& series) {
    const size_t count = size_t(series.width) * size_t(series.height);
    if (series.biasDark) {
        SubtractBiasDark(plane, series.biasDark, count);
        display.biasDarkMissingReported = false;
    } else if (!display.biasDarkMissingReported) {
        ShowStatus("\nNo bias/dark frame in memory: frames are shown without subtraction\n");
        display.biasDarkMissingReported = true;
    }
}

}  // namespace

void CopyFrame(const uint16_t* cube, int width, int height, int frame, uint16_t* plane) {
    const size_t count = size_t(width) * size_t(height);
    std::memcpy(plane, cube + count * size_t(frame), count * sizeof(uint16_t));
}

void CopySlice(const uint16_t* cube, int width, int height, int frames, int column,
               uint16_t* plane) {
    for (int y = 0; y < height; ++y)
        for (int f = 0; f < frames; ++f)
            plane[size_t(f) + size_t(frames) * size_t(y)] =
                cube[size_t(column) + size_t(width) * (size_t(y) + size_t(height) * size_t(f))];
}

void SubtractBiasDark(uint16_t* plane, const uint16_t* biasDark, size_t count) {
    for (size_t i = 0; i < count; ++i) plane[i] = static_cast<uint16_t>(plane[i] - biasDark[i]);
}

void Display3D_CCD(int axis, int index, int* max, int* min, int cameraHandle) {
    Lock lock(DisplayMutex());
    CameraSeries series;
    if (!SeriesOfCamera(DisplayedCameraNumber(cameraHandle), &series)) return;
    state.planeDataCCD.Release();
    if (!series.raw) return;  // freed, or allocated for another geometry
    const int width = series.width, height = series.height, frames = series.frames;
    if (axis == 0) {
        if (index < 0 || index >= frames) return;
        uint16_t* plane = state.planeDataCCD.Own(size_t(width) * size_t(height));
        if (!plane) return;
        CopyFrame(series.raw, width, height, index, plane);
        SubtractCameraBiasDark(plane, series);
        ShowPlane(width, height, plane, min, max);
    } else {
        if (index < 0 || index >= width) return;
        uint16_t* plane = state.planeDataCCD.Own(size_t(frames) * size_t(height));
        if (!plane) return;
        CopySlice(series.raw, width, height, frames, index, plane);
        ShowPlane(frames, height, plane, min, max);
    }
}

void DisplayArrivingSlice(int cameraHandle, int column, int arrived) {
    Lock lock(DisplayMutex());
    CameraSeries series;
    if (!SeriesOfCamera(DisplayedCameraNumber(cameraHandle), &series) || !series.raw) return;
    const int height = series.height;
    if (arrived < 1 || arrived > series.frames || column < 0 || column >= series.width) return;
    // One plane for the whole series, made at the first redraw and used by
    // every later one: a scan redraws hundreds of times.
    const size_t whole = size_t(series.frames) * size_t(height);
    if (!state.planeDataCCD.owned() || state.planeDataCCD.size() != whole) {
        state.planeDataCCD.Release();
        if (!state.planeDataCCD.Own(whole)) return;
    }
    uint16_t* plane = state.planeDataCCD.OwnedData();
    CopySlice(series.raw, series.width, height, arrived, column, plane);
    ShowPlane(arrived, height, plane, nullptr, nullptr);
}

void Display3DFits(int axis, int index, int* max, int* min) {
    Lock lock(DisplayMutex());
    const FitsHeaderRecord& h = display.FitsHeader;
    if (h.NAXIS != 3 || h.NAXIS1 <= 0 || h.NAXIS2 <= 0 || h.NAXIS3 <= 0) return;
    state.pusFitsData.Free();
    const size_t plane = size_t(h.NAXIS1) * size_t(h.NAXIS2);
    if (!state.pFitsData || state.pFitsData.size() < plane * size_t(h.NAXIS3)) return;
    const uint16_t* cube = state.pFitsData.get();
    if (axis == 0) {
        if (index < 0 || index >= h.NAXIS3 || !state.pusFitsData.Allocate(plane)) return;
        CopyFrame(cube, h.NAXIS1, h.NAXIS2, index, state.pusFitsData.get());
        ShowPlane(h.NAXIS1, h.NAXIS2, state.pusFitsData.get(), min, max);
    } else {
        if (index < 0 || index >= h.NAXIS1 ||
            !state.pusFitsData.Allocate(size_t(h.NAXIS3) * size_t(h.NAXIS2)))
            return;
        CopySlice(cube, h.NAXIS1, h.NAXIS2, h.NAXIS3, index, state.pusFitsData.get());
        ShowPlane(h.NAXIS3, h.NAXIS2, state.pusFitsData.get(), min, max);
    }
}

void Display_Line_Profile(int x, int y, int width, int height, const uint16_t* data, int mode) {
    Lock lock(DisplayMutex());
    if (mode != 0 || !data || x < 0 || x >= width || y < 0 || y >= height) return;
    const int row = height - y - 1;  // the picture shows the plane upside down
    const uint16_t* samples = data + size_t(row) * size_t(width);
    std::vector<double> index(static_cast<size_t>(width)), values(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) {
        index[size_t(i)] = i;
        values[size_t(i)] = samples[i];
    }
    ReplaceGraphPlot(index.data(), values.data(), values.size(), ui::VAL_THIN_LINE, ui::VAL_GREEN,
                     kProfileAxes);
    SetText(state.mainPanel, MAIN_PIXEL_VALUE, Format("%d", int(samples[x])));
}

int drawHistogram(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_LEFT_CLICK) return 0;
    Lock lock(DisplayMutex());
    const ShownPlane plane = PlaneOnScreen();
    if (!plane) return 0;
    const size_t count = size_t(plane.width) * size_t(plane.height);
    std::vector<double> values(plane.data, plane.data + count);
    uint16_t min = 0, max = 0;
    GetMinMax(plane.data, count, &min, &max);
    int histogram[kHistogramBins];
    double axis[kHistogramBins];
    // A plane of one value has no range to bin: the graph stays as it was.
    if (ui::Histogram(values.data(), int(count), min, max, histogram, axis, kHistogramBins) != 0)
        return 0;
    double heights[kHistogramBins];
    for (int i = 0; i < kHistogramBins; ++i) heights[i] = histogram[i];
    ReplaceGraphPlot(axis, heights, kHistogramBins, ui::VAL_VERTICAL_BAR, ui::VAL_BLUE,
                     kHistogramAxes);
    return 0;
}

}  // namespace pelu
