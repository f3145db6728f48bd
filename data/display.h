// The main panel's image display: one 16-bit plane at a time shown as an
// 8-bit grey picture, pixel for pixel and flipped vertically (plane row 0 at
// the bottom), with its histogram, mean and standard deviation, and the scale
// limits the observer can change. The plane comes from the cameras (camera
// source) or from a stored file (file source, data/file_viewer.h).
//
// Every entry point takes the display lock: the live view draws from its own
// thread while the observer may move the mouse or change the scale limits.
// Nothing waits while holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace pelu {

// Header record of the stored file shown (data/file_viewer.h fills it).
struct FitsHeaderRecord {
    int BITPIX = 0;
    int NAXIS = 0;
    int NAXIS1 = 0;
    int NAXIS2 = 0;
    int NAXIS3 = 0;
    float EXPTIME = 0.0f;
    int elementSize = 0;  // BITPIX / 8
};

// Values of the display that no other subsystem needs by name.
struct DisplayGlobals {
    float mean = 0.0f;   // of the plane last prepared
    float stdev = 0.0f;
    FitsHeaderRecord FitsHeader;
    // The missing bias/dark frame is reported once, not at every frame.
    bool biasDarkMissingReported = false;
    // Design positions of the main panel's controls, taken before the panel
    // is first resized, so that a grown picture pushes its neighbours aside.
    struct ControlPosition {
        int id, left, top;
    };
    int layoutPanel = 0;
    std::vector<ControlPosition> designLayout;
    int pictureRight = 0, pictureBottom = 0;
};

inline DisplayGlobals display;

// The lock every display entry point holds (recursive: callbacks call the
// builders, which call ByteDisplay).
std::recursive_mutex& DisplayMutex();

// Back to the values of program start (tests).
void ResetDisplayGlobals();

// ---- scaling -------------------------------------------------------------------------

// Spread of the automatic scale limits, in standard deviations.
constexpr double kScaleSigmas = 3.0;

struct ScaleLimits {
    int low = 0;
    int high = 0;
};

// mean -/+ 3 standard deviations, each truncated toward zero and kept
// within [min, max].
ScaleLimits AutomaticLimits(float mean, float stdev, int min, int max);

// Byte of a sample between low and high: 255 x (sample - low) / (high - low)
// clipped to [0, 1] and truncated. With low >= high the picture is a
// threshold at low: 0 at or below, 255 above.
unsigned char ScaleSample(uint16_t sample, int low, int high);

// Scales width x height samples into `out` (`stride` bytes per row). With
// `flip` the last plane row becomes the first output row, as on screen.
// When `histogram` is given (kHistogramBins entries) it receives the counts of
// 100 equal bins from low to high, binned as the run-time's Histogram bins
// (values outside [low, high] are not counted); `axis` the bin centres.
constexpr int kHistogramBins = 100;
void ScalePlane(int width, int height, const uint16_t* data, int low, int high, bool flip,
                unsigned char* out, size_t stride, int* histogram = nullptr,
                double* axis = nullptr);

// Grey ramp palette: entry k = k, k, k.
void FillGreyRamp(int* palette);

// Main panel size for a plane: the design size up to 512 pixels, wider or
// higher by what the plane has beyond 512.
struct PanelSize {
    int width = 0;
    int height = 0;
};
PanelSize PanelSizeFor(int planeWidth, int planeHeight, int designWidth, int designHeight);
// Resizes the main panel by that rule, re-centring it after each change.
// Controls right of the picture's design area move right, and controls
// below it move down, by what the panel grew, so a large picture does not
// cover them.
void FitPanelToPlane(int planeWidth, int planeHeight);

// ---- drawing ---------------------------------------------------------------------------

// Replaces the plot of the main panel's graph (histogram or line profile).
void ReplaceGraphPlot(const double* x, const double* y, size_t count, int style, int color);

// Draws a plane of width x height samples scaled between low and high into
// the main panel's picture and, when low < high, plots its histogram
// (100 bins from low to high, blue bars) in the graph.
void ByteDisplay(int width, int height, const uint16_t* data, int low, int high);

// Statistics, automatic limits and ByteDisplay of a plane; shows mean and
// standard deviation and sets both scale controls to [min, max] and the
// limits. Returns the plane's min and max.
void ShowPlane(int width, int height, const uint16_t* data, int* min, int* max);

// First display of a camera's new series (frames <= 1: one frame, shown from
// the camera's buffer itself; more: frame 0 copied, frame selector set up).
void DisplayCCDImage(int width, int height, int frames, int cameraHandle);

// What is on screen, chosen by the data source, the file's axes, the view
// selector and the camera whose view switch alone is on. Empty when that plane
// does not exist (freed by the settings, a switched-off camera, ...) or is
// smaller than its geometry says.
struct ShownPlane {
    int width = 0;
    int height = 0;
    const uint16_t* data = nullptr;
    explicit operator bool() const { return data != nullptr; }
};
ShownPlane PlaneOnScreen();

// Camera whose view switch alone is on: 1, 2, or 0 for neither or both.
int ShownCamera();

// A camera's series as the display reads it.
struct CameraSeries {
    int handle = 0;
    int width = 0;
    int height = 0;
    int frames = 0;                     // g_nFrameNumber1, at least 1
    const uint16_t* raw = nullptr;      // null when missing or smaller than the geometry
    const uint16_t* biasDark = nullptr; // null when missing or smaller than one frame
};
// Camera 1 or 2; false for any other number or a geometry not yet set.
bool SeriesOfCamera(int camera, CameraSeries* series);
// 1 or 2 for the handles of camera 1 and camera 2, else 0.
int DisplayedCameraNumber(int cameraHandle);

// ---- main-panel callbacks ------------------------------------------------------------

int SetSelectFrame(int panel, int control, int event, void* data, int eventData1, int eventData2);
int setFrameAxis(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMin(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMax(int panel, int control, int event, void* data, int eventData1, int eventData2);
int viewCCD1(int panel, int control, int event, void* data, int eventData1, int eventData2);
int viewCCD2(int panel, int control, int event, void* data, int eventData1, int eventData2);
int pic_window(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Binds the display callback names of PELU.uir (these and drawHistogram).
void RegisterDisplayCallbacks();

}  // namespace pelu
