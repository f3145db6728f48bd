// Master bias/dark frames: 100 frames taken with the shutter closed at the
// observation's exposure, gain and binning, averaged pixel by pixel, kept in
// BiasDark1/BiasDark2 and written as "PELU_<UTC>_A_BiasDark.fts" (or _B_).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pelu {

// Frames averaged into one master frame.
constexpr int kBiasDarkFrames = 100;

// Master frame of `frames` frames of `plane` pixels each, frame after frame:
// per pixel the sum (32 bits) divided by the frame count, remainder dropped.
void AverageFrames(const uint16_t* series, size_t plane, int frames, uint16_t* master);

// Takes and saves the master frame of camera `handle` (already current).
void TakeBiasDark(int gain, int hbin, int vbin, float exposureSeconds, int handle,
                  const std::string& directory);

// Writes the camera's master frame (width x height) into `directory`;
// `frames` is always 1 and not used. Always 1.
int SaveBiasDark(int width, int height, int frames, float exposureSeconds, int handle,
                 const std::string& directory);

// Subtracts the camera's master frame from frame `frameIndex` of its raw
// buffer in place, modulo 65536 (no clipping at 0).
void BiasDarkCorrection(int width, int height, int handle, int frameIndex);

}  // namespace pelu
