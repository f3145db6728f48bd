// Any bytes as a file of the one-camera program's FITS layout: decoded in
// memory through the same header checks and conversion as a file on disk.
#include <cstddef>
#include <cstdint>
#include <string>

#include "earlier/fits_earlier.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reason;
    auto image = pelu::earlier::DecodeFits(data, size, &reason);
    if (image) {
        // What was accepted must be what the header promised.
        const auto& k = image->keys;
        const size_t expected = size_t(k.NAXIS1) * size_t(k.NAXIS2) * size_t(image->frames);
        if (image->samples.size() != expected || 2 * expected > size - pelu::earlier::kFitsBlock)
            __builtin_trap();
    } else if (reason.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
