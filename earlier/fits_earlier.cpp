#include "earlier/fits_earlier.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/ui/ui.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu::earlier {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Puts one card at `offset`: its text left-justified, blank-padded to 80 columns.
void PutCard(char* block, int offset, const std::string& text) {
    std::memcpy(block + offset, text.data(), std::min<size_t>(text.size(), kFitsCard));
}

// Fixed-format values: numbers and logicals end in column 30, strings open
// with a quote in column 11 and are at least eight characters long.
std::string NumberCard(const char* key, const std::string& value) {
    return Format("%-8.8s= %20s", key, value.c_str());
}
std::string StringCard(const char* key, const std::string& value) {
    return Format("%-8.8s= '%-8s'", key, value.c_str());
}

uint16_t PhysicalSample(int16_t stored, double bzero, double bscale) {
    const double v = bzero + static_cast<double>(stored) * bscale;
    if (!(v > 0.0)) return 0;  // also NaN
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v);
}

bool KeyIs(const char* card, const char* key9) { return std::strncmp(card, key9, 9) == 0; }

}  // namespace

std::string FitsFileName(const os::UtcTime& t, int cameraHandle) {
    const char* suffix = "";
    if (cameraHandle == state.nCameraHandle1)
        suffix = "_QEL";
    else if (cameraHandle == state.nCameraHandle2)
        suffix = "_VOR";
    return Format("PELU_%.4d%.2d%.2d_%.2d%.2d%.2d%s.fts", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, suffix);
}

std::array<char, kFitsBlock> FitsHeaderBlock(int width, int height, int frames,
                                             float exposureSeconds, int cameraHandle,
                                             const os::UtcTime& t) {
    std::array<char, kFitsBlock> block;
    block.fill(' ');
    char* b = block.data();
    PutCard(b, 0, NumberCard("SIMPLE", "T"));
    PutCard(b, 80, NumberCard("BITPIX", "16"));
    PutCard(b, 160, NumberCard("NAXIS", frames == 1 ? "2" : "3"));
    PutCard(b, 240, NumberCard("NAXIS1", std::to_string(width)));
    PutCard(b, 320, NumberCard("NAXIS2", std::to_string(height)));
    // A single frame is an image: an NAXIS3 card beyond NAXIS is not FITS,
    // and our reader takes one frame without it. The card stays blank.
    if (frames != 1) PutCard(b, 400, NumberCard("NAXIS3", std::to_string(frames)));
    PutCard(b, 480, StringCard("DATE", Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", t.year, t.month,
                                              t.day, t.hour, t.minute, t.second)));
    PutCard(b, 560, NumberCard("BZERO", "32768.0"));
    PutCard(b, 640, NumberCard("BSCALE", "1.0"));
    PutCard(b, 720, NumberCard("EXPTIME", Format("%.3f", static_cast<double>(exposureSeconds))));
    PutCard(b, 800, StringCard("TELE", "KORVAN"));
    PutCard(b, 880, StringCard("INST", "PELU Spectrograph"));
    PutCard(b, 960, NumberCard("CAMERANO", std::to_string(cameraHandle)));
    PutCard(b, 1040, "END");
    return block;
}

bool WriteFitsFile(const std::string& logicalPath, int width, int height, int frames,
                   const uint16_t* samples, float exposureSeconds, int cameraHandle,
                   const os::UtcTime& time) {
    if (width <= 0 || height <= 0 || frames <= 0 || samples == nullptr) return false;
    const std::string host = os::HostPath(logicalPath);
    if (host.empty()) return false;
    const size_t count = size_t(width) * size_t(height) * size_t(frames);
    const size_t dataBytes = 2 * count;
    const size_t padded = (dataBytes + kFitsBlock - 1) / kFitsBlock * kFitsBlock;

    // Stored value s - 32768, high byte first; the padding is zeros.
    std::vector<unsigned char> data(padded, 0);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t stored = static_cast<uint16_t>(samples[i] ^ 0x8000u);
        data[2 * i] = static_cast<unsigned char>(stored >> 8);
        data[2 * i + 1] = static_cast<unsigned char>(stored & 0xFF);
    }
    const auto header = FitsHeaderBlock(width, height, frames, exposureSeconds, cameraHandle, time);

    File file(std::fopen(host.c_str(), "wb"));
    if (!file) return false;
    bool ok = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size() &&
              std::fwrite(data.data(), 1, data.size(), file.get()) == data.size();
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok) std::remove(host.c_str());  // no half file left to be mistaken for data
    return ok;
}

