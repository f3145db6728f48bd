// Frame and slice views of a series, the line profile under the cursor and
// the histogram on request.
//
// A series is a cube of frames x height x width samples, sample (x, y, f) at
// x + width * (y + height * f). The frame view shows one frame (width x
// height); the slice view at column k puts every frame side by side
// (frames x height, element (f, y) = sample (k, y, f)).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelu {

// Copies frame `frame` of a cube into `plane` (width x height elements).
void CopyFrame(const uint16_t* cube, int width, int height, int frame, uint16_t* plane);
// Gathers the slice at `column` into `plane` (frames x height elements).
void CopySlice(const uint16_t* cube, int width, int height, int frames, int column,
               uint16_t* plane);
// plane - biasDark element by element, modulo 65536 (a pixel below its
// bias/dark value wraps to a large value, as the stored products do).
void SubtractBiasDark(uint16_t* plane, const uint16_t* biasDark, size_t count);

// Builds frame `index` (axis 0, bias/dark subtracted) or the slice at column
// `index` (axis 1) of the camera whose handle is given into planeDataCCD and
// shows it; *max and *min receive the plane's extremes. Builds nothing for an
// unknown handle, an index outside the series or a series buffer that is
// missing or smaller than its geometry.
void Display3D_CCD(int axis, int index, int* max, int* min, int cameraHandle);
// The slice at `column` of a series being taken: the first `arrived` frames
// of the camera's series (the frames not yet taken are neither read nor
// shown), so the observer sees the scan build up.
void DisplayArrivingSlice(int cameraHandle, int column, int arrived);
// The same for the stored cube (pFitsData) into pusFitsData, unchanged.
void Display3DFits(int axis, int index, int* max, int* min);

// Plots the plane row under the cursor (picture coordinates x, y; the picture
// is flipped, so row height - 1 - y) as a thin green line and shows the sample
// under the cursor. Mode 0 is the only one used. A position outside the plane
// draws nothing.
void Display_Line_Profile(int x, int y, int width, int height, const uint16_t* data, int mode);

// Graph callback (left click): histogram of the plane on screen, 100 bins
// from its minimum to its maximum.
int drawHistogram(int panel, int control, int event, void* data, int eventData1, int eventData2);

}  // namespace pelu
