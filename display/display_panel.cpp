#include "display/display_panel.h"

#include <mutex>

#include "display/display.h"
#include "display/views.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"

namespace pelu {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Builds plane `index` on `axis` of what is on screen (file cube or camera
// series) and shows it.
void BuildOnScreen(int axis, int index, const CameraSeries& series) {
    int max = 0, min = 0;
    if (state.DataSource == 0)
        Display3DFits(axis, index, &max, &min);
    else
        Display3D_CCD(axis, index, &max, &min, series.handle);
}

}  // namespace

int SetSelectFrame(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    Lock lock(DisplayMutex());
    const int index = GetInt(state.mainPanel, MAIN_FRAME);
    const int view = ViewSelector();
    CameraSeries series;
    const SeriesShape shape = ShapeOnScreen(&series);
    if (shape.frames == 0) return 0;
    const int limit = view == 0 ? shape.frames : shape.width;
    if (index < 0 || index >= limit) return 0;
    BuildOnScreen(view, index, series);
    return 0;
}

int setFrameAxis(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    Lock lock(DisplayMutex());
    const int view = ViewSelector();
    int index = GetInt(state.mainPanel, MAIN_FRAME);
    CameraSeries series;
    const SeriesShape shape = ShapeOnScreen(&series);
    if (shape.frames == 0) return 0;
    // A frame index becomes a column index and back: keep it inside the new axis.
    const int limit = view == 0 ? shape.frames : shape.width;
    if (index >= limit) index = limit - 1;
    if (index < 0) index = 0;
    SetMainPanelRange(MAIN_FRAME, 0, limit - 1);
    ui::SetCtrlVal(state.mainPanel, MAIN_FRAME, index);
    BuildOnScreen(view, index, series);
    return 0;
}

int SetBytsclMin(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    Lock lock(DisplayMutex());
    const int low = GetInt(state.mainPanel, MAIN_BYTSCL_MIN);
    const int high = GetInt(state.mainPanel, MAIN_BYTSCL_MAX);
    const ShownPlane plane = PlaneOnScreen();
    if (plane) ByteDisplay(plane.width, plane.height, plane.data, low, high);
    return 0;
}

int SetBytsclMax(int panel, int control, int event, void* data, int eventData1, int eventData2) {
    return SetBytsclMin(panel, control, event, data, eventData1, eventData2);
}

namespace {
int ViewCamera(int event, int camera) {
    if (event != ui::EVENT_COMMIT) return 0;
    Lock lock(DisplayMutex());
    ui::SetCtrlVal(state.mainPanel, MAIN_VIEW_CCD1, camera == 1 ? 1 : 0);
    ui::SetCtrlVal(state.mainPanel, MAIN_VIEW_CCD2, camera == 2 ? 1 : 0);
    if (camera == 1)
        DisplayCCDImage(state.nhDim1, state.nvDim1, state.g_nFrameNumber1, state.nCameraHandle1);
    else
        DisplayCCDImage(state.nhDim2, state.nvDim2, state.g_nFrameNumber1, state.nCameraHandle2);
    return 0;
}
}  // namespace

int viewCCD1(int, int, int event, void*, int, int) {
    return ViewCamera(event, 1);
}
int viewCCD2(int, int, int event, void*, int, int) {
    return ViewCamera(event, 2);
}

int pic_window(int panel, int control, int event, void*, int eventData1, int eventData2) {
    if (event != ui::EVENT_MOUSE_POINTER_MOVE && event != ui::EVENT_LEFT_CLICK &&
        event != ui::EVENT_MOUSE_POINTER_LEAVE)
        return 0;
    Lock lock(DisplayMutex());
    if (event == ui::EVENT_MOUSE_POINTER_LEAVE) {
        display.pointerOnPicture = false;
        ShowCursorReadout();
        return 0;
    }
    int top = 0, left = 0;
    ui::GetCtrlBoundingRect(panel, control, &top, &left, nullptr, nullptr);
    const int x = eventData2 - left;
    const int y = eventData1 - top;
    // The live view redraws the picture many times a second: then the
    // read-out follows the pointer, and each new frame under it, but no
    // line profile replaces the histogram and a click picks nothing.
    const bool live = state.threadparam == 0;

    if (event == ui::EVENT_MOUSE_POINTER_MOVE) {
        display.pointerOnPicture = true;
        display.pointerX = x;
        display.pointerY = y;
        ShowCursorReadout();
        if (live) return 0;
        const ShownPlane plane = PlaneOnScreen();
        if (plane) Display_Line_Profile(x, y, plane.width, plane.height, plane.data, 0);
        return 0;
    }

    // A click on a slice picks the frame of the clicked column.
    if (live || ViewSelector() != 1) return 0;
    CameraSeries series;
    const SeriesShape shape = ShapeOnScreen(&series);
    if (shape.frames == 0 || x < 0 || x >= shape.frames) return 0;
    ui::MarkOption(state.mainPanel, MAIN_VIEW, 0);
    ui::SetCtrlVal(state.mainPanel, MAIN_FRAME, x);
    SetMainPanelRange(MAIN_FRAME, 0, shape.frames - 1);
    BuildOnScreen(0, x, series);
    return 0;
}

int setScaleStretch(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    Lock lock(DisplayMutex());
    display.stretch = GetInt(state.mainPanel, MAIN_STRETCH);
    // The picture on screen takes the new limits at once.
    const ShownPlane plane = PlaneOnScreen();
    if (plane) ShowPlane(plane.width, plane.height, plane.data, nullptr, nullptr);
    return 0;
}

void RegisterDisplayCallbacks() {
    ui::RegisterCallback("SetSelectFrame", SetSelectFrame);
    ui::RegisterCallback("setFrameAxis", setFrameAxis);
    ui::RegisterCallback("SetBytsclMin", SetBytsclMin);
    ui::RegisterCallback("SetBytsclMax", SetBytsclMax);
    ui::RegisterCallback("viewCCD1", viewCCD1);
    ui::RegisterCallback("viewCCD2", viewCCD2);
    ui::RegisterCallback("pic_window", pic_window);
    ui::RegisterCallback("setScaleStretch", setScaleStretch);
    ui::RegisterCallback("drawHistogram", drawHistogram);
}

}  // namespace pelu
