// Binding of the scanner controller library, which is loaded at run time:
// the file that PELU_PMAC_LIBRARY or the scanner line of devices.ini names,
// else the simulator libpelu_pmac.so from the programs' own folder (see
// platform/devices/device_library.h). Every entry point is resolved by name.
#pragma once

#include <string>

#include "scanner/globals.h"

namespace pelu {

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