int SaveFits(int width, int height, int frames, const uint16_t* samples, float exposureSeconds,
             int cameraHandle) {
    const os::UtcTime now = os::UtcNow();
    WriteFitsFile(FitsFileName(now, cameraHandle), width, height, frames, samples,
                  exposureSeconds, cameraHandle, now);
    return 1;
}

void ByteChange(void* buffer, size_t lengthInBytes) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i + 1 < lengthInBytes; i += 2) std::swap(bytes[i], bytes[i + 1]);
}

FitsKeys ParseFitsHeader(const char* block) {
    FitsKeys keys;
    for (int card = 0; card < kFitsBlock / kFitsCard; ++card) {
        char text[kFitsCard + 1] = {};
        std::memcpy(text, block + card * kFitsCard, kFitsCard);
        if (std::strncmp(text, "END     ", 8) == 0) break;
        const char* value = text + 9;
        if (KeyIs(text, "BITPIX  ="))
            std::sscanf(value, "%d", &keys.BITPIX);
        else if (KeyIs(text, "NAXIS   ="))
            std::sscanf(value, "%d", &keys.NAXIS);
        else if (KeyIs(text, "NAXIS1  ="))
            std::sscanf(value, "%d", &keys.NAXIS1);
        else if (KeyIs(text, "NAXIS2  ="))
            std::sscanf(value, "%d", &keys.NAXIS2);
        else if (KeyIs(text, "NAXIS3  ="))
            std::sscanf(value, "%d", &keys.NAXIS3);
        else if (KeyIs(text, "BZERO   ="))
            std::sscanf(value, "%lf", &keys.BZERO);
        else if (KeyIs(text, "BSCALE  ="))
            std::sscanf(value, "%lf", &keys.BSCALE);
    }
    return keys;
}

std::optional<FitsImage> ReadFits(const std::string& logicalPath) {
    const std::string host = os::HostPath(logicalPath);
    File file(host.empty() ? nullptr : std::fopen(host.c_str(), "rb"));
    if (!file) {
        ui::MessagePopup("Error", "No File Exists");
        return std::nullopt;
    }
    const std::string name = std::filesystem::path(host).filename().string();
    auto refuse = [&](const std::string& reason) {
        ui::MessagePopup("Error", "Cannot show " + name + ": " + reason);
        return std::nullopt;
    };
    std::error_code ec;
    const uintmax_t fileSize = std::filesystem::file_size(host, ec);
    char block[kFitsBlock];
    if (ec || fileSize < kFitsBlock || std::fread(block, 1, kFitsBlock, file.get()) != kFitsBlock)
        return refuse("the file is shorter than one FITS header block (2880 bytes).");

    FitsImage image;
    image.keys = ParseFitsHeader(block);
    const FitsKeys& k = image.keys;
    if (k.BITPIX != 16)
        return refuse(Format("BITPIX = %d is not supported; only 16-bit files can be shown.",
                             k.BITPIX));
    if (k.NAXIS != 2 && k.NAXIS != 3)
        return refuse(Format("NAXIS = %d; only images (2) and cubes (3) can be shown.", k.NAXIS));
    image.frames = k.NAXIS == 3 ? k.NAXIS3 : 1;
    // Each axis below 2^20 keeps the product far inside 64 bits.
    constexpr int kAxisLimit = 1 << 20;
    if (k.NAXIS1 < 1 || k.NAXIS2 < 1 || image.frames < 1 || k.NAXIS1 > kAxisLimit ||
        k.NAXIS2 > kAxisLimit || image.frames > kAxisLimit)
        return refuse(Format("the axes %d x %d x %d are not a valid image size.", k.NAXIS1,
                             k.NAXIS2, image.frames));
    const uint64_t count = uint64_t(k.NAXIS1) * uint64_t(k.NAXIS2) * uint64_t(image.frames);
    if (2 * count > fileSize - kFitsBlock)
        return refuse(Format("the header claims %llu bytes of data but the file holds %llu.",
                             static_cast<unsigned long long>(2 * count),
                             static_cast<unsigned long long>(fileSize - kFitsBlock)));

    std::vector<unsigned char> raw;
    try {
        raw.resize(2 * count);
        image.samples.resize(count);
    } catch (const std::bad_alloc&) {
        return refuse("not enough memory for its data.");
    }
    if (std::fread(raw.data(), 1, raw.size(), file.get()) != raw.size())
        return refuse("its data could not be read.");
    // Stored big-endian: bring every word into host order, then to physical values.
    ByteChange(raw.data(), raw.size());
    for (size_t i = 0; i < count; ++i) {
        int16_t stored = 0;
        std::memcpy(&stored, raw.data() + 2 * i, 2);
        image.samples[i] = PhysicalSample(stored, k.BZERO, k.BSCALE);
    }
    return image;
}

}  // namespace pelu::earlier
