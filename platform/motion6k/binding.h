// The motion controller library as the programs bind it: the calls of
// motion6k.h are defined here and forward to the library loaded at run time
// (see platform/devices/device_library.h). While no library is bound every
// call returns 0 and Read_HS gives an empty reply, so a refused library
// leaves the motors off instead of calling into nothing.
#pragma once

#include <string>

namespace motion6k {

// Loads the site's or the simulated controller library and binds every call
// of motion6k.h; a library lacking one of them is refused whole. False:
// nothing is bound and *message says which file, what is wrong and what to do.
bool BindLibrary(std::string* message);
void ReleaseLibrary();
bool LibraryBound();
// "Motor library: <file> (...)": the bound library, or the one BindLibrary
// would load.
std::string LibraryLine();

}  // namespace motion6k
