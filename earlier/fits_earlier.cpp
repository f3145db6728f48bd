#include "earlier/fits_earlier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

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

uint16_t PhysicalSample(int16_t stored, double bzero, double bscale) {
    const double v = bzero + static_cast<double>(stored) * bscale;
    if (!(v > 0.0)) return 0;  // also NaN
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(v);
}

// The card's first 8 columns as one word: a key is told by one comparison,
// not a string comparison per card and key.
uint64_t KeyWord(const char* card) {
    uint64_t word;
    std::memcpy(&word, card, sizeof word);
    return word;
}

// "NAXIS1  =": the key's 8 columns and the "=" in column 9.
bool KeyIs(const char* card, const char* key9) {
    return card[8] == key9[8] && KeyWord(card) == KeyWord(key9);
}

// The integer a card value begins with (blanks before it skipped), as "%d"
// reads it. A value without digits leaves the default; one beyond int reads
// as 0, which no key takes, so the file is refused rather than misread.
void ReadInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text) return;
    *value = errno != ERANGE && v >= INT_MIN && v <= INT_MAX ? static_cast<int>(v) : 0;
}

// The floating-point value a card value begins with, as "%lf" reads it.
void ReadDouble(const char* text, double* value) {
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end != text) *value = v;
}

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
    PutCard(b, 0, "SIMPLE  = T");
    PutCard(b, 80, "BITPIX  = 16");
    PutCard(b, 160, frames == 1 ? "NAXIS   = 2" : "NAXIS   = 3");
    PutCard(b, 240, Format("NAXIS1  = %d", width));
    PutCard(b, 320, Format("NAXIS2  = %d", height));
    PutCard(b, 400, Format("NAXIS3  = %d", frames));  // also for a single frame
    PutCard(b, 480, Format("DATE    = %.2d/%.2d/%.2d", t.month, t.day, t.year));
    PutCard(b, 560, "BZERO   = 32768.0");
    PutCard(b, 640, "BSCALE  = 1.0");
    PutCard(b, 720, Format("EXPTIME = %.3f", static_cast<double>(exposureSeconds)));
    PutCard(b, 800, "TELE    = KORVAN");
    PutCard(b, 880, "INST    = PELU Spectrograph");
    PutCard(b, 960, Format("CAMERANO= %d", cameraHandle));
    PutCard(b, 1040, "END");
    return block;
}

