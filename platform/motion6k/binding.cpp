#include "platform/motion6k/binding.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/devices/device_library.h"
#include "platform/motion6k/motion6k.h"

namespace motion6k {
namespace {

struct Table {
    int16_t (*oleInitialize)(void) = nullptr;
    int16_t (*open)(const char*) = nullptr;
    int16_t (*initialize)(void) = nullptr;
    int16_t (*write)(const char*) = nullptr;
    int16_t (*read)(char*, int) = nullptr;
    int16_t (*close)(void) = nullptr;
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
        Bind("OLE_Initialize_6KE", &table->oleInitialize),
        Bind("Open_6KE", &table->open),
        Bind("Initialize_6KE", &table->initialize),
        Bind("Write_6KE", &table->write),
        Bind("Read_HS", &table->read),
        Bind("Close_6KE", &table->close),
    };
    if (!devices::LoadLibrary(devices::Device::Motors, entries, &g_library, message)) return false;
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
    return g_library.handle != nullptr ? devices::LibraryLine(devices::Device::Motors, g_library)
                                       : devices::ChoiceLine(devices::Device::Motors);
}

}  // namespace motion6k

using motion6k::Current;

extern "C" {

int16_t OLE_Initialize_6KE(void) {
    const auto* t = Current();
    return t ? t->oleInitialize() : 0;
}

int16_t Open_6KE(const char* address) {
    const auto* t = Current();
    return t ? t->open(address) : 0;
}

int16_t Initialize_6KE(void) {
    const auto* t = Current();
    return t ? t->initialize() : 0;
}

int16_t Write_6KE(const char* command) {
    const auto* t = Current();
    return t ? t->write(command) : 0;
}

int16_t Read_HS(char* reply, int replySize) {
    const auto* t = Current();
    if (t) return t->read(reply, replySize);
    if (reply != nullptr && replySize > 0) reply[0] = '\0';
    return 0;
}

int16_t Close_6KE(void) {
    const auto* t = Current();
    return t ? t->close() : 0;
}

}  // extern "C"
