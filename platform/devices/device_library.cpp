#include "platform/devices/device_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/os/os.h"

namespace devices {
namespace {

constexpr DeviceDescription kCamera{"Camera", "camera", "PELU_CAMERA_LIBRARY",
                                    "libpelu_camsim.so", "the cameras stay off"};
constexpr DeviceDescription kScanner{"Scanner", "scanner", "PELU_PMAC_LIBRARY",
                                     "libpelu_pmac.so", "the scanner stays off"};
constexpr DeviceDescription kMotors{"Motor", "motors", "PELU_6K_LIBRARY", "libpelu_6k.so",
                                    "the motors stay off"};

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string InWorkingDirectory(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return os::WorkingDirectory() + "/" + path;
}

bool KnownKey(const std::string& key) {
    for (const DeviceDescription* known : {&kCamera, &kScanner, &kMotors})
        if (key == known->iniKey) return true;
    return false;
}

// The device's line of devices.ini: true when the file names a library for
// it, or when the file is faulty (choice->problem). A fault anywhere in the
// file counts for every device: a site file that says something else than
// its author meant must not quietly leave one device on the simulator.
bool SiteFileEntry(const DeviceDescription& device, LibraryChoice* choice) {
    std::ifstream file(os::WorkingDirectory() + "/" + kSiteFileName);
    if (!file) return false;
    std::string line, path, problem;
    int found = 0;
    for (int number = 1; std::getline(file, line) && problem.empty(); ++number) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const std::string where = std::string(kSiteFileName) + " line " + std::to_string(number);
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            problem = where + " is not \"device = path\": \"" + line + "\"";
            break;
        }
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const std::string value = Trim(line.substr(equals + 1));
        if (!KnownKey(key))
            problem = where + " names no known device: \"" + key + "\" (camera, scanner, motors)";
        else if (value.empty())
            problem = where + " names no file for the " + key;
        else if (key == device.iniKey && ++found > 1)
            problem = where + " names the " + key + " a second time";
        else if (key == device.iniKey)
            path = value;
    }
    if (!problem.empty()) {
        choice->source = Source::SiteFile;
        choice->problem = problem;
        return true;
    }
    if (found == 0) return false;
    choice->source = Source::SiteFile;
    choice->path = InWorkingDirectory(path);
    return true;
}

const char* SourceText(Source source) {
    switch (source) {
        case Source::Variable: return "set by the environment";
        case Source::SiteFile: return "site library from devices.ini";
        case Source::Simulator: return "simulator";
    }
    return "";
}

std::string WhereFrom(const DeviceDescription& device, const LibraryChoice& choice) {
    switch (choice.source) {
        case Source::Variable: return std::string("named by ") + device.variable;
        case Source::SiteFile:
            return std::string("named by the ") + device.iniKey + " line of " + kSiteFileName +
                   " in " + os::WorkingDirectory();
        case Source::Simulator: return "the simulator beside the programs";
    }
    return "";
}

std::string WhatToDo(const DeviceDescription& device, const LibraryChoice& choice) {
    switch (choice.source) {
        case Source::Variable:
            return std::string("Correct or unset ") + device.variable;
        case Source::SiteFile:
            return std::string("Correct the ") + device.iniKey + " line of " + kSiteFileName +
                   ", or remove it to use the simulator";
        case Source::Simulator: return "Reinstall the programs with their device libraries";
    }
    return "";
}

}  // namespace

const DeviceDescription& Describe(Device device) {
    switch (device) {
        case Device::Camera: return kCamera;
        case Device::Scanner: return kScanner;
        case Device::Motors: return kMotors;
    }
    return kCamera;
}

LibraryChoice ChooseLibrary(Device device) {
    const DeviceDescription& description = Describe(device);
    LibraryChoice choice;
    if (const char* path = std::getenv(description.variable); path != nullptr && *path != '\0') {
        choice.path = path;
        choice.source = Source::Variable;
        return choice;
    }
    if (SiteFileEntry(description, &choice)) return choice;
    choice.path = os::ExecutableDirectory() + "/" + description.simulatorFile;
    choice.source = Source::Simulator;
    return choice;
}

bool LoadLibrary(Device device, const std::vector<Entry>& entries, LoadedLibrary* library,
                 std::string* message) {
    const DeviceDescription& description = Describe(device);
    ReleaseLibrary(library);
    library->choice = ChooseLibrary(device);
    const LibraryChoice& choice = library->choice;
    const std::string name = std::string(description.title) + " library ";
    const std::string consequence = "; " + std::string(description.offText) + ".";
    if (!choice.problem.empty()) {
        *message = choice.problem + ".\n" + WhatToDo(description, choice) + consequence;
        return false;
    }
    struct stat info {};
    if (stat(choice.path.c_str(), &info) != 0) {
        *message = name + choice.path + " does not exist (" + WhereFrom(description, choice) +
                   ").\n" + WhatToDo(description, choice) + consequence;
        return false;
    }
    // The controller and the cameras keep their state while the programs
    // release and load the library again, as the hardware does.
    void* handle = dlopen(choice.path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
        const char* reason = dlerror();
        *message = name + choice.path + " cannot be loaded: " +
                   (reason != nullptr ? reason : "unknown reason") + ".\n" +
                   "Install a library built for this computer. " +
                   WhatToDo(description, choice) + consequence;
        return false;
    }
    std::vector<void*> addresses;
    addresses.reserve(entries.size());
    for (const Entry& entry : entries) {
        void* address = dlsym(handle, entry.name);
        if (address == nullptr) {
            dlclose(handle);
            *message = name + choice.path + " lacks the function " + entry.name +
                       ".\nUse a library that provides every " + description.iniKey +
                       " function listed in docs/devices.md" + consequence;
            return false;
        }
        addresses.push_back(address);
    }
    for (size_t i = 0; i < entries.size(); ++i) entries[i].store(addresses[i]);
    using VersionFn = const char* (*)();
    if (auto version = reinterpret_cast<VersionFn>(dlsym(handle, kVersionEntry))) {
        const char* text = version();
        if (text != nullptr) library->version.assign(text, strnlen(text, 64));
    }
    library->handle = handle;
    return true;
}

void ReleaseLibrary(LoadedLibrary* library) {
    if (library->handle != nullptr) dlclose(library->handle);
    library->handle = nullptr;
    library->version.clear();
}

std::string LibraryLine(Device device, const LoadedLibrary& library) {
    std::string line = std::string(Describe(device).title) + " library: " + library.choice.path +
                       " (" + SourceText(library.choice.source);
    if (!library.version.empty()) line += ", version " + library.version;
    return line + ")";
}

std::string ChoiceLine(Device device) {
    const LibraryChoice choice = ChooseLibrary(device);
    if (!choice.problem.empty())
        return std::string(Describe(device).title) + " library: " + choice.problem;
    return std::string(Describe(device).title) + " library: " + choice.path + " (" +
           SourceText(choice.source) + ", not loaded)";
}

}  // namespace devices
