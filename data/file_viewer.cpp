#include "data/file_viewer.h"

#include <fitsio.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "data/display.h"
#include "data/views.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Larger files are not pictures this display could show.
constexpr std::streamoff kMaxBitmapFileBytes = 256ll << 20;

// ---- FITS reading ------------------------------------------------------------------------

// A FITS file read completely, before anything on screen changes.
struct FitsContents {
    FitsHeaderRecord header;
    std::vector<std::string> cards;  // the primary header, card by card
    Buffer<uint16_t> data;
};

std::string CfitsioText(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return text;
}

// Most samples a file may have for the display to hold it (4 GiB of 16-bit samples).
constexpr long long kMaxFitsElements = 1ll << 31;

// Reads the open `file`, `fileSize` bytes long, named `path` in the texts,
// and closes it. "" on success; otherwise the popup text. `noMemory` tells
// the one failure that is only printed on the console.
std::string ReadOpenFits(fitsfile* file, const std::string& path, long long fileSize,
                         FitsContents* out, bool* noMemory) {
    *noMemory = false;
    int status = 0;
    auto fail = [&](const std::string& what) {
        const std::string text = what + " of " + path + ":\n" + CfitsioText(status);
        int ignored = 0;
        fits_close_file(file, &ignored);
        return text;
    };
    auto refuse = [&](const std::string& text) {
        int ignored = 0;
        fits_close_file(file, &ignored);
        return text;
    };

    // Every card as written, for the header viewer.
    int cardCount = 0;
    if (fits_get_hdrspace(file, &cardCount, nullptr, &status))
        return fail("The image header cannot be read");
    for (int i = 1; i <= cardCount; ++i) {
        char card[FLEN_CARD] = {};
        if (fits_read_record(file, i, card, &status))
            return fail("The image header cannot be read");
        out->cards.emplace_back(card);
    }

    FitsHeaderRecord& h = out->header;
    fits_read_key(file, TINT, "BITPIX", &h.BITPIX, nullptr, &status);
    fits_read_key(file, TINT, "NAXIS", &h.NAXIS, nullptr, &status);
    fits_read_key(file, TINT, "NAXIS1", &h.NAXIS1, nullptr, &status);
    fits_read_key(file, TINT, "NAXIS2", &h.NAXIS2, nullptr, &status);
    if (status) return fail("The image header cannot be read");
    // Not every file records an exposure; the image is still worth a look.
    if (fits_read_key(file, TFLOAT, "EXPTIME", &h.EXPTIME, nullptr, &status) == KEY_NO_EXIST) {
        status = 0;
        h.EXPTIME = 0.0f;
    }
    if (status) return fail("The exposure time cannot be read");
    h.elementSize = h.BITPIX / 8;

    if (h.NAXIS == 2) {
        h.NAXIS3 = 0;
    } else if (h.NAXIS == 3) {
        if (fits_read_key(file, TINT, "NAXIS3", &h.NAXIS3, nullptr, &status))
            return fail("The image header cannot be read");
    } else {
        return refuse(Format("%s has %d axes: only 2-D images and 3-D series can be shown.",
                             path.c_str(), h.NAXIS));
    }
    if (h.NAXIS1 <= 0 || h.NAXIS2 <= 0 || (h.NAXIS == 3 && h.NAXIS3 <= 0))
        return refuse(Format("%s holds an empty image (%d x %d x %d).", path.c_str(), h.NAXIS1,
                             h.NAXIS2, h.NAXIS3));
    // Each axis is below 2^31, so two of them cannot overflow; the third is
    // only multiplied in while the product stays within the limit.
    long long elements = (long long)h.NAXIS1 * h.NAXIS2;
    if (h.NAXIS == 3 && elements <= kMaxFitsElements) {
        elements = h.NAXIS3 > kMaxFitsElements / elements ? kMaxFitsElements + 1
                                                           : elements * h.NAXIS3;
    }
    if (elements > kMaxFitsElements)
        return refuse(Format("%s claims an image of %d x %d x %d samples, more than this "
                             "program can hold.",
                             path.c_str(), h.NAXIS1, h.NAXIS2, h.NAXIS3));
    // The buffer holds 16-bit samples; a float product (negative BITPIX)
    // gives a negative size and is refused here.
    const long long bytes = elements * h.elementSize;
    if (bytes <= 0) {
        refuse("");
        *noMemory = true;
        return "";
    }
    // The samples the header promises must be in the file before anything
    // is allocated for them.
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    if (fits_get_hduaddrll(file, &headStart, &dataStart, &dataEnd, &status))
        return fail("The image header cannot be read");
    if (dataStart > fileSize || bytes > fileSize - dataStart)
        return refuse(Format("%s is cut short: its header promises %lld bytes of data, the file "
                             "holds %lld.",
                             path.c_str(), bytes,
                             std::max<long long>(0, fileSize - (long long)dataStart)));
    if (!out->data.Allocate(size_t(elements))) {
        refuse("");
        *noMemory = true;
        return "";
    }
    long first[3] = {1, 1, 1};
    int anyNull = 0;
    fits_read_pix(file, TSHORT, first, elements, nullptr, out->data.get(), &anyNull, &status);
    if (status) return fail("The image data cannot be read");
    fits_close_file(file, &status);
    if (status) return "The FITS file " + path + " cannot be closed:\n" + CfitsioText(status);
    return "";
}

