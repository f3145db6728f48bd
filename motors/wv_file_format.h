// What both layouts of Wv.ini are made of (PELU_dbg's and Lintab's, and the
// one-camera program's): little-endian fields, a header of 100-byte text
// slots "KEY = value", a run of fixed-size records, and the checks that keep
// a damaged file from filling more of the table than it has room for or
// than the file holds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace pelu::wvfile {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens the host file behind a logical path; null when it cannot.
File OpenHost(const std::string& logicalPath, const char* mode);

void PutU32(uint8_t* p, uint32_t v);
uint32_t GetU32(const uint8_t* p);
void PutU64(uint8_t* p, uint64_t v);
uint64_t GetU64(const uint8_t* p);
uint32_t FloatBits(float f);
float BitsFloat(uint32_t bits);

constexpr int kSlotBytes = 100;  // one text slot of the header
constexpr int kSlots = 10;

// A header key ("NUMBER OF WV    =") and the value it sets.
struct HeaderKey {
    const char* key;
    int* value;
};

// Reads the header's slots from a file opened at its start: a slot that
// begins with a key sets its value to the integer after it, as "%d" reads
// it; a key that is absent or has no number leaves its value unchanged, and
// a short header reads as zeros.
void ReadHeaderSlots(std::FILE* file, int headerBytes, std::initializer_list<HeaderKey> keys);

// Reads the records after the header: `claimed` as the header says, at most
// `capacity`; `decode` stores record i. A count out of range or a file that
// ends early gets a popup titled "Error" saying what was read. Returns the
// number of records read.
int ReadRecords(std::FILE* file, int claimed, int capacity, int recordBytes,
                const std::function<void(int index, const uint8_t* record)>& decode);

// Writes `header` and `count` records made by `encode` to `path`, replacing
// it. False when the file cannot be created or a write fails.
bool WriteWholeFile(const std::string& path, const std::string& header, int count,
                    int recordBytes,
                    const std::function<void(int index, uint8_t* record)>& encode);

}  // namespace pelu::wvfile
