// Any bytes as a BMP picture for the viewer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "display/file_viewer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<unsigned char> file(data, data + size);
    pelu::BmpImage image;
    const std::string failure = pelu::DecodeBitmap(file, &image);
    if (failure.empty() &&
        image.pixels.size() != size_t(image.width) * size_t(image.height))
        __builtin_trap();
    return 0;
}
