// Inside the scanner subsystem: the gate every call into the controller
// library passes. A call counts itself in flight, then checks that the link
// is usable; CloseDevice marks the link unusable and waits until no call is
// in flight before it closes the controller, so no thread is inside the
// library when it goes away.
#pragma once

#include <atomic>

namespace pelu::detail {

inline std::atomic<bool> g_linkUsable{false};
inline std::atomic<int> g_callsInFlight{0};

// Runs `call` (which uses the library's entry points) if the link is usable.
// Returns false, without calling, when it is not.
template <typename Call>
bool WithController(Call&& call) {
    g_callsInFlight.fetch_add(1);
    const bool usable = g_linkUsable.load();
    if (usable) call();
    g_callsInFlight.fetch_sub(1);
    return usable;
}

}  // namespace pelu::detail
