#include "camera/camera_lock.h"

#include <mutex>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "platform/camera_sdk/atmcd.h"
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
thread_local std::vector<PendingPopup> t_pending;

}  // namespace

CameraLock::CameraLock() {
    LibraryMutex().lock();
    ++t_depth;
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

void CameraPopup(const std::string& title, const std::string& text) {
    if (t_depth > 0)
        t_pending.push_back({title, text});
    else
        ui::MessagePopup(title, text);
}

}  // namespace pelu
