#include "motors/wv_file_format.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/ui.h"

namespace pelu::wvfile {
namespace {

// The integer after a key, as "%d" would read it but refusing text that is
// not a number or does not fit an int.
void ReadSlotValue(const char* text, int* value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return;
    *value = static_cast<int>(v);
}

}  // namespace

File OpenHost(const std::string& logicalPath, const char* mode) {
    const std::string host = os::HostPath(logicalPath);
    if (host.empty()) return nullptr;
    return File(std::fopen(host.c_str(), mode));
}

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
uint32_t FloatBits(float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    return bits;
}
float BitsFloat(uint32_t bits) {
    float f = 0;
    std::memcpy(&f, &bits, 4);
    return f;
}

void ReadHeaderSlots(std::FILE* file, int headerBytes, std::initializer_list<HeaderKey> keys) {
    std::vector<char> header(static_cast<size_t>(std::max(headerBytes, 0)), '\0');
    // A short header is parsed as far as it goes; the rest reads as zeros.
    const size_t got = std::fread(header.data(), 1, header.size(), file);
    (void)got;
    const int slots = std::min(kSlots, headerBytes / kSlotBytes);
    for (int slot = 0; slot < slots; ++slot) {
        char text[kSlotBytes + 1] = {};
        std::memcpy(text, header.data() + size_t(kSlotBytes) * slot, kSlotBytes);
        for (const HeaderKey& key : keys) {
            const size_t length = std::strlen(key.key);
            if (std::strncmp(text, key.key, length) == 0) ReadSlotValue(text + length, key.value);
        }
    }
}

int ReadRecords(std::FILE* file, int claimed, int capacity, int recordBytes,
                const std::function<void(int index, const uint8_t* record)>& decode) {
    int wanted = claimed;
    if (claimed > capacity) {
        ui::MessagePopup("Error", "Wv.ini lists " + std::to_string(claimed) +
                                      " wavelengths; only the first " + std::to_string(capacity) +
                                      " are read.");
        wanted = capacity;
    } else if (claimed < 0) {
        ui::MessagePopup("Error", "Wv.ini lists " + std::to_string(claimed) +
                                      " wavelengths; no entry is read.");
        wanted = 0;
    }
    std::vector<uint8_t> record(static_cast<size_t>(std::max(recordBytes, 1)));
    int read = 0;
    while (read < wanted && std::fread(record.data(), 1, record.size(), file) == record.size())
        decode(read++, record.data());
    if (read < wanted)
        ui::MessagePopup("Error", "Wv.ini ends after " + std::to_string(read) + " of its " +
                                      std::to_string(wanted) +
                                      " wavelengths; the table keeps those that are there.");
    return read;
}

bool WriteWholeFile(const std::string& path, const std::string& header, int count,
                    int recordBytes,
                    const std::function<void(int index, uint8_t* record)>& encode) {
    File file = OpenHost(path, "wb");
    if (!file) return false;
    bool written = std::fwrite(header.data(), 1, header.size(), file.get()) == header.size();
    std::vector<uint8_t> record(static_cast<size_t>(std::max(recordBytes, 1)));
    for (int i = 0; written && i < count; ++i) {
        std::fill(record.begin(), record.end(), 0);
        encode(i, record.data());
        written = std::fwrite(record.data(), 1, record.size(), file.get()) == record.size();
    }
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace pelu::wvfile
