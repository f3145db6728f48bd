#include "earlier/earlier_state.h"

#include "state/instrument_state.h"

namespace pelu::earlier {

void ResetEarlierState() {
    earlierState.nhDim = 0;
    earlierState.nvDim = 0;
    earlierState.g_nXPixels = 0;
    earlierState.g_nYPixels = 0;
    earlierState.g_nNumberKinetics1 = 0;
    earlierState.temperatureStop = 1;
}

void SyncSharedGeometry() {
    state.nhDim1 = earlierState.nhDim.load();
    state.nvDim1 = earlierState.nvDim.load();
    state.g_nXPixels1 = earlierState.g_nXPixels.load();
    state.g_nYPixels1 = earlierState.g_nYPixels.load();
}

}  // namespace pelu::earlier
