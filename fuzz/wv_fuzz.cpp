// Any bytes as Wv.ini in either layout: PELU_dbg's (50 records) and the
// one-camera program's (10 records), read from memory through the same
// code that reads the file. The tables must never be overrun and their
// counts must stay within them.
#include <stdio.h>

#include <cstddef>
#include <cstdint>

#include "earlier/wv_earlier.h"
#include "motors/wv_file.h"

namespace {

template <class Read>
void ReadFromMemory(const uint8_t* data, size_t size, Read read) {
    // fmemopen cannot open an empty buffer: one byte stands for "no file content".
    static const uint8_t empty = 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(size ? data : &empty), size ? size : 1, "rb");
    if (!file) return;
    read(file);
    fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelu::ResetWavelengthTable();
    ReadFromMemory(data, size, [](FILE* f) { pelu::ReadWvTable(f); });
    if (pelu::wvTable.nWV_FileIO < 0 || pelu::wvTable.nWV_FileIO > pelu::kMaxWvRecords)
        __builtin_trap();
    pelu::earlier::ResetWvTable();
    ReadFromMemory(data, size, [](FILE* f) { pelu::earlier::ReadWvTable(f); });
    if (pelu::earlier::wvTable.nWV_FileIO < 0 ||
        pelu::earlier::wvTable.nWV_FileIO > pelu::earlier::kMaxWvEntries)
        __builtin_trap();
    return 0;
}
