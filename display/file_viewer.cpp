#include "display/file_viewer.h"

#include <fitsio.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "display/display.h"
#include "display/views.h"
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
constexpr size_t kFitsBlock = 2880;
constexpr size_t kFitsCard = 80;
// Longest primary header read: a header that runs on longer is not one this
// system or its sites write.
constexpr size_t kMaxHeaderBlocks = 64;

// What our own reading of the primary header's cards finds. The header is
// checked with it before CFITSIO is involved, so that a file that cannot be
// shown is refused at once, whatever it holds.
struct HeaderScan {
    bool simple = false;  // the first card is SIMPLE = T
    // BITPIX, NAXIS and NAXIS1..3 stand in their own places (cards 2, 3 and
    // 4 to 6), each once: CFITSIO reads a header whose mandatory cards are
    // elsewhere or given twice differently from us, and trips over it.
    bool ordered = true;
    bool hasEnd = false;
    size_t headerBytes = 0;  // whole blocks up to and with the END card
    int bitpix = 0;
    int naxis = -1;
    long long axes[3] = {-1, -1, -1};  // NAXIS1..3; -1 missing
    double bzero = 0.0, bscale = 1.0;
    double exptime = 0.0;  // 0 when the file records none
};

// The integer or number a card's value begins with (blanks skipped); false
// when the value is not one.
bool CardNumber(const char* card, double* value) {
    char text[kFitsCard - 9] = {};
    std::memcpy(text, card + 10, kFitsCard - 10);
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

bool CardInt(const char* card, long long* value) {
    double v = 0;
    if (!CardNumber(card, &v) || v != std::floor(v) || std::fabs(v) > 9.0e15) return false;
    *value = static_cast<long long>(v);
    return true;
}

// A card's keyword (its first 8 columns) as one word, so that a card is
// told by one comparison per key instead of a string comparison.
uint64_t KeyWord(const char* card) {
    uint64_t word;
    std::memcpy(&word, card, sizeof word);
    return word;
}

// The word of a keyword blank-padded to 8 characters.
uint64_t KeyWordOf(const char* key) {
    char padded[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    std::memcpy(padded, key, std::min<size_t>(std::strlen(key), 8));
    return KeyWord(padded);
}

// Reads the cards of the first blocks of `bytes` (`size` of them are there).
HeaderScan ScanHeader(const unsigned char* bytes, size_t size) {
    static const uint64_t kSimple = KeyWordOf("SIMPLE"), kEnd = KeyWordOf("END"),
                          kBitpix = KeyWordOf("BITPIX"), kNaxis = KeyWordOf("NAXIS"),
                          kNaxis1 = KeyWordOf("NAXIS1"), kNaxis2 = KeyWordOf("NAXIS2"),
                          kNaxis3 = KeyWordOf("NAXIS3"), kBzero = KeyWordOf("BZERO"),
                          kBscale = KeyWordOf("BSCALE"), kExptime = KeyWordOf("EXPTIME");
    HeaderScan scan;
    const size_t limit = std::min(size / kFitsBlock, kMaxHeaderBlocks) * kFitsBlock;
    for (size_t at = 0; at + kFitsCard <= limit; at += kFitsCard) {
        const char* card = reinterpret_cast<const char*>(bytes) + at;
        const uint64_t key = KeyWord(card);
        const bool hasValue = card[8] == '=' && card[9] == ' ';
        if (at == 0) {
            // SIMPLE = T, fixed (column 30) or free format.
            size_t i = 10;
            while (i < kFitsCard && card[i] == ' ') ++i;
            scan.simple = key == kSimple && hasValue && i < kFitsCard && card[i] == 'T' &&
                          (i + 1 == kFitsCard || card[i + 1] == ' ' || card[i + 1] == '/');
            if (!scan.simple) return scan;
            continue;
        }
        // The mandatory cards in their places; a NAXISn card beyond NAXIS
        // (the earlier edition writes NAXIS3 in a 2-D file) is allowed in
        // its own place.
        const size_t index = at / kFitsCard;
        const uint64_t kNaxisN[3] = {kNaxis1, kNaxis2, kNaxis3};
        if ((index == 1 && key != kBitpix) || (index == 2 && key != kNaxis) ||
            (index >= 3 && int(index) - 2 <= scan.naxis && index <= 5 && key != kNaxisN[index - 3]))
            scan.ordered = false;
        // Only keys that begin with B, E or N are read: every other card is
        // passed over after one look at its first column.
        if (card[0] != 'B' && card[0] != 'E' && card[0] != 'N') continue;
        if (key == kEnd) {
            scan.hasEnd = true;
            scan.headerBytes = (at / kFitsBlock + 1) * kFitsBlock;
            return scan;
        }
        if (!hasValue) continue;
        long long n = 0;
        if ((key == kBitpix && index != 1) || (key == kNaxis && index != 2) ||
            (key == kNaxis1 && index != 3) || (key == kNaxis2 && index != 4) ||
            (key == kNaxis3 && index != 5)) {
            scan.ordered = false;
            continue;
        }
        if (key == kBitpix) {
            if (CardInt(card, &n) && n >= -64 && n <= 64) scan.bitpix = int(n);
        } else if (key == kNaxis) {
            if (CardInt(card, &n) && n >= 0 && n <= 999) scan.naxis = int(n);
        } else if (key == kNaxis1 || key == kNaxis2 || key == kNaxis3) {
            if (CardInt(card, &n)) scan.axes[card[5] - '1'] = std::clamp(n, -1ll << 40, 1ll << 40);
        } else if (key == kBzero) {
            CardNumber(card, &scan.bzero);
        } else if (key == kBscale) {
            CardNumber(card, &scan.bscale);
        } else if (key == kExptime) {
            CardNumber(card, &scan.exptime);
        }
    }
    return scan;
}

// Every card of a header ScanHeader accepted, as written (trailing blanks
// dropped), up to the END card: what the header viewer lists.
std::vector<std::string> HeaderCards(const unsigned char* bytes, const HeaderScan& scan) {
    std::vector<std::string> cards;
    for (size_t at = 0; at + kFitsCard <= scan.headerBytes; at += kFitsCard) {
        const char* card = reinterpret_cast<const char*>(bytes) + at;
        if (std::memcmp(card, "END     ", 8) == 0) break;
        size_t length = kFitsCard;
        while (length > 0 && card[length - 1] == ' ') --length;
        cards.emplace_back(card, length);
    }
    return cards;
}

// Checks the primary header of a file of `fileSize` bytes named `path` in
// the texts. "" when its image can be read; otherwise the popup text, or
// "" with `noMemory` for a product this display cannot hold (a float cube).
// Fills `h` and the number of samples.
std::string CheckHeader(const HeaderScan& scan, const std::string& path, long long fileSize,
                        FitsHeaderRecord* h, long long* elements, bool* noMemory) {
    *noMemory = false;
    auto unopened = [&] { return "The FITS file " + path + " cannot be opened:\n"; };
    if (fileSize < static_cast<long long>(kFitsBlock))
        return unopened() + "it is shorter than one FITS header block (2880 bytes).";
    if (!scan.simple) return unopened() + "it does not begin with the card SIMPLE = T.";
    if (!scan.hasEnd) return unopened() + "its header has no END card.";
    if (!scan.ordered)
        return unopened() +
               "its header does not begin with BITPIX, NAXIS and NAXIS1 to NAXISn, in this "
               "order and each once.";
    const int b = scan.bitpix;
    if (b != 8 && b != 16 && b != 32 && b != 64 && b != -32 && b != -64)
        return unopened() + Format("illegal BITPIX keyword value (%d).", b);
    if (scan.naxis < 0) return unopened() + "the NAXIS keyword is missing or not a number.";
    h->BITPIX = b;
    h->NAXIS = scan.naxis;
    h->elementSize = b / 8;
    if (h->NAXIS != 2 && h->NAXIS != 3)
        return Format("%s has %d axes: only 2-D images and 3-D series can be shown.", path.c_str(),
                      h->NAXIS);
    for (int axis = 0; axis < h->NAXIS; ++axis) {
        if (scan.axes[axis] == -1)
            return unopened() + Format("the NAXIS%d keyword is missing or not a number.", axis + 1);
        if (scan.axes[axis] < 0)
            return unopened() + Format("illegal NAXISn keyword value (NAXIS%d = %lld).", axis + 1,
                                       scan.axes[axis]);
    }
    auto asInt = [](long long v) { return int(std::min<long long>(v, INT_MAX)); };
    h->NAXIS1 = asInt(scan.axes[0]);
    h->NAXIS2 = asInt(scan.axes[1]);
    h->NAXIS3 = h->NAXIS == 3 ? asInt(scan.axes[2]) : 0;
    if (h->NAXIS1 <= 0 || h->NAXIS2 <= 0 || (h->NAXIS == 3 && h->NAXIS3 <= 0))
        return Format("%s holds an empty image (%d x %d x %d).", path.c_str(), h->NAXIS1, h->NAXIS2,
                      h->NAXIS3);
    // Each axis is below 2^31, so two of them cannot overflow; the third is
    // only multiplied in while the product stays within the limit.
    long long count = (long long)h->NAXIS1 * h->NAXIS2;
    if (h->NAXIS == 3 && count <= kMaxFitsElements)
        count = h->NAXIS3 > kMaxFitsElements / count ? kMaxFitsElements + 1 : count * h->NAXIS3;
    if (count > kMaxFitsElements || h->NAXIS1 == INT_MAX || h->NAXIS2 == INT_MAX ||
        h->NAXIS3 == INT_MAX)
        return Format(
            "%s claims an image of %d x %d x %d samples, more than this program can "
            "hold.",
            path.c_str(), h->NAXIS1, h->NAXIS2, h->NAXIS3);
    // The buffer holds 16-bit samples; a float product (negative BITPIX)
    // gives a negative size and is not read.
    const long long bytes = count * h->elementSize;
    if (bytes <= 0) {
        *noMemory = true;
        return "";
    }
    // The samples the header promises must be in the file before anything
    // is allocated for them.
    const long long dataStart = static_cast<long long>(scan.headerBytes);
    if (dataStart > fileSize || bytes > fileSize - dataStart)
        return Format(
            "%s is cut short: its header promises %lld bytes of data, the file holds "
            "%lld.",
            path.c_str(), bytes, std::max<long long>(0, fileSize - dataStart));
    *elements = count;
    return "";
}

// Turns the stored 16-bit words into the camera's samples, in place. This
// system's files store the camera words without BZERO (they come back bit
// for bit), the earlier edition's with BZERO 32768; any other scaling is
// applied and kept within 0..65535.
void WordsToSamples(uint16_t* samples, long long count, const HeaderScan& scan) {
    if (scan.bscale == 1.0 && scan.bzero == 32768.0) {
        for (long long i = 0; i < count; ++i) samples[i] ^= 0x8000u;
    } else if (scan.bscale != 1.0 || scan.bzero != 0.0) {
        for (long long i = 0; i < count; ++i) {
            const double v = scan.bzero + scan.bscale * double(int16_t(samples[i]));
            samples[i] = v <= 0.0 ? 0 : v >= 65535.0 ? 65535 : static_cast<uint16_t>(v);
        }
    }
}

// FITS words are big-endian.
void FromBigEndian(uint16_t* words, long long count) {
    if constexpr (std::endian::native == std::endian::little)
        for (long long i = 0; i < count; ++i)
            words[i] = static_cast<uint16_t>((words[i] >> 8) | (words[i] << 8));
}

// Reads the image of the open `file`, whose header CheckHeader accepted,
// and closes it: images of other than 16 bits, converted by CFITSIO. ""
// on success; otherwise the popup text, or "" with `noMemory` when its
// samples do not fit in memory.
std::string ReadImage(fitsfile* file, const std::string& path, const HeaderScan& scan,
                      long long elements, FitsContents* out, bool* noMemory) {
    int status = 0;
    if (!out->data.Allocate(size_t(elements))) {
        fits_close_file(file, &status);
        *noMemory = true;
        return "";
    }
    // CFITSIO must see the image our own reading of the header saw: a header
    // it reads otherwise is refused before any call that relies on it.
    int hduType = -1, bitpix = 0, naxis = 0;
    long axes[3] = {0, 0, 0};
    fits_get_hdu_type(file, &hduType, &status);
    fits_get_img_param(file, 3, &bitpix, &naxis, axes, &status);
    bool same = status == 0 && hduType == IMAGE_HDU && bitpix == scan.bitpix && naxis == scan.naxis;
    for (int axis = 0; same && axis < naxis && axis < 3; ++axis) same = axes[axis] == scan.axes[axis];
    if (!same) {
        int ignored = 0;
        fits_close_file(file, &ignored);
        return "The FITS file " + path + " cannot be opened:\nits header reads differently to "
               "CFITSIO than to this program.";
    }
    fits_set_bscale(file, 1.0, 0.0, &status);
    long first[3] = {1, 1, 1};
    int anyNull = 0;
    uint16_t* samples = out->data.get();
    fits_read_pix(file, TSHORT, first, elements, nullptr, samples, &anyNull, &status);
    if (status) {
        const std::string text =
            "The image data cannot be read of " + path + ":\n" + CfitsioText(status);
        int ignored = 0;
        fits_close_file(file, &ignored);
        return text;
    }
    fits_close_file(file, &status);
    if (status) return "The FITS file " + path + " cannot be closed:\n" + CfitsioText(status);
    WordsToSamples(samples, elements, scan);
    return "";
}

// Reads the image of a whole file held in memory (`size` bytes at `bytes`)
// through CFITSIO. As ReadImage.
std::string ReadImageFromMemory(const std::string& path, const unsigned char* bytes, size_t size,
                                const HeaderScan& scan, long long elements, FitsContents* out,
                                bool* noMemory) {
    // CFITSIO's memory driver reads whole 2880-byte blocks: the bytes are
    // copied into blocks, the last one filled with zeros.
    std::vector<unsigned char> blocks;
    try {
        blocks.resize((size + kFitsBlock - 1) / kFitsBlock * kFitsBlock, 0);
    } catch (const std::bad_alloc&) {
        *noMemory = true;
        return "";
    }
    std::memcpy(blocks.data(), bytes, size);
    void* memory = blocks.data();
    size_t memorySize = blocks.size();
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_memfile(&file, path.c_str(), READONLY, &memory, &memorySize, 0, nullptr, &status))
        return "The FITS file " + path + " cannot be opened:\n" + CfitsioText(status);
    return ReadImage(file, path, scan, elements, out, noMemory);
}

// Reads the file at `path`: its header by our own code first, then its
// image. 16-bit images (every file this system and the earlier edition
// write) are read straight into the sample buffer and decoded here; other
// images go through CFITSIO. "" on success, otherwise the popup text;
// `noMemory` for the one failure only printed on the console.
std::string ReadFits(const std::string& path, FitsContents* out, bool* noMemory) {
    *noMemory = false;
    const std::string host = os::HostPath(path);
    if (host.empty()) return "The path " + path + " cannot be reached.";
    std::error_code ec;
    const auto fileSize = std::filesystem::file_size(host, ec);
    std::ifstream in(host, std::ios::binary);
    if (ec || !in)
        return "The FITS file " + path + " cannot be opened:\n" +
               (ec ? ec.message() : std::string("it cannot be read"));
    std::vector<unsigned char> head(std::min<uintmax_t>(fileSize, kMaxHeaderBlocks * kFitsBlock));
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
    if (!in) return "The FITS file " + path + " cannot be opened:\nits header cannot be read.";
    const HeaderScan scan = ScanHeader(head.data(), head.size());
    long long elements = 0;
    std::string failure = CheckHeader(scan, path, static_cast<long long>(fileSize), &out->header,
                                      &elements, noMemory);
    if (!failure.empty() || *noMemory) return failure;
    out->header.EXPTIME = static_cast<float>(scan.exptime);
    out->cards = HeaderCards(head.data(), scan);
    if (scan.bitpix == 16) {
        if (!out->data.Allocate(size_t(elements))) {
            *noMemory = true;
            return "";
        }
        in.seekg(std::streamoff(scan.headerBytes));
        in.read(reinterpret_cast<char*>(out->data.get()), std::streamsize(elements * 2));
        if (!in) return "The image data of " + path + " cannot be read.";
        FromBigEndian(out->data.get(), elements);
        WordsToSamples(out->data.get(), elements, scan);
        return "";
    }
    // CFITSIO's disk driver reads whole blocks: a file not padded to them
    // is read from memory.
    if (fileSize % kFitsBlock != 0) {
        std::vector<unsigned char> bytes(fileSize);
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!in) return "The FITS file " + path + " cannot be opened:\nit cannot be read.";
        return ReadImageFromMemory(path, bytes.data(), bytes.size(), scan, elements, out, noMemory);
    }
    fitsfile* file = nullptr;
    int status = 0;
    if (fits_open_diskfile(&file, host.c_str(), READONLY, &status))
        return "The FITS file " + path + " cannot be opened:\n" + CfitsioText(status);
    return ReadImage(file, path, scan, elements, out, noMemory);
}

