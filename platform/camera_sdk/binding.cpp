#include "platform/camera_sdk/binding.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/camera_functions.h"
#include "platform/devices/device_library.h"

namespace camera_sdk {
namespace {

struct Table {
#define PELU_TABLE_ENTRY(name, parameters, arguments) unsigned int(*name) parameters = nullptr;
    PELU_CAMERA_FUNCTIONS(PELU_TABLE_ENTRY)
#undef PELU_TABLE_ENTRY
};

// A bound table is never changed or freed: a call on another thread keeps
// the table it started with, and the library stays in the process.
std::mutex g_bindMutex;
std::vector<std::unique_ptr<Table>> g_tables;
std::atomic<const Table*> g_table{nullptr};
devices::LoadedLibrary g_library;

const Table* Current() { return g_table.load(std::memory_order_acquire); }

}  // namespace

bool BindLibrary(std::string* message) {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    g_table.store(nullptr, std::memory_order_release);
    auto table = std::make_unique<Table>();
    using devices::Bind;
    const std::vector<devices::Entry> entries = {
#define PELU_BIND_ENTRY(name, parameters, arguments) Bind(#name, &table->name),
        PELU_CAMERA_FUNCTIONS(PELU_BIND_ENTRY)
#undef PELU_BIND_ENTRY
    };
    if (!devices::LoadLibrary(devices::Device::Camera, entries, &g_library, message)) return false;
    g_tables.push_back(std::move(table));
    g_table.store(g_tables.back().get(), std::memory_order_release);
    return true;
}

void ReleaseLibrary() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    g_table.store(nullptr, std::memory_order_release);
    devices::ReleaseLibrary(&g_library);
}

bool LibraryBound() { return Current() != nullptr; }

std::string LibraryLine() {
    std::lock_guard<std::mutex> lock(g_bindMutex);
    return g_library.handle != nullptr ? devices::LibraryLine(devices::Device::Camera, g_library)
                                       : devices::ChoiceLine(devices::Device::Camera);
}

}  // namespace camera_sdk

extern "C" {

#define PELU_FORWARD(name, parameters, arguments)                   \
    unsigned int name parameters {                                  \
        const auto* t = camera_sdk::Current();                      \
        return t != nullptr ? t->name arguments : DRV_NOT_INITIALIZED; \
    }
PELU_CAMERA_FUNCTIONS(PELU_FORWARD)
#undef PELU_FORWARD

}  // extern "C"
