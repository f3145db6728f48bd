#include "motors/wv_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "motors/wv_file_format.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"

namespace pelu {
namespace {

using namespace wvfile;

const char kCountKey[] = "NUMBER OF WV    =";
const char kSelectKey[] = "CURRENT_SELECT  =";

void EncodeRecord(const WvRecord& r, uint8_t* out) {
    uint64_t angleBits = 0;
    std::memcpy(&angleBits, &r.angle, 8);
    PutU32(out, FloatBits(r.wavelength));
    PutU32(out + 4, static_cast<uint32_t>(r.order));
    PutU32(out + 8, static_cast<uint32_t>(r.step));
    std::memcpy(out + 12, r.reserved.data(), 4);
    PutU64(out + 16, angleBits);
}

WvRecord DecodeRecord(const uint8_t* in) {
    WvRecord r;
    const uint64_t angleBits = GetU64(in + 16);
    r.wavelength = BitsFloat(GetU32(in));
    r.order = static_cast<int32_t>(GetU32(in + 4));
    r.step = static_cast<int32_t>(GetU32(in + 8));
    std::memcpy(r.reserved.data(), in + 12, 4);
    std::memcpy(&r.angle, &angleBits, 8);
    return r;
}

std::string HeaderBytes() {
    std::string header(kWvHeaderSize, '\0');
    std::snprintf(header.data(), kWvSlotSize, "NUMBER OF WV    = %d", wvTable.nWV_FileIO);
    std::snprintf(header.data() + kWvSlotSize, kWvSlotSize, "CURRENT_SELECT  = %d",
                  wvTable.CurrentSelectWV_FileIO);
    return header;
}

}  // namespace

void ResetWavelengthTable() { wvTable = WavelengthTable{}; }

int ReadHeader(std::FILE* file) {
    ReadHeaderSlots(file, kWvHeaderSize,
                    {{kCountKey, &wvTable.nWV_FileIO}, {kSelectKey, &wvTable.CurrentSelectWV_FileIO}});
    return 1;
}

int OpenFileF(const std::string& path) {
    File file = OpenHost(path, "rb");
    if (!file) {
        ui::MessagePopup("Error", "Cannot open file Wv.ini");
        return 0;
    }
    return ReadWvTable(file.get());
}

int ReadWvTable(std::FILE* file) {
    ReadHeader(file);
    wvTable.nWV_FileIO = ReadRecords(file, wvTable.nWV_FileIO, kMaxWvRecords, kWvRecordSize,
                                     [](int i, const uint8_t* record) {
                                         wvTable.Data[i] = DecodeRecord(record);
                                     });
    return 1;
}

int WriteHeader(std::FILE* file) {
    const std::string header = HeaderBytes();
    return std::fwrite(header.data(), 1, header.size(), file) == header.size() ? 1 : 0;
}

int WriteFileF(const WvWriteFailure& failure, const std::string& path) {
    // The count is never allowed past the table, whatever an editor left in it.
    wvTable.nWV_FileIO = std::clamp(wvTable.nWV_FileIO, 0, kMaxWvRecords);
    const bool written = WriteWholeFile(path, HeaderBytes(), wvTable.nWV_FileIO, kWvRecordSize,
                                        [](int i, uint8_t* record) {
                                            EncodeRecord(wvTable.Data[i], record);
                                        });
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
