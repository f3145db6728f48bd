// Any text as a resource (.uir) file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ui/resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ui::detail::ResourceFile file;
    std::string error;
    if (!ui::detail::ParseResourceText(std::string(reinterpret_cast<const char*>(data), size),
                                       "fuzz.uir", &file, &error) &&
        error.empty())
        __builtin_trap();
    return 0;
}
