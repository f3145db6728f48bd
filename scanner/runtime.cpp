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
    scanner.DeviceOpen = nullptr;
    scanner.DeviceClose = nullptr;
    scanner.DeviceGetRomVersion = nullptr;
    scanner.DeviceGetRomDate = nullptr;
    scanner.DeviceGetResponse = nullptr;
    scanner.DeviceDownload = nullptr;
    scanner.DeviceSetQuickGather = nullptr;
    scanner.DeviceCollectGatherData = nullptr;
    scanner.DeviceGetGatherSamples = nullptr;
    scanner.DeviceGetIVariableLong = nullptr;
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
        Bind("OpenPmacDevice", &scanner.DeviceOpen),
        Bind("ClosePmacDevice", &scanner.DeviceClose),
        Bind("PmacGetRomVersionA", &scanner.DeviceGetRomVersion),
        Bind("PmacGetRomDateA", &scanner.DeviceGetRomDate),
        Bind("PmacGetResponseA", &scanner.DeviceGetResponse),
        Bind("PmacDownloadA", &scanner.DeviceDownload),
        Bind("PmacSetQuickGather", &scanner.DeviceSetQuickGather),
        Bind("PmacCollectGatherData", &scanner.DeviceCollectGatherData),
        Bind("PmacGetGatherSamples", &scanner.DeviceGetGatherSamples),
        Bind("PmacGetIVariableLong", &scanner.DeviceGetIVariableLong),
    };
    std::string message;
    if (!devices::LoadLibrary(devices::Device::Scanner, entries, &g_library, &message)) {
        ShowStatus("\n" + message + "\n");
        ui::MessagePopup("PMAC", "Error in loading PMAC library.");
        return false;
    }
    scanner.h_PmacLib = g_library.handle;
    ShowStatus("\n" + devices::LibraryLine(devices::Device::Scanner, g_library) + "\n");
    // A simulated controller runs its stage on the instrument's clock; a
    // vendor library has no such entry point.
    using TimeScaleFn = void (*)(double);
    if (auto timeScale =
            reinterpret_cast<TimeScaleFn>(dlsym(scanner.h_PmacLib, "PmacSimulatorTimeScale")))
        timeScale(os::TimeScale());
    os::Delay(1.0);
    return true;
}

void FreeLink() {
    NullEntryPoints();
    devices::ReleaseLibrary(&g_library);
    scanner.h_PmacLib = nullptr;
}

}  // namespace pelu