// Reads the file at `path`. As ReadOpenFits.
std::string ReadFits(const std::string& path, FitsContents* out, bool* noMemory) {
    *noMemory = false;
    const std::string host = os::HostPath(path);
    if (host.empty()) return "The path " + path + " cannot be reached.";
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(host, ec);
    fitsfile* file = nullptr;
    int status = 0;
    if (ec || fits_open_diskfile(&file, host.c_str(), READONLY, &status))
        return "The FITS file " + path + " cannot be opened:\n" +
               (ec ? ec.message() : CfitsioText(status));
    return ReadOpenFits(file, path, static_cast<long long>(fileSize), out, noMemory);
}

// ---- BMP ---------------------------------------------------------------------------------

uint32_t U16(const std::vector<unsigned char>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t U32(const std::vector<unsigned char>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
void Put16(unsigned char* p, uint32_t v) {
    p[0] = v & 0xFF;
    p[1] = (v >> 8) & 0xFF;
}
void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

bool OpenFitsFile(const std::string& path) {
    FitsContents contents;
    bool noMemory = false;
    const std::string failure = ReadFits(path, &contents, &noMemory);
    if (noMemory) {
        std::printf("Cannot allocate pFitsData Memory\n");
        std::fflush(stdout);
        return false;
    }
    if (!failure.empty()) {
        ui::MessagePopup("Error", failure);
        return false;
    }

    // The new file is in memory: only now does the display let go of the old one.
    Lock lock(DisplayMutex());
    const FitsHeaderRecord& h = contents.header;
    const int panel = state.mainPanel;
    FillGreyRamp(state.colortable);
    state.pusFitsData.Free();
    state.pFitsData = std::move(contents.data);
    display.FitsHeader = h;
    display.FitsHeaderCards = std::move(contents.cards);
    state.DataSource = 0;
    ui::MarkOption(panel, MAIN_VIEW, 0);
    if (h.NAXIS == 2) {
        ShowPlane(h.NAXIS1, h.NAXIS2, state.pFitsData.get(), nullptr, nullptr);
        SetDimmed(panel, MAIN_FRAME, true);
        SetDimmed(panel, MAIN_VIEW, true);
    } else {
        int max = 0, min = 0;
        Display3DFits(0, 0, &max, &min);
        ui::SetCtrlAttribute(panel, MAIN_FRAME, ui::ATTR_MIN_VALUE, 0);
        ui::SetCtrlAttribute(panel, MAIN_FRAME, ui::ATTR_MAX_VALUE, h.NAXIS3 - 1);
        ui::SetCtrlVal(panel, MAIN_FRAME, 0);
    }
    return true;
}

std::string CheckFitsBytes(const std::string& name, const void* bytes, size_t size) {
    // CFITSIO's memory driver reads whole 2880-byte blocks, where its disk
    // driver stops at the end of the file: the bytes are copied into
    // blocks, the last one filled with zeros. The checks go by `size`.
    constexpr size_t kBlock = 2880;
    std::vector<unsigned char> blocks((size + kBlock - 1) / kBlock * kBlock, 0);
    if (size > 0) std::memcpy(blocks.data(), bytes, size);
    void* memory = blocks.data();
    size_t memorySize = blocks.size();
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_memfile(&file, name.c_str(), READONLY, &memory, &memorySize, 0, nullptr,
                          &status))
        return "The FITS file " + name + " cannot be opened:\n" + CfitsioText(status);
    FitsContents contents;
    bool noMemory = false;
    const std::string failure =
        ReadOpenFits(file, name, static_cast<long long>(size), &contents, &noMemory);
    return noMemory ? "Cannot allocate pFitsData Memory" : failure;
}

std::string DecodeBitmap(const std::vector<unsigned char>& file, BmpImage* image) {
    const size_t size = file.size();
    if (size < size_t(kBmpFileHeaderSize) || U16(file, 0) != 0x4D42) return "No BMP File";
    if (size < size_t(kBmpFileHeaderSize + kBmpInfoHeaderSize)) return "Bad File Format!";
    const uint32_t infoSize = U32(file, 14);
    if (U16(file, 28) != 8) return "Bad File Format!";
    if (infoSize < uint32_t(kBmpInfoHeaderSize) || kBmpFileHeaderSize + size_t(infoSize) > size)
        return "The BMP information header is cut short.";
    if (U32(file, 30) != 0) return "Compressed BMP files cannot be shown.";

    const int32_t width = int32_t(U32(file, 18));
    const int32_t signedHeight = int32_t(U32(file, 22));
    // A negative height stores the rows top first.
    const bool topDown = signedHeight < 0;
    const int64_t height = topDown ? -int64_t(signedHeight) : int64_t(signedHeight);
    if (width <= 0 || height <= 0 || int64_t(width) * height > (int64_t(1) << 28))
        return Format("The BMP header gives an unusable picture size (%d x %lld).", width,
                      (long long)height);
    const size_t stride = BmpRowStride(width);
    const size_t pixelBytes = stride * size_t(height);
    const uint32_t imageSize = U32(file, 34);
    if (imageSize != 0 && imageSize < pixelBytes)
        return Format("The BMP header's image size (%u bytes) is smaller than %d x %lld pixels "
                      "need (%zu bytes).",
                      imageSize, width, (long long)height, pixelBytes);
    const uint32_t offset = U32(file, 10);
    if (offset >= size) return "The BMP pixel data offset lies beyond the end of the file.";
    if (size - offset < pixelBytes)
        return Format("The BMP file ends before its last row (%d x %lld pixels need %zu bytes, "
                      "%zu are there).",
                      width, (long long)height, pixelBytes, size_t(size - offset));

    uint32_t colours = U32(file, 46);
    if (colours == 0 || colours > 256) colours = 256;
    const size_t paletteAt = kBmpFileHeaderSize + size_t(infoSize);
    if (paletteAt + 4 * size_t(colours) > size) return "The BMP palette is cut short.";

    BmpImage decoded;
    decoded.width = width;
    decoded.height = int(height);
    decoded.palette.assign(256, 0);
    for (uint32_t k = 0; k < colours; ++k) {
        const unsigned char* entry = file.data() + paletteAt + 4 * k;  // blue, green, red, 0
        decoded.palette[k] = entry[2] << 16 | entry[1] << 8 | entry[0];
    }
    decoded.pixels.resize(size_t(width) * size_t(height));
    for (int64_t row = 0; row < height; ++row) {
        // Bottom-up files store the picture's last row first.
        const int64_t stored = topDown ? row : height - 1 - row;
        std::copy_n(file.data() + offset + size_t(stored) * stride, size_t(width),
                    decoded.pixels.data() + size_t(row) * size_t(width));
    }
    *image = std::move(decoded);
    return "";
}

bool OpenBitmap(const std::string& path) {
    const std::string host = os::HostPath(path);
    std::ifstream in(host, std::ios::binary);
    if (host.empty() || !in) {
        ui::MessagePopup("Error", "No File Exists");
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0 || length > kMaxBitmapFileBytes) {
        ui::MessagePopup("Error", "The file " + path + " is too large for a BMP picture.");
        return false;
    }
    in.seekg(0);
    std::vector<unsigned char> bytes(static_cast<size_t>(length));
    in.read(reinterpret_cast<char*>(bytes.data()), length);
    if (!in) {
        ui::MessagePopup("Error", "The file " + path + " cannot be read.");
        return false;
    }
    BmpImage image;
    const std::string failure = DecodeBitmap(bytes, &image);
    if (!failure.empty()) {
        ui::MessagePopup("Error", failure);
        return false;
    }

    Lock lock(DisplayMutex());
    int bitmap = 0;
    if (ui::NewBitmap(image.width, 8, image.width, image.height, image.palette.data(),
                      image.pixels.data(), &bitmap) != 0) {
        ui::MessagePopup("Error", Format("The picture of %d x %d pixels is too large to be shown.",
                                         image.width, image.height));
        return false;
    }
    ui::SetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_WIDTH, image.width);
    ui::SetCtrlAttribute(state.mainPanel, MAIN_PICTURE, ui::ATTR_HEIGHT, image.height);
    ui::SetCtrlBitmap(state.mainPanel, MAIN_PICTURE, 0, bitmap);
    ui::DiscardBitmap(bitmap);
    return true;
}

