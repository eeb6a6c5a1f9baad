// What the host controls of ICDHost.h decide, as the rest of the host library reads it.
#pragma once

namespace icdhost_controls {

// True when the base consumeICDEvent refuses `event`.
bool isRefusedEvent(unsigned int event);

}  // namespace icdhost_controls
