#include "earlier/display_earlier.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "display/display.h"
#include "earlier/fits_earlier.h"
#include "platform/ui/ui.h"
#include "resources/earlier_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

// The picture's fixed place on the main panel.
constexpr int kPictureTop = 14;
constexpr int kPictureLeft = 277;
constexpr size_t kProfileSamples = 512;

void SetScaleControls(int min, int max) {
    for (int control : {MAIN_BYTSCL_MIN, MAIN_BYTSCL_MAX}) {
        ui::SetCtrlAttribute(state.mainPanel, control, ui::ATTR_MIN_VALUE, min);
        ui::SetCtrlAttribute(state.mainPanel, control, ui::ATTR_MAX_VALUE, max);
    }
    ui::SetCtrlVal(state.mainPanel, MAIN_BYTSCL_MIN, min);
    ui::SetCtrlVal(state.mainPanel, MAIN_BYTSCL_MAX, max);
}

void SetFrameSlider(int max, bool dimmed) {
    ui::SetCtrlAttribute(state.mainPanel, MAIN_FRAME, ui::ATTR_MIN_VALUE, 0);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_FRAME, ui::ATTR_MAX_VALUE, std::max(max, 0));
    ui::SetCtrlVal(state.mainPanel, MAIN_FRAME, 0);
    SetDimmed(state.mainPanel, MAIN_FRAME, dimmed);
}

}  // namespace

void ResetEarlierDisplay() { earlierDisplay = EarlierDisplay{}; }

PlaneView PlaneAt(int frame) {
    const bool file = state.DataSource == 0;
    const int width = file ? earlierDisplay.fileWidth : earlierDisplay.cameraWidth;
    const int height = file ? earlierDisplay.fileHeight : earlierDisplay.cameraHeight;
    const int frames = std::max(1, file ? earlierDisplay.fileFrames : earlierDisplay.cameraFrames);
    const Buffer<uint16_t>& buffer = file ? state.pFitsData : state.g_pRawData;
    if (width <= 0 || height <= 0 || !buffer) return {};
    // The slider's last position (one past the last frame) shows the last frame.
    const size_t index = size_t(std::clamp(frame, 0, frames - 1));
    const size_t planeSize = size_t(width) * size_t(height);
    if ((index + 1) * planeSize > buffer.size()) return {};
    return PlaneView{width, height, buffer.get() + index * planeSize};
}

void PlaneMinMax(const uint16_t* data, size_t count, int* min, int* max) {
    if (count == 0) {
        *min = *max = 0;
        return;
    }
    const auto [lo, hi] = std::minmax_element(data, data + count);
    *min = *lo;
    *max = *hi;
}

void DisplayLineProfile(int x, int y, const PlaneView& plane, int mode) {
    std::lock_guard lock(DisplayMutex());
    if (!plane || x < 0 || y < 0 || x >= plane.width || y >= plane.height) return;
    std::vector<double> profile;
    if (mode == 0) {
        const uint16_t* row = plane.data + size_t(plane.height - y - 1) * size_t(plane.width);
        profile.assign(row, row + std::min<size_t>(plane.width, kProfileSamples));
    } else {
        const size_t count = std::min<size_t>(size_t(plane.height - 1), kProfileSamples);
        for (size_t r = 0; r < count; ++r) profile.push_back(plane.data[x + r * plane.width]);
    }
    if (earlierDisplay.profilePlot > 0)
        ui::DeleteGraphPlot(state.mainPanel, MAIN_PROFILE, earlierDisplay.profilePlot);
    earlierDisplay.profilePlot = 0;
    if (profile.empty()) return;
    const int handle =
        ui::PlotY(state.mainPanel, MAIN_PROFILE, profile, ui::VAL_THIN_LINE, ui::VAL_GREEN);
    if (handle > 0) earlierDisplay.profilePlot = handle;
}

