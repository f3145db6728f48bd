#include "platform/motion6k/binding.h"

#include "platform/devices/bound_library.h"
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

devices::BoundLibrary<Table> g_library(devices::Device::Motors);

const Table* Current() {
    return g_library.Current();
}

}  // namespace

bool BindLibrary(std::string* message) {
    return g_library.Bind(
        [](Table* table) {
            using devices::Bind;
            return std::vector<devices::Entry>{
                Bind("OLE_Initialize_6KE", &table->oleInitialize),
                Bind("Open_6KE", &table->open),
                Bind("Initialize_6KE", &table->initialize),
                Bind("Write_6KE", &table->write),
                Bind("Read_HS", &table->read),
                Bind("Close_6KE", &table->close),
            };
        },
        message);
}

void ReleaseLibrary() {
    g_library.Release();
}

bool LibraryBound() { return Current() != nullptr; }

std::string LibraryLine() {
    return g_library.Line();
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