int SaveBitmap(int width, int height, const uint16_t* data, const std::string& path, int low,
               int high) {
    if (!data || width <= 0 || height <= 0) return 1;
    const size_t stride = BmpRowStride(width);
    const size_t pixelBytes = stride * size_t(height);
    if (pixelBytes > UINT32_MAX - kBmpPixelOffset) return 1;
    std::vector<unsigned char> file(kBmpPixelOffset + pixelBytes, 0);
    unsigned char* p = file.data();
    Put16(p + 0, 0x4D42);
    Put32(p + 2, uint32_t(file.size()));
    Put32(p + 10, kBmpPixelOffset);
    Put32(p + 14, kBmpInfoHeaderSize);
    Put32(p + 18, uint32_t(width));
    Put32(p + 22, uint32_t(height));
    Put16(p + 26, 1);
    Put16(p + 28, 8);
    Put32(p + 34, uint32_t(pixelBytes));
    Put32(p + 46, 256);
    Put32(p + 50, 256);
    for (int k = 0; k < 256; ++k) {
        unsigned char* entry = p + kBmpFileHeaderSize + kBmpInfoHeaderSize + 4 * k;
        entry[0] = entry[1] = entry[2] = static_cast<unsigned char>(k);
    }
    // Plane row 0 is the picture's bottom row, which a BMP stores first.
    ScalePlane(width, height, data, low, high, false, p + kBmpPixelOffset, stride);

    const std::string host = os::HostPath(path);
    bool written = false;
    if (!host.empty()) {
        std::ofstream out(host, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        out.close();
        written = static_cast<bool>(out);
    }
    if (!written) ShowStatus("\nThe bitmap " + path + " could not be written\n");
    return 1;
}

}  // namespace pelu
