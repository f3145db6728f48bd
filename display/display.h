// The main panel's image display: one 16-bit plane at a time shown as an
// 8-bit grey picture, pixel for pixel and flipped vertically (plane row 0 at
// the bottom), with its histogram, mean and standard deviation, and the scale
// limits the observer can change. The plane comes from the cameras (camera
// source) or from a stored file (file source, display/file_viewer.h).
//
// Every entry point takes the display lock: the live view draws from its own
// thread while the observer may move the mouse or change the scale limits.
// Nothing waits while holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace pelu {

// Header record of the stored file shown (display/file_viewer.h fills it).
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
    float mean = 0.0f;  // of the plane last prepared
    float stdev = 0.0f;
    FitsHeaderRecord FitsHeader;
    std::vector<std::string> FitsHeaderCards;  // the stored file's header, card by card
    std::string shownFile;     // path of the stored file on screen; "" for camera data
    std::string programTitle;  // the main panel's title without a file name
    int headerPanel = 0;       // the header viewer's panel
    // The missing bias/dark frame is reported once, not at every frame.
    bool biasDarkMissingReported = false;
    // How the scale limits of a new picture are chosen (the main panel's ring).
    int stretch = 0;  // kStretchAutomatic, kStretchMinMax or kStretchPercentile
    // Where the pointer rests on the picture (picture coordinates), so that
    // the read-out follows a new frame under a pointer that does not move.
    bool pointerOnPicture = false;
    int pointerX = 0, pointerY = 0;
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

// The choices of the scale-limits ring: the automatic limits above, the
// plane's minimum and maximum, or the values below which 0.5 % and 99.5 %
// of the samples lie (a few hot or dead pixels do not flatten the picture).
constexpr int kStretchAutomatic = 0;
constexpr int kStretchMinMax = 1;
constexpr int kStretchPercentile = 2;
constexpr double kPercentileLow = 0.005, kPercentileHigh = 0.995;

// Smallest sample values v with at least lowFraction (highFraction) of the
// samples at or below v.
ScaleLimits PercentileLimits(const uint16_t* data, size_t count, double lowFraction,
                             double highFraction);
// The limits of a plane by the chosen stretch.
ScaleLimits LimitsFor(int stretch, const uint16_t* data, size_t count, float mean, float stdev,
                      int min, int max);

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

// ---- drawing ---------------------------------------------------------------------------

// Titles of the main panel's graph axes for each of its uses.
struct GraphAxes {
    const char* x;
    const char* y;
};
constexpr GraphAxes kHistogramAxes{"Value (ADU)", "Pixels"};
constexpr GraphAxes kProfileAxes{"x (px)", "Value (ADU)"};

// Replaces the plot of the main panel's graph (histogram or line profile)
// and titles its axes.
void ReplaceGraphPlot(const double* x, const double* y, size_t count, int style, int color,
                      GraphAxes axes);

// Draws a plane of width x height samples scaled between low and high into
// the main panel's picture and, when low < high, plots its histogram
// (100 bins from low to high, blue bars) in the graph. The picture control
// keeps its size: its view fits the plane (the front-end zooms and pans).
void ByteDisplay(int width, int height, const uint16_t* data, int low, int high);

// Statistics, scale limits (by the chosen stretch) and ByteDisplay of a
// plane; shows mean and standard deviation, sets both scale controls to
// [min, max] and the limits, and brings the cursor read-out up to date.
// Returns the plane's min and max.
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

// Names the stored file on screen (its path; "" for camera data) in the main
// panel's title, before the program's own title; the header viewer is
// offered only for a file `withHeader` (a FITS file).
void ShowFileName(const std::string& path, bool withHeader);

// The cursor read-out (x, y, frame, value) for where the pointer rests on
// the plane on screen; empty when it rests nowhere or off the plane.
void ShowCursorReadout();

// Camera whose view switch alone is on: 1, 2, or 0 for neither or both.
int ShownCamera();

// A camera's series as the display reads it.
struct CameraSeries {
    int handle = 0;
    int width = 0;
    int height = 0;
    int frames = 0;                      // g_nFrameNumber1, at least 1
    const uint16_t* raw = nullptr;       // null when missing or smaller than the geometry
    const uint16_t* biasDark = nullptr;  // null when missing or smaller than one frame
};
// Camera 1 or 2; false for any other number or a geometry not yet set.
bool SeriesOfCamera(int camera, CameraSeries* series);
// 1 or 2 for the handles of camera 1 and camera 2, else 0.
int DisplayedCameraNumber(int cameraHandle);

// The main panel's view selector: 0 the frame view, 1 the slice view.
int ViewSelector();
// Sets the range of one of the main panel's numeric controls.
void SetMainPanelRange(int control, int min, int max);

// Geometry of the series on screen for the frame selector and the clicks:
// frames, and the width and height of one frame.
struct SeriesShape {
    int frames = 0;
    int width = 0;
    int height = 0;
};
// The stored cube, or the camera series shown (into `series`); frames 0 when
// neither is a series (a 2-D file, a single frame, no camera view).
SeriesShape ShapeOnScreen(CameraSeries* series);

}  // namespace pelu