void EarlierByteDisplay(const PlaneView& plane, int low, int high) {
    std::lock_guard lock(DisplayMutex());
    if (!plane) return;
    ByteDisplay(plane.width, plane.height, plane.data, low, high);
    DisplayLineProfile(0, plane.height / 2, plane, 0);
}

void ShowFrame(int frame) {
    std::lock_guard lock(DisplayMutex());
    const PlaneView plane = PlaneAt(frame);
    if (!plane) return;
    earlierDisplay.frame = frame;
    int min = 0, max = 0;
    PlaneMinMax(plane.data, size_t(plane.width) * size_t(plane.height), &min, &max);
    EarlierByteDisplay(plane, min, max);
    SetScaleControls(min, max);
}

void DisplayCCDImage(int width, int height, int frames) {
    std::lock_guard lock(DisplayMutex());
    ShowFileName("", false);
    state.DataSource = 1;
    earlierDisplay.cameraWidth = width;
    earlierDisplay.cameraHeight = height;
    earlierDisplay.cameraFrames = std::max(frames, 1);
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    if (frames > 1) SetFrameSlider(frames - 1, false);
    ShowFrame(0);
}

int OpenFitsFile(const std::string& path) {
    std::optional<FitsImage> image = ReadFits(path);
    if (!image) return 0;
    std::lock_guard lock(DisplayMutex());
    if (!state.pFitsData.Allocate(image->samples.size())) {
        ui::MessagePopup("Error", "Not enough memory to show the file.");
        return 0;
    }
    std::copy(image->samples.begin(), image->samples.end(), state.pFitsData.get());
    FillGreyRamp(state.colortable);
    earlierDisplay.fileWidth = image->keys.NAXIS1;
    earlierDisplay.fileHeight = image->keys.NAXIS2;
    earlierDisplay.fileFrames = image->frames;
    earlierDisplay.fileNaxis = image->keys.NAXIS;
    state.DataSource = 0;
    SetDimmed(state.mainPanel, MAIN_PICTURE, false);
    // A cube's slider runs to NAXIS3; its last position shows the last frame.
    if (image->keys.NAXIS == 3)
        SetFrameSlider(image->frames, false);
    else
        SetFrameSlider(0, true);
    ShowFrame(0);
    return 1;
}

int SetFrameSlide(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    ShowFrame(GetInt(state.mainPanel, MAIN_FRAME));
    return 0;
}

int SetBytsclMin(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    std::lock_guard lock(DisplayMutex());
    EarlierByteDisplay(PlaneAt(earlierDisplay.frame), GetInt(state.mainPanel, MAIN_BYTSCL_MIN),
                       GetInt(state.mainPanel, MAIN_BYTSCL_MAX));
    return 0;
}

int SetBytsclMax(int panel, int control, int event, void* data, int eventData1, int eventData2) {
    return SetBytsclMin(panel, control, event, data, eventData1, eventData2);
}

int pic_window(int, int, int event, void*, int eventData1, int eventData2) {
    if (event != ui::EVENT_MOUSE_POINTER_MOVE || state.threadparam == 0) return 0;
    const int y = eventData1 - kPictureTop;
    const int x = eventData2 - kPictureLeft;
    SetText(state.mainPanel, MAIN_CURSOR_Y, Format("y = %d\n", y));
    SetText(state.mainPanel, MAIN_CURSOR_X, Format("x = %d\n", x));
    std::lock_guard lock(DisplayMutex());
    DisplayLineProfile(x, y, PlaneAt(earlierDisplay.frame), 0);
    return 0;
}

int cmdOpen(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    std::string path;
    if (ui::FileSelectPopup("", "*.fts", "*.fts;*.fit;*.fits", "Open FITS File",
                            ui::VAL_LOAD_BUTTON, &path) == ui::VAL_NO_FILE_SELECTED)
        return 0;
    if (OpenFitsFile(path)) ShowFileName(path, false);
    return 0;
}

}  // namespace pelu::earlier
