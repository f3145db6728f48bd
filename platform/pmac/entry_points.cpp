// The library's exported entry points: each forwards to the one simulated
// controller of the process.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/pmac/controller.h"
#include "platform/pmac/pmac.h"

#define PMAC_EXPORT __attribute__((visibility("default")))

namespace {

double EnvironmentNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    return end != text && *end == '\0' ? v : fallback;
}

pmac::Controller& Sim() {
    static pmac::Controller instance;
    static pmac::Controller* controller = [] {
        pmac::Controller* c = &instance;
        c->SetTimeScale(EnvironmentNumber("PELU_TIME_SCALE", 1.0));
        std::string ignored;
        if (const char* fault = std::getenv("PELU_PMAC_FAULT"); fault != nullptr && *fault)
            c->Configure(std::string("fault ") + fault, &ignored);
        if (std::getenv("PELU_PMAC_REPLY_US") != nullptr)
            c->Configure("reply_us " + std::to_string(static_cast<long>(
                                           EnvironmentNumber("PELU_PMAC_REPLY_US", 50))),
                         &ignored);
        return c;
    }();
    return *controller;
}

// Copies text into a caller's buffer of `size` bytes, always terminated.
void CopyOut(const std::string& text, char* out, size_t size) {
    if (out == nullptr || size == 0) return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

extern "C" {

PMAC_EXPORT int OpenPmacDevice(uint32_t device) { return device == 0 && Sim().Open() ? 1 : 0; }

PMAC_EXPORT int ClosePmacDevice(uint32_t device) { return device == 0 && Sim().Close() ? 1 : 0; }

PMAC_EXPORT int PmacGetRomVersionA(uint32_t device, char* text, int size) {
    if (device != 0 || size <= 0 || !Sim().IsOpen()) return 0;
    CopyOut("1.17C", text, static_cast<size_t>(size));
    return 1;
}

PMAC_EXPORT int PmacGetRomDateA(uint32_t device, char* text, int size) {
    if (device != 0 || size <= 0 || !Sim().IsOpen()) return 0;
    CopyOut("02/14/2003", text, static_cast<size_t>(size));
    return 1;
}

PMAC_EXPORT int PmacGetResponseA(uint32_t device, char* reply, uint32_t maxChars,
                                 const char* command) {
    CopyOut("", reply, maxChars);
    if (device != 0 || command == nullptr) return 0;
    // A command line longer than the controller's line buffer is cut there.
    const std::string line(command, strnlen(command, 255));
    std::string answer;
    const bool answered = Sim().Command(line, &answer);
    // The link's round trip, outside the controller's lock.
    if (const int us = Sim().ReplyMicroseconds(); us > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    if (!answered) return 0;
    CopyOut(answer, reply, maxChars);
    return static_cast<int>(std::min<size_t>(answer.size(), maxChars ? maxChars - 1 : 0));
}

PMAC_EXPORT int PmacDownloadA(uint32_t device, void*, void*, void*, const char* path, int, int,
                              int, int download) {
    if (device != 0 || path == nullptr || download == 0) return 0;
    return Sim().Download(path) ? 1 : 0;
}

PMAC_EXPORT int PmacSetQuickGather(uint32_t device, uint32_t mask, int enable) {
    return device == 0 && Sim().SetQuickGather(mask, enable != 0) ? 1 : 0;
}

PMAC_EXPORT int PmacCollectGatherData(uint32_t device, int32_t* sources, int32_t* samples) {
    if (device != 0 || sources == nullptr || samples == nullptr) return 0;
    return Sim().CollectGather(sources, samples) ? 1 : 0;
}

PMAC_EXPORT int PmacGetGatherSamples(uint32_t device, int source, int32_t* count, double* values,
                                     int32_t capacity) {
    if (device != 0 || count == nullptr || values == nullptr || capacity < 0) return 0;
    std::vector<double> samples;
    if (!Sim().GatherSamples(source, &samples)) return 0;
    const size_t n = std::min(samples.size(), static_cast<size_t>(capacity));
    std::copy_n(samples.begin(), n, values);
    *count = static_cast<int32_t>(n);
    return 1;
}

PMAC_EXPORT int32_t PmacGetIVariableLong(uint32_t device, int number, int32_t defaultValue) {
    int32_t value = defaultValue;
    if (device != 0 || !Sim().IVariable(number, &value)) return defaultValue;
    return value;
}

PMAC_EXPORT const char* PeluDeviceLibraryVersion(void) { return "1.0"; }

PMAC_EXPORT void PmacSimulatorTimeScale(double scale) { Sim().SetTimeScale(scale); }

PMAC_EXPORT int PmacSimulatorCommand(const char* command, char* reply, int size) {
    if (command == nullptr) return 0;
    std::string answer;
    const bool ok = Sim().Configure(std::string(command, strnlen(command, 255)), &answer);
    if (reply != nullptr && size > 0) CopyOut(answer, reply, static_cast<size_t>(size));
    return ok ? 1 : 0;
}

}  // extern "C"
