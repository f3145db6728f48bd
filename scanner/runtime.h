// Binding of the scanner controller library, which is loaded at run time:
// the file that PELU_PMAC_LIBRARY or the scanner line of devices.ini names,
// else the simulator libpelu_pmac.so from the programs' own folder (see
// platform/devices/device_library.h). Every entry point is resolved by name.
#pragma once

#include <cstdint>
#include <string>

namespace pelu {

using PmacOpenFn = int (*)(uint32_t device);
using PmacCloseFn = int (*)(uint32_t device);
using PmacTextFn = int (*)(uint32_t device, char* text, int size);
using PmacResponseFn = int (*)(uint32_t device, char* reply, uint32_t maxChars,
                               const char* command);
using PmacDownloadFn = int (*)(uint32_t device, void*, void*, void*, const char* path, int macro,
                               int map, int log, int download);
using PmacSetQuickGatherFn = int (*)(uint32_t device, uint32_t mask, int enable);
using PmacCollectGatherFn = int (*)(uint32_t device, int32_t* sources, int32_t* samples);
using PmacGatherSamplesFn = int (*)(uint32_t device, int source, int32_t* count, double* values,
                                    int32_t capacity);
using PmacIVariableFn = int32_t (*)(uint32_t device, int number, int32_t defaultValue);

// The library handle and its entry points; all null while it is not loaded.
// Written only by RunLink and FreeLink on the user-interface thread, while no
// other thread is inside the library (see scanner.h).
inline void* h_PmacLib = nullptr;
inline PmacOpenFn DeviceOpen = nullptr;
inline PmacCloseFn DeviceClose = nullptr;
inline PmacTextFn DeviceGetRomVersion = nullptr;
inline PmacTextFn DeviceGetRomDate = nullptr;
inline PmacResponseFn DeviceGetResponse = nullptr;
inline PmacDownloadFn DeviceDownload = nullptr;
inline PmacSetQuickGatherFn DeviceSetQuickGather = nullptr;
inline PmacCollectGatherFn DeviceCollectGatherData = nullptr;
inline PmacGatherSamplesFn DeviceGetGatherSamples = nullptr;
inline PmacIVariableFn DeviceGetIVariableLong = nullptr;

// Environment variable that names the library file instead of the default.
inline constexpr const char* kPmacLibraryVariable = "PELU_PMAC_LIBRARY";
// The library file RunLink loads.
std::string PmacLibraryPath();
// "Scanner library: <file> (...)": the loaded library, or the one RunLink
// would load.
std::string PmacLibraryLine();

// Loads the library and resolves every entry point, then gives the
// controller a second to settle; the status box names the library. On
// failure writes the reason (file, missing function, what to do) to the
// status box, shows "Error in loading PMAC library.", releases the library,
// leaves every pointer null and returns false.
bool RunLink();
// Releases the library and nulls every pointer.
void FreeLink();

}  // namespace pelu
