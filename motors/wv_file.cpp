#include "motors/wv_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/os/os.h"
#include "platform/ui/ui.h"

namespace pelu {
namespace {

const char kCountKey[] = "NUMBER OF WV    =";
const char kSelectKey[] = "CURRENT_SELECT  =";
constexpr size_t kKeyLength = 17;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenHost(const std::string& logicalPath, const char* mode) {
    const std::string host = os::HostPath(logicalPath);
    if (host.empty()) return nullptr;
    return File(std::fopen(host.c_str(), mode));
}

// Little-endian fields, whatever the host's byte order.
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t(p[i]) << (8 * i);
    return v;
}

void EncodeRecord(const WvRecord& r, uint8_t* out) {
    uint32_t wavelengthBits = 0;
    uint64_t angleBits = 0;
    std::memcpy(&wavelengthBits, &r.wavelength, 4);
    std::memcpy(&angleBits, &r.angle, 8);
    PutU32(out, wavelengthBits);
    PutU32(out + 4, static_cast<uint32_t>(r.order));
    PutU32(out + 8, static_cast<uint32_t>(r.step));
    std::memcpy(out + 12, r.reserved.data(), 4);
    PutU64(out + 16, angleBits);
}

WvRecord DecodeRecord(const uint8_t* in) {
    WvRecord r;
    const uint32_t wavelengthBits = GetU32(in);
    const uint64_t angleBits = GetU64(in + 16);
    std::memcpy(&r.wavelength, &wavelengthBits, 4);
    r.order = static_cast<int32_t>(GetU32(in + 4));
    r.step = static_cast<int32_t>(GetU32(in + 8));
    std::memcpy(r.reserved.data(), in + 12, 4);
    std::memcpy(&r.angle, &angleBits, 8);
    return r;
}

// The integer after a key, as "%d" would read it but refusing text that is
// not a number or does not fit an int.
bool ReadSlotValue(const char* text, int* value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

void ResetWavelengthTable() { wvTable = WavelengthTable{}; }

int ReadHeader(std::FILE* file) {
    char header[kWvHeaderSize] = {};
    // A short header is parsed as far as it goes; the rest reads as zeros.
    const size_t got = std::fread(header, 1, sizeof header, file);
    (void)got;
    for (int slot = 0; slot < 10; ++slot) {
        char text[kWvSlotSize + 1] = {};
        std::memcpy(text, header + kWvSlotSize * slot, kWvSlotSize);
        if (std::strncmp(text, kCountKey, kKeyLength) == 0)
            ReadSlotValue(text + kKeyLength, &wvTable.nWV_FileIO);
        else if (std::strncmp(text, kSelectKey, kKeyLength) == 0)
            ReadSlotValue(text + kKeyLength, &wvTable.CurrentSelectWV_FileIO);
    }
    return 1;
}

int OpenFileF(const std::string& path) {
    File file = OpenHost(path, "rb");
    if (!file) {
        ui::MessagePopup("Error", "Cannot open file Wv.ini");
        return 0;
    }
    ReadHeader(file.get());

    const int claimed = wvTable.nWV_FileIO;
    int wanted = claimed;
    if (claimed > kMaxWvRecords) {
        ui::MessagePopup("Error", "Wv.ini lists " + std::to_string(claimed) +
                                      " wavelengths; only the first " +
                                      std::to_string(kMaxWvRecords) + " are read.");
        wanted = kMaxWvRecords;
    } else if (claimed < 0) {
        ui::MessagePopup("Error", "Wv.ini lists " + std::to_string(claimed) +
                                      " wavelengths; no entry is read.");
        wanted = 0;
    }
    int read = 0;
    uint8_t record[kWvRecordSize];
    while (read < wanted && std::fread(record, 1, sizeof record, file.get()) == sizeof record)
        wvTable.Data[read++] = DecodeRecord(record);
    if (read < wanted)
        ui::MessagePopup("Error", "Wv.ini ends after " + std::to_string(read) + " of its " +
                                      std::to_string(wanted) +
                                      " wavelengths; the table keeps those that are there.");
    wvTable.nWV_FileIO = read;
    return 1;
}

int WriteHeader(std::FILE* file) {
    char header[kWvHeaderSize] = {};
    std::snprintf(header, kWvSlotSize, "NUMBER OF WV    = %d", wvTable.nWV_FileIO);
    std::snprintf(header + kWvSlotSize, kWvSlotSize, "CURRENT_SELECT  = %d",
                  wvTable.CurrentSelectWV_FileIO);
    return std::fwrite(header, 1, sizeof header, file) == sizeof header ? 1 : 0;
}

int WriteFileF(const WvWriteFailure& failure, const std::string& path) {
    File file = OpenHost(path, "wb");
    bool written = file != nullptr;
    if (written) {
        // The count is never allowed past the table, whatever an editor left in it.
        const int count = std::clamp(wvTable.nWV_FileIO, 0, kMaxWvRecords);
        wvTable.nWV_FileIO = count;
        written = WriteHeader(file.get()) == 1;
        uint8_t record[kWvRecordSize];
        for (int i = 0; written && i < count; ++i) {
            EncodeRecord(wvTable.Data[i], record);
            written = std::fwrite(record, 1, sizeof record, file.get()) == sizeof record;
        }
        written = std::fclose(file.release()) == 0 && written;
    }
    if (!written) {
        ui::MessagePopup(failure.title, failure.text);
        return 0;
    }
    return 1;
}

std::string WvListingText() {
    const int count = std::clamp(wvTable.nWV_FileIO, 0, kMaxWvRecords);
    char line[128];
    std::string text;
    std::snprintf(line, sizeof line, "NUMBER OF WV    = %d\r\n", wvTable.nWV_FileIO);
    text += line;
    std::snprintf(line, sizeof line, "CURRENT_SELECT  = %d\r\n", wvTable.CurrentSelectWV_FileIO);
    text += line;
    text += "STARTING POS    = 0\r\n";
    text += std::string(21, ' ') + "\r\n";
    text += "No  Wave     Pos   Angle\r\n";
    for (int i = 0; i < count; ++i) {
        const WvRecord& r = wvTable.Data[i];
        std::snprintf(line, sizeof line, "%2d  %.2f  %d  %.2f\r\n", i + 1,
                      static_cast<double>(r.wavelength), r.step, r.angle);
        text += line;
    }
    return text;
}

std::string WvListingPath(const std::string& wvPath) {
    const size_t separator = wvPath.find_last_of("\\/");
    return (separator == std::string::npos ? std::string() : wvPath.substr(0, separator + 1)) +
           kWvListingName;
}

int WriteWvListing(const std::string& wvPath) {
    File file = OpenHost(WvListingPath(wvPath), "wb");
    if (!file) return 0;
    const std::string text = WvListingText();
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written ? 1 : 0;
}

}  // namespace pelu