namespace {

// Writes all of `size` bytes to `fd`; false with errno set when it cannot.
bool WriteAll(int fd, const void* bytes, size_t size) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

enum class Written { kDone, kNameTaken, kFailed };

// Flushes the folder holding `host` to the disk, so that a new name in it is
// there too.
bool SyncFolderOf(const std::string& host) {
    const std::string folder = std::filesystem::path(host).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Reserves `host` by creating it exclusively (an existing file is never
// opened), writes header and data under a temporary name beside it, flushes
// them to the disk and only then gives them the reserved name: a file of
// that name is always complete. A failure removes both. `error` receives the
// reason of a failure.
Written WriteNewFile(const std::string& host, const std::array<char, kFitsBlock>& header,
                     const std::vector<unsigned char>& data, std::string* error) {
    const int reserved = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (reserved < 0) {
        if (errno == EEXIST) return Written::kNameTaken;
        *error = std::strerror(errno);
        return Written::kFailed;
    }
    ::close(reserved);
    const std::filesystem::path path(host);
    const std::string part =
        (path.parent_path() / ("." + path.filename().string() + ".part")).string();
    const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && WriteAll(fd, header.data(), header.size()) &&
              WriteAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    int savedErrno = ok ? 0 : errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(part.c_str(), host.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (ok) {
        SyncFolderOf(host);
        return Written::kDone;
    }
    *error = std::strerror(savedErrno);
    // No half file left to be mistaken for data.
    ::unlink(part.c_str());
    ::unlink(host.c_str());
    return Written::kFailed;
}

// "name.fts" -> "name_n.fts"; n = 0 is the name itself.
std::string NumberedName(const std::string& logicalPath, int n) {
    if (n == 0) return logicalPath;
    const size_t dot = logicalPath.rfind(".fts");
    const std::string stem = dot == std::string::npos ? logicalPath : logicalPath.substr(0, dot);
    return stem + Format("_%d", n) + ".fts";
}

constexpr int kMaxNameSuffix = 999;

}  // namespace

bool WriteFitsFile(const std::string& logicalPath, int width, int height, int frames,
                   const uint16_t* samples, float exposureSeconds, int cameraHandle,
                   const os::UtcTime& time, std::string* writtenPath) {
    auto fail = [&](const std::string& path, const std::string& reason) {
        ShowWarning(Warning::Save,
                    Format("\nFITS file %s not written: %s\n", path.c_str(), reason.c_str()));
        return false;
    };
    if (width <= 0 || height <= 0 || frames <= 0 || samples == nullptr)
        return fail(logicalPath, Format("image size %d x %d x %d", width, height, frames));
    const size_t count = size_t(width) * size_t(height) * size_t(frames);

    // Stored value s - 32768, high byte first, directly after the header.
    std::vector<unsigned char> data;
    try {
        data.resize(2 * count);
    } catch (const std::bad_alloc&) {
        return fail(logicalPath, "not enough memory to convert the samples");
    }
    for (size_t i = 0; i < count; ++i) {
        const uint16_t stored = static_cast<uint16_t>(samples[i] ^ 0x8000u);
        data[2 * i] = static_cast<unsigned char>(stored >> 8);
        data[2 * i + 1] = static_cast<unsigned char>(stored & 0xFF);
    }
    const auto header = FitsHeaderBlock(width, height, frames, exposureSeconds, cameraHandle, time);

    // A name already taken (an earlier take of the same second, or another
    // program creating it right now) moves on to the next suffix: a file is
    // never replaced.
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        const std::string path = NumberedName(logicalPath, n);
        const std::string host = os::HostPath(path);
        if (host.empty()) return fail(path, "the place is outside the data disk");
        std::string error;
        switch (WriteNewFile(host, header, data, &error)) {
            case Written::kDone:
                if (n > 0)
                    ShowStatus(Format("\n%s exists already: this series is written as %s\n",
                                      logicalPath.c_str(), path.c_str()));
                if (writtenPath) *writtenPath = path;
                return true;
            case Written::kNameTaken: continue;
            case Written::kFailed: return fail(path, error);
        }
    }
    return fail(logicalPath, "every name of that second is taken");
}

int SaveFits(int width, int height, int frames, const uint16_t* samples, float exposureSeconds,
             int cameraHandle, std::string* writtenPath) {
    const os::UtcTime now = os::UtcNow();
    const std::string name = FitsFileName(now, cameraHandle);
    std::string path = name;
    // A failed save offers another folder, as often as the observer likes;
    // the samples stay with the caller until one has succeeded.
    while (!WriteFitsFile(path, width, height, frames, samples, exposureSeconds, cameraHandle, now,
                          writtenPath)) {
        std::string folder;
        if (ui::DirSelectPopup("",
                               Format("%s was not saved: choose another folder for it "
                                      "(Cancel keeps the frames in memory only)",
                                      path.c_str()),
                               &folder) != 1) {
            ShowStatus("\n" + name + " is in memory only.\n");
            return 0;
        }
        path = folder + "\\" + name;
        ShowStatus("\nSaving " + name + " into " + folder + "\n");
    }
    return 1;
}

void ByteChange(void* buffer, size_t lengthInBytes) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i + 1 < lengthInBytes; i += 2) std::swap(bytes[i], bytes[i + 1]);
}

FitsKeys ParseFitsHeader(const char* block) {
    FitsKeys keys;
    for (int card = 0; card < kFitsBlock / kFitsCard; ++card) {
        const char* text = block + card * kFitsCard;
        if (KeyWord(text) == KeyWord("END     ")) {
            keys.hasEnd = true;
            break;
        }
        // Every key read here has "=" in column 9: other cards are passed
        // over without a closer look.
        if (text[8] != '=' || (text[0] != 'B' && text[0] != 'N')) continue;
        int* integer = nullptr;
        double* number = nullptr;
        if (KeyIs(text, "BITPIX  ="))
            integer = &keys.BITPIX;
        else if (KeyIs(text, "NAXIS   ="))
            integer = &keys.NAXIS;
        else if (KeyIs(text, "NAXIS1  ="))
            integer = &keys.NAXIS1;
        else if (KeyIs(text, "NAXIS2  ="))
            integer = &keys.NAXIS2;
        else if (KeyIs(text, "NAXIS3  ="))
            integer = &keys.NAXIS3;
        else if (KeyIs(text, "BZERO   ="))
            number = &keys.BZERO;
        else if (KeyIs(text, "BSCALE  ="))
            number = &keys.BSCALE;
        if (!integer && !number) continue;
        // The value, from column 10 to the end of the card, as a C string.
        char value[kFitsCard - 9 + 1] = {};
        std::memcpy(value, text + 9, kFitsCard - 9);
        if (integer) ReadInt(value, integer);
        if (number) ReadDouble(value, number);
    }
    return keys;
}

