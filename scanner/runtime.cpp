#include "scanner/runtime.h"

#include <dlfcn.h>

#include <cstdlib>

#include "platform/os/os.h"
#include "platform/ui/ui.h"

namespace pelu {
namespace {

template <typename Fn>
bool Resolve(const char* name, Fn* pointer) {
    *pointer = reinterpret_cast<Fn>(dlsym(h_PmacLib, name));
    return *pointer != nullptr;
}

void NullEntryPoints() {
    DeviceOpen = nullptr;
    DeviceClose = nullptr;
    DeviceGetRomVersion = nullptr;
    DeviceGetRomDate = nullptr;
    DeviceGetResponse = nullptr;
    DeviceDownload = nullptr;
    DeviceSetQuickGather = nullptr;
    DeviceCollectGatherData = nullptr;
    DeviceGetGatherSamples = nullptr;
    DeviceGetIVariableLong = nullptr;
}

}  // namespace

std::string PmacLibraryPath() {
    if (const char* path = std::getenv(kPmacLibraryVariable); path != nullptr && *path != '\0')
        return path;
    return os::ExecutableDirectory() + "/libpelu_pmac.so";
}

bool RunLink() {
    FreeLink();
    // The controller keeps its state (homed stage, downloaded program) while
    // the programs release and load the library again, as the hardware does.
    h_PmacLib = dlopen(PmacLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    const bool bound =
        h_PmacLib != nullptr && Resolve("OpenPmacDevice", &DeviceOpen) &&
        Resolve("ClosePmacDevice", &DeviceClose) &&
        Resolve("PmacGetRomVersionA", &DeviceGetRomVersion) &&
        Resolve("PmacGetRomDateA", &DeviceGetRomDate) &&
        Resolve("PmacGetResponseA", &DeviceGetResponse) &&
        Resolve("PmacDownloadA", &DeviceDownload) &&
        Resolve("PmacSetQuickGather", &DeviceSetQuickGather) &&
        Resolve("PmacCollectGatherData", &DeviceCollectGatherData) &&
        Resolve("PmacGetGatherSamples", &DeviceGetGatherSamples) &&
        Resolve("PmacGetIVariableLong", &DeviceGetIVariableLong);
    if (!bound) {
        FreeLink();
        ui::MessagePopup("PMAC", "Error in loading PMAC library.");
        return false;
    }
    // A simulated controller runs its stage on the instrument's clock; a
    // vendor library has no such entry point.
    using TimeScaleFn = void (*)(double);
    if (auto timeScale = reinterpret_cast<TimeScaleFn>(dlsym(h_PmacLib, "PmacSimulatorTimeScale")))
        timeScale(os::TimeScale());
    os::Delay(1.0);
    return true;
}

void FreeLink() {
    NullEntryPoints();
    if (h_PmacLib != nullptr) dlclose(h_PmacLib);
    h_PmacLib = nullptr;
}

}  // namespace pelu
