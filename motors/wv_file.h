// The wavelength position file Wv.ini: the table of observing wavelengths
// and the grating motor positions that select them. PELU_dbg reads it to
// place the grating and saves it with the confirmed selection; Lintab edits
// it. Both link this reader and writer.
//
// Layout (little-endian): a 2000-byte header of ten 100-byte text slots,
// slot 0 "NUMBER OF WV    = %d", slot 1 "CURRENT_SELECT  = %d", every other
// byte zero; then NUMBER OF WV records of 24 bytes: float32 wavelength
// (angstrom), int32 grating order, int32 motor step, 4 reserved bytes kept
// as they are, float64 grating angle (degrees). In spite of the name the
// file is binary.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pelu {

constexpr int kMaxWvRecords = 50;
constexpr int kWvHeaderSize = 2000;
constexpr int kWvSlotSize = 100;
constexpr int kWvRecordSize = 24;
inline const char* const kWvFileName = "Wv.ini";
// The human-readable listing PELU_dbg keeps beside Wv.ini when it saves.
inline const char* const kWvListingName = "Wv_list.txt";

struct WvRecord {
    float wavelength = 0;  // angstrom
    int32_t order = 0;
    int32_t step = 0;  // grating motor position, steps
    std::array<uint8_t, 4> reserved{};
    double angle = 0;  // degrees
};

// The table in memory, the same in both programs.
struct WavelengthTable {
    std::array<WvRecord, kMaxWvRecords> Data{};
    int nWV_FileIO = 0;              // number of valid records
    int CurrentSelectWV_FileIO = 0;  // 0-based selected entry
};
inline WavelengthTable wvTable;

// Back to an empty table (tests).
void ResetWavelengthTable();

// Reads the file at `path` (a logical path, see os::HostPath) into wvTable.
// 1 on success; 0 with the popup "Error" / "Cannot open file Wv.ini" when it
// cannot be opened, the table unchanged. A count above 50 reads 50 records;
// a file that ends early keeps the records it holds; either way a popup
// says so and nWV_FileIO never exceeds the records actually read.
int OpenFileF(const std::string& path = kWvFileName);
// Parses the header of a file opened for reading at its start. A key that
// is absent or not followed by a number leaves its value unchanged.
int ReadHeader(std::FILE* file);
// Reads header and records of an open file into the table, as OpenFileF does.
int ReadWvTable(std::FILE* file);

// What a failed write says: each program has its own popup.
struct WvWriteFailure {
    const char* title;
    const char* text;
};
inline constexpr WvWriteFailure kLintabWriteFailure{"Error", "Cannot open file Wv.ini"};
inline constexpr WvWriteFailure kAcquisitionWriteFailure{"info", "Fail to write file\n"};

// Writes wvTable to `path`, replacing it. 1 on success; 0 with the
// program's popup when the file cannot be created or written.
int WriteFileF(const WvWriteFailure& failure, const std::string& path = kWvFileName);
// Writes the 2000-byte header. 1 on success, 0 when the write fails.
int WriteHeader(std::FILE* file);

// The listing of the table as text, lines ending "\r\n".
std::string WvListingText();
// Writes that listing into kWvListingName in the folder of `wvPath`; never
// touches Wv.ini itself. 1 on success, 0 when it cannot be written.
int WriteWvListing(const std::string& wvPath = kWvFileName);
// Where WriteWvListing puts the listing for `wvPath` (logical path).
std::string WvListingPath(const std::string& wvPath);

}  // namespace pelu
