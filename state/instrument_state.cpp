#include "state/instrument_state.h"

#include <memory>

namespace pelu {

void ResetInstrumentState() {
    std::destroy_at(&state);
    std::construct_at(&state);
}

}  // namespace pelu
