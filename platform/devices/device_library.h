// Which shared library serves each device, and its binding.
//
// The file of a device's library is, first found:
//   1. the environment variable of the device (PELU_CAMERA_LIBRARY,
//      PELU_PMAC_LIBRARY, PELU_6K_LIBRARY), used by tests;
//   2. the device's line of "devices.ini" in the working directory, e.g.
//        camera = /opt/site/lib/libsite_camera.so
//        scanner = libsite_pmac.so        (relative: to the working directory)
//        motors = /opt/site/lib/libsite_6k.so
//      ('#' or ';' start a comment line; a device without a line keeps its
//      simulator; a line that is not "key = path" with a known key, or a
//      device named twice, makes the file unusable for every device);
//   3. the simulator beside the programs.
// A library is bound whole or not at all: every function the program calls
// must be present, or nothing of it is used and the device stays off.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace devices {

enum class Device { Camera, Scanner, Motors };

struct DeviceDescription {
    const char* title;          // "Camera", as messages name the device
    const char* iniKey;         // its key in devices.ini
    const char* variable;       // environment variable that overrides devices.ini
    const char* simulatorFile;  // the simulator's file name beside the programs
    const char* offText;        // what the refusal leaves: "the cameras stay off"
};
const DeviceDescription& Describe(Device device);

inline constexpr const char* kSiteFileName = "devices.ini";

enum class Source { Variable, SiteFile, Simulator };

struct LibraryChoice {
    std::string path;
    Source source = Source::Simulator;
    // Set when devices.ini could not be read for this device (a line that
    // is not "key = path"); the choice is then unusable.
    std::string problem;
};
// Where the device's library comes from now (reads the variable and
// devices.ini at every call, so a site can edit the file between switch-ons).
LibraryChoice ChooseLibrary(Device device);

// One function the program binds: its exported name and where its address goes.
struct Entry {
    const char* name;
    std::function<void(void*)> store;
};
template <typename Fn>
Entry Bind(const char* name, Fn* slot) {
    return {name, [slot](void* address) { *slot = reinterpret_cast<Fn>(address); }};
}

// Optional entry point of every device library: a version text such as
// "1.0", or null. Libraries without it are shown without a version.
inline constexpr const char* kVersionEntry = "PeluDeviceLibraryVersion";

struct LoadedLibrary {
    void* handle = nullptr;  // null: not loaded
    LibraryChoice choice;
    std::string version;     // empty when the library reports none
};

// Loads the chosen library and resolves every entry. True: every entry has
// been stored and *library holds the handle. False: no entry has been
// stored, nothing stays loaded, and *message names the file, the missing
// function or the reason, and what to do.
bool LoadLibrary(Device device, const std::vector<Entry>& entries, LoadedLibrary* library,
                 std::string* message);
// Releases a loaded library (its state is kept: libraries are loaded so that
// they stay in the process, as the hardware keeps its state between links).
void ReleaseLibrary(LoadedLibrary* library);

// "Camera library: /path/libpelu_camsim.so (simulator, version 1.0)".
std::string LibraryLine(Device device, const LoadedLibrary& library);
// The same for a library that is not loaded now: where it would come from.
std::string ChoiceLine(Device device);

}  // namespace devices
