// Any text as a script for the scripted front-end, run against the run-time
// core with no panels: every line is parsed and checked, none finds a
// control to operate. Waits run a billion times faster than the instrument.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/os/os.h"
#include "platform/ui/headless.h"
#include "platform/ui/script.h"
#include "platform/ui/ui.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    os::SetTimeScale(1e-9);
    ui::InitRuntime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ui::HeadlessFrontEnd frontEnd;
    ui::ScriptRunner runner(&frontEnd, "fuzz");
    // Without a time-out of its own a script's expect would wait for the
    // default ten minutes (five seconds of real time at least).
    runner.RunText("timeout 0\n" + std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
