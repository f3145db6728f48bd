// The one-camera program's display: the plane shown is scaled between its
// plain minimum and maximum (no automatic mean +/- 3 sigma limits, no mean
// or deviation read-out), its middle row is drawn as a line profile on a
// graph of its own, and a stored file of this program's kind can be opened.
//
// The plane on screen is never held as a pointer: it is found again from
// the source (camera series or stored file) and the frame index each time,
// within the buffer's present size, so a buffer freed or replaced by the
// settings or the camera switch can never be read afterwards.
#pragma once

#include <cstdint>
#include <string>

namespace pelu::earlier {

// What is on screen: its source and frame, and the file's geometry.
struct EarlierDisplay {
    int fileWidth = 0, fileHeight = 0, fileFrames = 0, fileNaxis = 0;
    int cameraWidth = 0, cameraHeight = 0, cameraFrames = 0;
    int frame = 0;            // frame of the source shown
    int profilePlot = 0;      // plot handle in the profile graph, 0 = none
};
inline EarlierDisplay earlierDisplay;

void ResetEarlierDisplay();

// A plane of the current source; empty when that frame is not (or no
// longer) in its buffer.
struct PlaneView {
    int width = 0, height = 0;
    const uint16_t* data = nullptr;
    explicit operator bool() const { return data != nullptr; }
};
PlaneView PlaneAt(int frame);

// Smallest and largest sample of a plane.
void PlaneMinMax(const uint16_t* data, size_t count, int* min, int* max);

// Draws the plane scaled between low and high (with its histogram) and the
// line profile of its middle row.
void EarlierByteDisplay(const PlaneView& plane, int low, int high);
// Shows frame `frame` of the current source between its minimum and
// maximum and sets both scale controls' ranges and values to them.
void ShowFrame(int frame);

// Line profile on the profile graph: mode 0 row height - y - 1 (the picture
// is flipped), mode 1 column x (height - 1 samples); at most 512 samples, a
// green thin line. A position outside the plane draws nothing.
void DisplayLineProfile(int x, int y, const PlaneView& plane, int mode);

// First display of a new camera series in g_pRawData (width x height,
// `frames` frames; 0 or 1 is one frame).
void DisplayCCDImage(int width, int height, int frames);

// Reads a stored file and shows its first plane; on any fault the display
// stays as it was (ReadFits has said why). Returns 1 when shown.
int OpenFitsFile(const std::string& path);

// Main-panel callbacks.
int SetFrameSlide(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMin(int panel, int control, int event, void* data, int eventData1, int eventData2);
int SetBytsclMax(int panel, int control, int event, void* data, int eventData1, int eventData2);
int pic_window(int panel, int control, int event, void* data, int eventData1, int eventData2);
int cmdOpen(int panel, int control, int event, void* data, int eventData1, int eventData2);

}  // namespace pelu::earlier
