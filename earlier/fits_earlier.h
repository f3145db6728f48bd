// The one-camera program's own FITS files: a single 2880-byte header block
// and unsigned 16-bit samples stored with BZERO 32768, written and read
// without a FITS library.
//
// Written files are valid FITS: card values sit in the fixed-format columns,
// strings are quoted, the date is ISO 8601 and the data is padded with zeros
// to a whole number of 2880-byte blocks. Our reader needs none of that, so
// files of the first version of this writer (unpadded, free-format values)
// still open.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/os.h"

namespace pelu::earlier {

constexpr int kFitsBlock = 2880;
constexpr int kFitsCard = 80;

// "PELU_YYYYMMDD_hhmmss[_QEL|_VOR].fts": _QEL for camera 1's handle, _VOR
// for camera 2's, nothing for any other handle.
std::string FitsFileName(const os::UtcTime& time, int cameraHandle);

// The header block of a file of `frames` frames of width x height samples.
std::array<char, kFitsBlock> FitsHeaderBlock(int width, int height, int frames,
                                             float exposureSeconds, int cameraHandle,
                                             const os::UtcTime& time);

// Writes width x height x frames samples into FitsFileName(now, handle) in
// the working directory. Returns 1 whatever happens; a file that cannot be
// written is simply absent (or removed when writing failed halfway).
int SaveFits(int width, int height, int frames, const uint16_t* samples, float exposureSeconds,
             int cameraHandle);
// As SaveFits, into `logicalPath`; returns true when the whole file was written.
bool WriteFitsFile(const std::string& logicalPath, int width, int height, int frames,
                   const uint16_t* samples, float exposureSeconds, int cameraHandle,
                   const os::UtcTime& time);

// Swaps the two bytes of every 16-bit word of `buffer` (an odd last byte is
// left alone).
void ByteChange(void* buffer, size_t lengthInBytes);

// Keys of a header as this program reads them, with their defaults.
struct FitsKeys {
    int BITPIX = 8;
    int NAXIS = 2;
    int NAXIS1 = 1;
    int NAXIS2 = 1;
    int NAXIS3 = 1;
    double BZERO = 0.0;
    double BSCALE = 1.0;
};

// A file read by ReadFits: its keys and its samples converted to physical
// values (BZERO + stored x BSCALE, kept within 0..65535), frame after frame.
struct FitsImage {
    FitsKeys keys;
    int frames = 1;  // NAXIS3 for a cube, 1 for an image
    std::vector<uint16_t> samples;
};

// Parses the 36 cards of a header block.
FitsKeys ParseFitsHeader(const char* block);

// Reads a file of this program's kind. On any fault (no such file, shorter
// than a header block, an unsupported BITPIX or NAXIS, axes that claim more
// data than the file holds) it shows the popup titled "Error" with the
// reason and returns nothing; the caller keeps what it showed before.
std::optional<FitsImage> ReadFits(const std::string& logicalPath);

}  // namespace pelu::earlier
