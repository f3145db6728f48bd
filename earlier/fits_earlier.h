// The one-camera program's own FITS files: a single 2880-byte header block
// of free-format cards (values right after "= ", no quotes, no comments) and
// unsigned 16-bit samples stored with BZERO 32768, big-endian, directly after
// the header and not padded. The site's older tools and archives hold files
// of exactly this layout. Written and read without a FITS library; the
// reader also takes standard fixed-format headers and padded data.
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
// the working directory (see WriteFitsFile). When that fails the observer is
// offered to save the file into another folder. Returns 1 when a file was
// written (its logical path in `writtenPath`), 0 when the samples are in
// memory only.
int SaveFits(int width, int height, int frames, const uint16_t* samples, float exposureSeconds,
             int cameraHandle, std::string* writtenPath = nullptr);
// Writes the file as `logicalPath` or, when that name is taken, as
// name_1.fts, name_2.fts, ...: the file is created exclusively, so an
// existing file is never replaced, also when another program creates the
// same name at the same moment. The file is written under a temporary name,
// flushed to the disk and renamed when complete. Every failure is reported
// in the status box with the file name, and a file that failed halfway is
// removed. True when
// the whole file was written; `writtenPath` then receives its name.
bool WriteFitsFile(const std::string& logicalPath, int width, int height, int frames,
                   const uint16_t* samples, float exposureSeconds, int cameraHandle,
                   const os::UtcTime& time, std::string* writtenPath = nullptr);

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
    bool hasEnd = false;  // the block holds an END card
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

// The most sample data a file may hold for this program to read it.
constexpr uint64_t kMaxFitsDataBytes = uint64_t(4) << 30;

// Checks the header block of a file of `fileSize` bytes and fills
// image->keys and image->frames. "" when the data it describes can be read;
// otherwise the reason: a file shorter than a block, no END card, an
// unsupported BITPIX or NAXIS, an axis below 1, more data than
// kMaxFitsDataBytes or than the file holds after the header.
std::string CheckFitsHeader(const char* block, uint64_t fileSize, FitsImage* image);

// Decodes a whole file held in memory as ReadFits does; the reason of a
// refusal goes to `reason`.
std::optional<FitsImage> DecodeFits(const unsigned char* bytes, size_t size, std::string* reason);

// Reads a file of this program's kind. A file that cannot be opened gets the
// popup titled "Error" with "No File Exists"; any fault CheckFitsHeader finds
// gets the popup "Cannot show <file name>: <reason>" before anything is
// allocated. Either way nothing is returned and the caller keeps what it
// showed before.
std::optional<FitsImage> ReadFits(const std::string& logicalPath);

}  // namespace pelu::earlier
