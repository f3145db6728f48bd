#include "apps/simulated_instrument/simulated_instrument.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/camera_sdk/simulator.h"
#include "platform/devices/device_library.h"
#include "platform/motion6k/simulator.h"
#include "platform/sim_instrument/scene_light.h"
#include "scanner/runtime.h"

namespace pelu {
namespace {

// The stage position in display units (counts / 10), asked of the scanner
// controller's simulator while its library is loaded; 0 before that.
double StagePosition() {
    void* library = dlopen(PmacLibraryPath().c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return 0.0;
    double position = 0.0;
    using Command = int (*)(const char*, char*, int);
    if (auto command = reinterpret_cast<Command>(dlsym(library, "PmacSimulatorCommand"))) {
        char reply[64] = {};
        if (command("stage", reply, sizeof reply)) position = std::atof(reply) / 10.0;
    }
    dlclose(library);
    return position;
}

double GratingStep() { return motion6k::Axis(1).encoder; }

}  // namespace

void InstallSolarScene() {
    const char* scene = std::getenv("PELU_SIM_SCENE");
    if (scene && std::strcmp(scene, "spectrum") == 0) return;
    // A site's own cameras see the real Sun; the scene belongs to the
    // simulator beside the programs.
    if (devices::ChooseLibrary(devices::Device::Camera).source != devices::Source::Simulator)
        return;
    camsim::Config config = camsim::ConfigFromEnvironment();
    config.light = std::make_shared<simsun::SolarSpectrumLight>(
        simsun::InstrumentProbes{StagePosition, GratingStep});
    camsim::Reset(config);
}

}  // namespace pelu
