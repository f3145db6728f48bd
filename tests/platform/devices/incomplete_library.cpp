// A device library that lacks most of its functions: it opens the
// controller and reports its version, nothing else.
#include <cstdint>

extern "C" {
__attribute__((visibility("default"))) int OpenPmacDevice(uint32_t) { return 1; }
__attribute__((visibility("default"))) const char* PeluDeviceLibraryVersion() { return "0.1"; }
}
