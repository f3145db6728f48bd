#include "control/monitoring.h"

#include <cmath>
#include <limits>

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "platform/os/realtime.h"
#include "scanner/scanner.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

// Between frame requests the loop reads the stage's position and status
// bits this often (instrument milliseconds): enough for the position display
// and for the run waiting for home. A request wakes it at once.
constexpr double kStatusReadMs = 20.0;

}  // namespace

int ServeTakeRequest() {
    if (state.take != 1) return -1;
    const int frame = state.Scanpos_CCDframe - 1;
    const ScanRequest request{frame + 1, state.Scanpos_requested.load(), state.Scanpos_late != 0,
                              state.Scanpos_retake != 0};
    if (state.pelu_take_mode == 0) {
        CameraLock lock;
        int32_t current = 0;
        Sdk(GetCurrentCamera(&current));
        ccd.nUnknownCameraHandle = current;
        const CameraSlot camera = CameraSlotOfHandle(current);
        if (camera.known()) TakeImage(camera.width(), camera.height(), current, frame, request);
    } else if (state.pelu_take_mode == 1) {
        for (int number : {1, 2}) {
            const CameraSlot camera = CameraSlotNumbered(number);
            if (number == 2 && camera.handle == 0) continue;  // a single camera has no second half
            CameraSession session(camera.handle);
            TakeImage(camera.width(), camera.height(), camera.handle, frame, request);
        }
    }
    // Where the stage stands once the frames are in: with the position at
    // the request it tells whether they were exposed at their step. Read
    // before the request is cleared, so the scan finds it in the records;
    // quietly (the display and the log catch up at the next status read).
    const float ended =
        QueryPosition() ? state.scanpos.load() : std::numeric_limits<float>::quiet_NaN();
    state.frames1.SetEndPosition(frame, ended);
    state.frames2.SetEndPosition(frame, ended);
    state.take = 0;
    return frame;
}

int MonitoringThreadFunction() {
    // The frames of a scan are taken here: ahead of other work on the host
    // where the system allows it.
    const os::RealTimeSection realTime(os::kAcquisitionPriority);
    if (!realTime.granted()) ShowRealTimeRefused(realTime.refusal());
    const auto closed = [] { return state.PmacAccessible == 0; };
    while (state.PmacAccessible != 0) {
        if (ServeTakeRequest() >= 0) continue;
        ReadPosition();
        Monitor();
        // Sleeps until the scan raises a request or the next reads are due.
        state.take.WaitFor(1, kStatusReadMs, closed, kStatusReadMs);
    }
    return 1;
}

}  // namespace pelu
