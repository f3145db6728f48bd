// Any bytes as a FITS file opened in PELU_dbg's stored-file viewer, read
// from memory through CFITSIO as the viewer reads a file from disk.
#include <cstddef>
#include <cstdint>

#include "display/file_viewer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pelu::CheckFitsBytes("fuzz.fts", data, size);
    return 0;
}
