// What the benchmarks share: the simulated devices bound before any switch-on,
// as the programs bind them at their switch-ons, and the working folder and
// processors of the benchmarks that drive the whole run-time.
#pragma once

#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/camera_sdk/binding.h"
#include "platform/motion6k/binding.h"
#include "platform/os/os.h"

inline void BindSimulatedDevices() {
    std::string refusal;
    if (!camera_sdk::BindLibrary(&refusal) || !motion6k::BindLibrary(&refusal)) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        std::exit(1);
    }
}

// Two cores, as the observing workstation has.
inline void PinToTwoCores() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(0, &cpus);
    CPU_SET(1, &cpus);
    sched_setaffinity(0, sizeof cpus, &cpus);
}

// A fresh working folder named after `name` and this process, holding the
// site's scan templates (`siteDir`), made the current folder with drive E:
// below it. Returns the folder; the caller removes it at the end.
inline std::filesystem::path EnterBenchFolder(const std::string& name, const std::string& siteDir) {
    namespace fs = std::filesystem;
    const fs::path work = fs::temp_directory_path() / (name + "-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    for (const char* file : {"pelu.head", "pelu.tail"})
        fs::copy_file(fs::path(siteDir) / file, work / file, fs::copy_options::overwrite_existing);
    fs::current_path(work);
    os::SetDriveFolder('E', (work / "E").string());
    return work;
}
