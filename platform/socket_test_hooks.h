// Test hooks of the sockets service (platform/sockets.h): injected failures
// and a seam inside the calls that may wait. For the tests only; no product
// code calls them. The shipped libraries carry their little state, since
// every call consults it, but export none of them.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace lanfeed {

// Fault injection: the next `times` calls of `op` (on any thread) fail with
// `code` without reaching the system: each sets the last error to `code` and
// returns its failure value (SocketsStartup returns `code`, SocketRecvWithin
// kCallFailed with it). The library and handle checks (10093, 10038) come
// first. Cleared after `times` uses or by ClearSocketFaults; a code of 0
// clears the fault of `op`. kWait stands for the wait of SocketWaitReadable
// and SocketRecvWithin.
enum class SocketOp { kStartup, kSocket, kBind, kListen, kAccept, kWait };
void InjectSocketFault(SocketOp op, int32_t code, uint32_t times = 1);
void ClearSocketFaults();

// Call hook: while set, every call that may wait (WaitReadable, Accept,
// Recv, RecvFrom, RecvWithin, Connect, Send, SendTo) runs `hook` with its
// handle on its own thread once, after it has found its socket and checked
// that it is open and right before its first system call or wait, so a test
// can hold a call in that window while another thread closes the socket and
// opens new ones. Null (the default) removes it. The hook must not call this
// service for the socket it holds.
using SocketCallHook = void (*)(SocketHandle s);
void SetSocketCallHook(SocketCallHook hook);

}  // namespace lanfeed
