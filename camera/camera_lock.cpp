#include "camera/camera_lock.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "platform/camera_sdk/atmcd.h"
#include "platform/os/os.h"
#include "platform/ui/ui.h"

namespace pelu {
namespace {

std::recursive_mutex& LibraryMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

struct PendingPopup {
    std::string title, text;
};

thread_local int t_depth = 0;
// Outermost acquisitions of the lock by any thread: tells a paused holder
// whether anyone else had the cameras meanwhile.
std::atomic<uint64_t> g_outermostHolds{0};
thread_local std::vector<PendingPopup> t_pending;

}  // namespace

CameraLock::CameraLock() {
    LibraryMutex().lock();
    if (t_depth++ == 0) ++g_outermostHolds;
}

CameraLock::~CameraLock() {
    if (--t_depth > 0) {
        LibraryMutex().unlock();
        return;
    }
    std::vector<PendingPopup> pending = std::move(t_pending);
    t_pending.clear();
    LibraryMutex().unlock();
    for (const PendingPopup& p : pending) ui::MessagePopup(p.title, p.text);
}

CameraSession::CameraSession(int handle) { Sdk(SetCurrentCamera(handle)); }

void CameraPause(int handle, double milliseconds) {
    const int depth = t_depth;
    const uint64_t before = g_outermostHolds;
    for (int i = 0; i < depth; ++i) LibraryMutex().unlock();
    t_depth = 0;
    // With the lock let go, the user-interface thread answers the observer
    // meanwhile (a bias/dark series, a single frame).
    ui::DelayWithEvents(milliseconds / 1000.0);
    for (int i = 0; i < depth; ++i) LibraryMutex().lock();
    t_depth = depth;
    if (depth == 0) return;
    // Every use of the library holds the lock: when nobody else took it, the
    // current camera is still ours.
    const bool othersHeldIt = ++g_outermostHolds != before + 1;
    if (othersHeldIt && handle != 0) Sdk(SetCurrentCamera(handle));
}

void CameraPopup(const std::string& title, const std::string& text) {
    if (t_depth > 0)
        t_pending.push_back({title, text});
    else
        ui::MessagePopup(title, text);
}

}  // namespace pelu
