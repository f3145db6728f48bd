#include "state/camera_slot.h"

#include "state/instrument_state.h"

namespace pelu {

CameraSlot CameraSlotNumbered(int number) {
    if (number == 2)
        return {2,           state.nCameraHandle2, &state.nhDim2,  &state.nvDim2,
                &state.g_nXPixels2, &state.g_nYPixels2, &state.g_pRawData2, &state.frames2,
                &state.BiasDark2,   &state.flatdata2,   &state.flatcube2};
    return {1,           state.nCameraHandle1, &state.nhDim1,  &state.nvDim1,
            &state.g_nXPixels1, &state.g_nYPixels1, &state.g_pRawData, &state.frames1,
            &state.BiasDark1,   &state.flatdata1,   &state.flatcube1};
}

CameraSlot CameraSlotOfHandle(int handle) {
    if (handle == 0) return {};
    if (handle == state.nCameraHandle1) return CameraSlotNumbered(1);
    if (handle == state.nCameraHandle2) return CameraSlotNumbered(2);
    return {};
}

}  // namespace pelu
