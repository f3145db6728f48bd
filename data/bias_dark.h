// Master bias/dark frames: 100 frames taken with the shutter closed at the
// observation's exposure, gain and binning, averaged pixel by pixel, kept in
// BiasDark1/BiasDark2 and written as "PELU_<UTC>_A_BiasDark.fts" (or _B_).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "camera/camera_facts.h"
#include "data/fits_writer.h"

namespace pelu {

// Frames averaged into one master frame.
constexpr int kBiasDarkFrames = 100;

// Master frame of `frames` frames of `plane` pixels each, frame after frame:
// per pixel the sum (32 bits) divided by the frame count, remainder dropped.
void AverageFrames(const uint16_t* series, size_t plane, int frames, uint16_t* master);

// Takes and saves the master frame of camera `handle` (already current).
// The frame stays in memory whether or not its file could be written.
void TakeBiasDark(int gain, int hbin, int vbin, float exposureSeconds, int handle,
                  const std::string& directory);

// What a bias/dark file records besides its frame: the settings the series
// was taken with, and the camera as it was then.
struct BiasDarkHeader {
    float exposureSeconds = 0.0f;
    int hbin = 0, vbin = 0, gain = 0;
    CameraFacts facts;
};

// Writes the master frame of camera 1 (file letter A) or 2 (B), width x
// height samples of which `available` are at `master`, into `directory`.
// Every failure is reported in the status box with the file name, and the
// result tells whether the whole file is on disk; the frame is only read.
SaveResult SaveBiasDark(int width, int height, const uint16_t* master, size_t available, int camera,
                        const BiasDarkHeader& header, const std::string& directory);

// Subtracts the camera's master frame from frame `frameIndex` of its raw
// buffer in place, modulo 65536 (no clipping at 0).
void BiasDarkCorrection(int width, int height, int handle, int frameIndex);

}  // namespace pelu
