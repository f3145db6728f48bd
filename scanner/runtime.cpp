#include "scanner/runtime.h"

#include <dlfcn.h>

#include "platform/devices/device_library.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "state/status.h"

namespace pelu {
namespace {

devices::LoadedLibrary g_library;

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

std::string PmacLibraryPath() { return devices::ChooseLibrary(devices::Device::Scanner).path; }

std::string PmacLibraryLine() {
    return g_library.handle != nullptr ? devices::LibraryLine(devices::Device::Scanner, g_library)
                                       : devices::ChoiceLine(devices::Device::Scanner);
}

bool RunLink() {
    FreeLink();
    using devices::Bind;
    const std::vector<devices::Entry> entries = {
        Bind("OpenPmacDevice", &DeviceOpen),
        Bind("ClosePmacDevice", &DeviceClose),
        Bind("PmacGetRomVersionA", &DeviceGetRomVersion),
        Bind("PmacGetRomDateA", &DeviceGetRomDate),
        Bind("PmacGetResponseA", &DeviceGetResponse),
        Bind("PmacDownloadA", &DeviceDownload),
        Bind("PmacSetQuickGather", &DeviceSetQuickGather),
        Bind("PmacCollectGatherData", &DeviceCollectGatherData),
        Bind("PmacGetGatherSamples", &DeviceGetGatherSamples),
        Bind("PmacGetIVariableLong", &DeviceGetIVariableLong),
    };
    std::string message;
    if (!devices::LoadLibrary(devices::Device::Scanner, entries, &g_library, &message)) {
        ShowStatus("\n" + message + "\n");
        ui::MessagePopup("PMAC", "Error in loading PMAC library.");
        return false;
    }
    h_PmacLib = g_library.handle;
    ShowStatus("\n" + devices::LibraryLine(devices::Device::Scanner, g_library) + "\n");
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
    devices::ReleaseLibrary(&g_library);
    h_PmacLib = nullptr;
}

}  // namespace pelu