// ---- BMP ---------------------------------------------------------------------------------

uint32_t U16(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | (b[at + 1] << 8);
}
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
    // The header is checked by our own code: a file that cannot be shown
    // never reaches CFITSIO.
    const auto* data = static_cast<const unsigned char*>(bytes);
    const HeaderScan scan = ScanHeader(data, size);
    FitsContents contents;
    long long elements = 0;
    bool noMemory = false;
    const std::string failure = CheckHeader(scan, name, static_cast<long long>(size),
                                            &contents.header, &elements, &noMemory);
    if (noMemory) return "Cannot allocate pFitsData Memory";
    if (!failure.empty()) return failure;
    if (scan.bitpix == 16) {
        if (!contents.data.Allocate(size_t(elements))) return "Cannot allocate pFitsData Memory";
        std::memcpy(contents.data.get(), data + scan.headerBytes, size_t(elements) * 2);
        FromBigEndian(contents.data.get(), elements);
        WordsToSamples(contents.data.get(), elements, scan);
        return "";
    }
    const std::string readFailure =
        ReadImageFromMemory(name, data, size, scan, elements, &contents, &noMemory);
    return noMemory ? "Cannot allocate pFitsData Memory" : readFailure;
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
        return Format(
            "The BMP header's image size (%u bytes) is smaller than %d x %lld pixels "
            "need (%zu bytes).",
            imageSize, width, (long long)height, pixelBytes);
    const uint32_t offset = U32(file, 10);
    if (offset >= size) return "The BMP pixel data offset lies beyond the end of the file.";
    if (size - offset < pixelBytes)
        return Format(
            "The BMP file ends before its last row (%d x %lld pixels need %zu bytes, "
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
    if (!data || width <= 0 || height <= 0) return 0;
    const size_t stride = BmpRowStride(width);
    const size_t pixelBytes = stride * size_t(height);
    if (pixelBytes > UINT32_MAX - kBmpPixelOffset) return 0;
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
    if (!written) ShowWarning(Warning::Save, "\nThe bitmap " + path + " could not be written\n");
    return written ? 1 : 0;
}

}  // namespace pelu
