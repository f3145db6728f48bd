// Any text as IPaddr.ini and as replies of the scanner controller and of
// the motor controller, through the parsers the programs use on them.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "motors/grating_focus.h"
#include "scanner/scanner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> tokens;
    if (pelu::ReadAddressEntries(text, &tokens).empty() && tokens.size() != 3) __builtin_trap();
    double number = 0;
    if (pelu::ParseReplyNumber(text, &number)) {
        if (!std::isfinite(number) || std::fabs(number) > pelu::kMaxReplyMagnitude)
            __builtin_trap();
        // What the position display does with it.
        volatile float units = static_cast<float>(number / pelu::kCountsPerUnit);
        (void)units;
    }
    int integer = 0;
    pelu::ParseReplyInteger(text, &integer);
    int position = 0;
    pelu::ParseEncoderPosition(text, &position);
    return 0;
}
