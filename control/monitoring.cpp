#include "control/monitoring.h"

#include "camera/camera.h"
#include "camera/camera_lock.h"
#include "scanner/scanner.h"
#include "state/camera_slot.h"
#include "state/instrument_state.h"

namespace pelu {

int ServeTakeRequest() {
    if (state.take != 1) return -1;
    const int frame = state.Scanpos_CCDframe - 1;
    const ScanRequest request{frame + 1, state.Scanpos_requested.load(), state.Scanpos_late != 0};
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
    state.take = 0;
    return frame;
}

int MonitoringThreadFunction() {
    int served = -1;  // frame whose end position the next reading gives
    while (state.PmacAccessible != 0) {
        // The scanner reads come first in every pass and set the loop's pace.
        ReadPosition();
        if (served >= 0) {
            state.frames1.SetEndPosition(served, state.scanpos);
            state.frames2.SetEndPosition(served, state.scanpos);
        }
        Monitor();
        served = ServeTakeRequest();
    }
    return 1;
}

}  // namespace pelu
