// The camera library keeps one current camera for the whole process, so
// "make a camera current, then call it" must never interleave between
// threads. Every such sequence holds the one camera lock.
//
// The lock is recursive: an operation that locks may call others that lock.
// Popups raised while it is held (CameraPopup) are shown once the outermost
// holder has let go, so a popup waiting for the observer never blocks the
// other camera threads.
#pragma once

#include <string>

namespace pelu {

class CameraLock {
public:
    CameraLock();
    ~CameraLock();
    CameraLock(const CameraLock&) = delete;
    CameraLock& operator=(const CameraLock&) = delete;
};

// Locks and makes `handle` the current camera (SetCurrentCamera).
class CameraSession : public CameraLock {
public:
    explicit CameraSession(int handle);
};

// A pause of an operation that holds the camera lock (a head settling, an
// exposure being polled): this thread lets go of the lock entirely, waits
// `milliseconds` of instrument time (on the user-interface thread the
// observer's events are dispatched meanwhile), takes the lock again as
// deeply as before and makes `handle` current once more if another thread
// switched cameras meanwhile. Nothing sleeps holding the lock.
void CameraPause(int handle, double milliseconds);

// A message popup about a camera: shown at once when this thread holds no
// camera lock, otherwise when its outermost lock is released.
void CameraPopup(const std::string& title, const std::string& text);

}  // namespace pelu