std::string CheckFitsHeader(const char* block, uint64_t fileSize, FitsImage* image) {
    if (fileSize < uint64_t(kFitsBlock))
        return "the file is shorter than one FITS header block (2880 bytes).";
    image->keys = ParseFitsHeader(block);
    const FitsKeys& k = image->keys;
    if (!k.hasEnd) return "the header block has no END card.";
    if (k.BITPIX != 16)
        return Format("BITPIX = %d is not supported; only 16-bit files can be shown.", k.BITPIX);
    if (k.NAXIS != 2 && k.NAXIS != 3)
        return Format("NAXIS = %d; only images (2) and cubes (3) can be shown.", k.NAXIS);
    image->frames = k.NAXIS == 3 ? k.NAXIS3 : 1;
    if (k.NAXIS1 < 1 || k.NAXIS2 < 1 || image->frames < 1)
        return Format("the axes %d x %d x %d are not a valid image size.", k.NAXIS1, k.NAXIS2,
                      image->frames);
    // Multiplied one axis at a time so that no product can overflow.
    uint64_t bytes = 2;
    bool tooMuch = false;
    for (int axis : {k.NAXIS1, k.NAXIS2, image->frames}) {
        if (uint64_t(axis) > kMaxFitsDataBytes / bytes) {
            tooMuch = true;
            break;
        }
        bytes *= uint64_t(axis);
    }
    if (tooMuch)
        return Format("the axes %d x %d x %d are more data than this program can hold.", k.NAXIS1,
                      k.NAXIS2, image->frames);
    if (bytes > fileSize - kFitsBlock)
        return Format("the header claims %llu bytes of data but the file holds %llu.",
                      static_cast<unsigned long long>(bytes),
                      static_cast<unsigned long long>(fileSize - kFitsBlock));
    return "";
}

namespace {

// Converts the big-endian stored words at `raw` into image->samples.
std::string ConvertSamples(const unsigned char* raw, FitsImage* image) {
    const FitsKeys& k = image->keys;
    const size_t count = size_t(k.NAXIS1) * size_t(k.NAXIS2) * size_t(image->frames);
    try {
        image->samples.resize(count);
    } catch (const std::bad_alloc&) {
        return "not enough memory for its data.";
    }
    uint16_t* samples = image->samples.data();
    // This program's own files (BZERO 32768, BSCALE 1) need no arithmetic:
    // the stored word with its top bit flipped is the sample.
    if (k.BZERO == 32768.0 && k.BSCALE == 1.0) {
        for (size_t i = 0; i < count; ++i)
            samples[i] = static_cast<uint16_t>((raw[2 * i] << 8 | raw[2 * i + 1]) ^ 0x8000);
        return "";
    }
    for (size_t i = 0; i < count; ++i) {
        const auto stored = static_cast<int16_t>(uint16_t(raw[2 * i] << 8 | raw[2 * i + 1]));
        samples[i] = PhysicalSample(stored, k.BZERO, k.BSCALE);
    }
    return "";
}

}  // namespace

std::optional<FitsImage> DecodeFits(const unsigned char* bytes, size_t size, std::string* reason) {
    FitsImage image;
    std::string failure;
    if (size < size_t(kFitsBlock))
        failure = "the file is shorter than one FITS header block (2880 bytes).";
    else
        failure = CheckFitsHeader(reinterpret_cast<const char*>(bytes), size, &image);
    if (failure.empty()) failure = ConvertSamples(bytes + kFitsBlock, &image);
    if (!failure.empty()) {
        if (reason) *reason = failure;
        return std::nullopt;
    }
    return image;
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

    // Nothing is allocated before the header is known to fit the file.
    FitsImage image;
    if (std::string failure = CheckFitsHeader(block, fileSize, &image); !failure.empty())
        return refuse(failure);
    const size_t dataBytes =
        2 * size_t(image.keys.NAXIS1) * size_t(image.keys.NAXIS2) * size_t(image.frames);
    std::vector<unsigned char> raw;
    try {
        raw.resize(dataBytes);
    } catch (const std::bad_alloc&) {
        return refuse("not enough memory for its data.");
    }
    if (std::fread(raw.data(), 1, raw.size(), file.get()) != raw.size())
        return refuse("its data could not be read.");
    if (std::string failure = ConvertSamples(raw.data(), &image); !failure.empty())
        return refuse(failure);
    return image;
}

}  // namespace pelu::earlier
