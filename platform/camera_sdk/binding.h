// The camera SDK as the programs bind it: the calls of atmcd.h are defined
// here and forward to the library loaded at run time (see
// platform/devices/device_library.h). While no library is bound every call
// returns DRV_NOT_INITIALIZED, so a refused library leaves the cameras off
// instead of calling into nothing.
#pragma once

#include <string>

namespace camera_sdk {

// Loads the site's or the simulated camera library and binds every call of
// atmcd.h; a library lacking one of them is refused whole. False: nothing is
// bound and *message says which file, what is wrong and what to do.
bool BindLibrary(std::string* message);
void ReleaseLibrary();
bool LibraryBound();
// "Camera library: <file> (...)": the bound library, or the one BindLibrary
// would load.
std::string LibraryLine();

}  // namespace camera_sdk
