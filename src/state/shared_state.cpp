#include "state/shared_state.h"

namespace ornat {
static_assert(sizeof(SharedState{}.FrameBuffer) == 256);
static_assert(sizeof(SharedState{}.ReceivedCount) == 2);
static_assert(sizeof(SharedState{}.ReadLimit) == 1);
static_assert(sizeof(SharedState{}.SearchDelayMs) == 2);
}  // namespace ornat
