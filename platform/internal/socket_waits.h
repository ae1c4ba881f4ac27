// The loops of the sockets service's calls that may wait, for the entry
// points (sockets_common.cpp); kept in socket_waits.cpp. Not part of the
// service's interface.
//
// Each loop tries its native operation first and waits (NativeWait) only
// when that cannot proceed, then tries again: an operation that can proceed
// costs one native call and no wait, and where the backend can wait inside
// the receive itself (NativeReceiveWaiting), a receive costs one call either
// way. A close of the socket ends every loop at once with 10004, also one
// that comes during the native operation. The call seam
// (internal/socket_test_hooks.h) passes once, right before a loop's first
// native operation or wait.
//
// A loop runs once its call has pinned the socket and passed its checks
// (internal/socket_checks.h). It returns as the native operations do, a
// value >= 0 or minus the Windows Sockets number of the failure (the receive
// a SocketReceiveResult), and sets neither the last error nor the socket's
// state: the entry point does both.
#pragma once

#include <cstdint>

#include "platform/internal/socket_test_hooks.h"
#include "platform/internal/sockets_internal.h"
#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// SocketWaitReadable's wait for `what`: 1 when it came, 0 when `timeout_ms`
// passed (< 0: no limit).
int32_t WaitWithin(SocketEntry& socket, WaitFor what, int64_t timeout_ms, CallSeam& seam);

// One pending connection, waited for without limit: 0 with its new native
// socket in `*accepted`, for the caller to enter into the table, and its
// address in `*peer`.
int32_t AcceptWaiting(SocketEntry& socket, NativeSocket** accepted, SocketAddress* peer, CallSeam& seam);

// Connects to `address`, waiting without limit: 0 once connected.
int32_t ConnectWaiting(SocketEntry& socket, const SocketAddress& address, CallSeam& seam);

// SocketRecvWithin's receive (sockets.h). `from` is filled on a datagram
// socket only.
SocketReceiveResult ReceiveWithin(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from,
                                  int64_t timeout_ms, CallSeam& seam);

// Every byte on a stream socket, waiting without limit: `length`.
int32_t SendStream(SocketEntry& socket, const void* data, int32_t length, CallSeam& seam);

// One datagram to `to`, or to the connected peer when `to` is null, waiting
// without limit: the count sent.
int32_t SendDatagram(SocketEntry& socket, const void* data, int32_t length, const SocketAddress* to,
                     CallSeam& seam);

// The receive's results, each with only the fields its outcome names.
inline SocketReceiveResult ReceivedCount(int32_t count) { return {SocketReceiveResult::kReceived, count, 0}; }
inline SocketReceiveResult ReceiveTimedOut() { return {SocketReceiveResult::kTimedOut, 0, 0}; }
inline SocketReceiveResult ReceiveFailedWith(int32_t code) { return {SocketReceiveResult::kReceiveFailed, 0, code}; }
inline SocketReceiveResult CallFailedWith(int32_t code) { return {SocketReceiveResult::kCallFailed, 0, code}; }

}  // namespace lanfeed::sockets_internal
