#include "platform/camera_sdk/binding.h"

#include "platform/camera_sdk/atmcd.h"
#include "platform/camera_sdk/camera_functions.h"
#include "platform/devices/bound_library.h"

namespace camera_sdk {
namespace {

struct Table {
#define PELU_TABLE_ENTRY(name, parameters, arguments) unsigned int(*name) parameters = nullptr;
    PELU_CAMERA_FUNCTIONS(PELU_TABLE_ENTRY)
#undef PELU_TABLE_ENTRY
};

devices::BoundLibrary<Table> g_library(devices::Device::Camera);

const Table* Current() {
    return g_library.Current();
}

}  // namespace

bool BindLibrary(std::string* message) {
    return g_library.Bind(
        [](Table* table) {
            using devices::Bind;
            return std::vector<devices::Entry>{
#define PELU_BIND_ENTRY(name, parameters, arguments) Bind(#name, &table->name),
                PELU_CAMERA_FUNCTIONS(PELU_BIND_ENTRY)
#undef PELU_BIND_ENTRY
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
