#include "control/callbacks.h"
#include "platform/ui/ui.h"
#include "state/instrument_state.h"

namespace pelu {

void StopLiveView() {
    state.threadparam = 1;
    int id = state.threadfunctionID;
    // The run that started the live view releases the id once it has seen the
    // thread end; waiting here only makes sure the thread is gone.
    if (id > 0) ui::WaitForThreadFunctionCompletion(id);
}

}  // namespace pelu
