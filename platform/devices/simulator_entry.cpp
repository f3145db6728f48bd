#include <dlfcn.h>

#include <string>

#include "platform/devices/bound_library.h"
#include "platform/os/os.h"

namespace devices {
namespace {

// The entry point `entryName` of the library at `path`; `mayLoad` false only
// looks into a library that is loaded already.
void* EntryIn(const std::string& path, bool mayLoad, const char* entryName) {
    const int flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE | (mayLoad ? 0 : RTLD_NOLOAD);
    void* library = dlopen(path.c_str(), flags);
    if (library == nullptr) return nullptr;
    void* entry = dlsym(library, entryName);
    dlclose(library);  // it stays in the process (RTLD_NODELETE)
    return entry;
}

}  // namespace

void* SimulatorControlEntry(Device device, const char* entryName) {
    const LibraryChoice choice = ChooseLibrary(device);
    if (!choice.path.empty()) {
        const bool simulator = choice.source == Source::Simulator;
        if (void* entry = EntryIn(choice.path, simulator, entryName)) return entry;
    }
    return EntryIn(os::ExecutableDirectory() + "/" + Describe(device).simulatorFile, true,
                   entryName);
}

}  // namespace devices
