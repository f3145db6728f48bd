// The stored-file viewer: FITS files written by this system are opened as
// the display's file source, 8-bit BMP pictures are shown as they are, and
// the plane on screen is exported as an 8-bit grey BMP.
//
// BMP layout written and read: 14-byte file header ("BM", file size, two
// reserved words, pixel offset), 40-byte information header (size 40, width,
// height, 1 plane, 8 bits, no compression, image size = row stride x height,
// resolutions 0, 256 colours used and important), 256 palette entries of
// blue, green, red, 0, then the rows bottom row first, each padded with zero
// bytes to a stride of ((8 x width + 31) / 32) x 4 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pelu {

constexpr int kBmpFileHeaderSize = 14;
constexpr int kBmpInfoHeaderSize = 40;
constexpr int kBmpPaletteSize = 4 * 256;
constexpr int kBmpPixelOffset = kBmpFileHeaderSize + kBmpInfoHeaderSize + kBmpPaletteSize;

// Bytes per stored row of an 8-bit picture `width` pixels wide.
constexpr size_t BmpRowStride(int width) {
    return ((8 * size_t(width) + 31) / 32) * 4;
}

// Opens, reads and shows a FITS file (path as the file dialog gives it,
// logical or host). On success the file becomes the display's file source and
// true is returned. A file that cannot be opened or read gets a popup with
// the reason, a flat product (BITPIX -32) the console line "Cannot allocate
// pFitsData Memory\n"; either way nothing shown or held changes.
// The header is read by our own code first: a file that does not begin
// with SIMPLE = T, has no END card, or promises more data than it holds,
// more than 2^31 samples or an axis below 1 is refused before CFITSIO opens
// it or anything is allocated. Each popup names the file. 16-bit images
// are decoded by our own code; others go through CFITSIO. Samples are the
// camera's words: stored as they are (this system's files, no BZERO) or with
// BZERO 32768 (the earlier edition's files, not padded to whole blocks).
bool OpenFitsFile(const std::string& path);

// Reads a FITS file held in memory as OpenFitsFile reads one from disk and
// lets go of it: "" when it would be shown, otherwise the popup text (or
// the console line). Nothing on screen changes. A header our own check
// refuses, and a 16-bit image, never reach CFITSIO (fast enough to fuzz).
std::string CheckFitsBytes(const std::string& name, const void* bytes, size_t size);

// Shows an 8-bit BMP file in the picture as it is. Refusals get a popup
// titled "Error" and leave the picture as it was. True when shown.
bool OpenBitmap(const std::string& path);

// Writes width x height samples scaled between low and high as ByteDisplay
// scales them to `path` as an 8-bit grey BMP (plane row 0 at the bottom, as
// on screen). Returns 1 when the file is written, 0 otherwise (reported in
// the status box with the file name).
int SaveBitmap(int width, int height, const uint16_t* data, const std::string& path, int low,
               int high);

// A decoded 8-bit BMP: rows top first, width bytes each.
struct BmpImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;
    std::vector<int> palette;  // 256 entries 0x00RRGGBB
};
// Decodes the bytes of a BMP file. "" on success, otherwise the reason (the
// popup text) and `image` untouched.
std::string DecodeBitmap(const std::vector<unsigned char>& file, BmpImage* image);

}  // namespace pelu
