#include "state/instrument_state.h"

#include <memory>

#include "state/status.h"

namespace pelu {

void ResetInstrumentState() {
    std::destroy_at(&state);
    std::construct_at(&state);
    ResetStatusLine();
}

}  // namespace pelu
