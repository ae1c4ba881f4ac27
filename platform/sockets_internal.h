// Shared by the sockets backends; not part of the service's interface.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// Consumes the fault injected for `op`: returns its code, or 0 when none is
// pending. Each backend calls it right before the system call it stands for.
int32_t TakeSocketFault(SocketOp op);

}  // namespace lanfeed::sockets_internal
