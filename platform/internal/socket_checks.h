// What every call of the sockets service does around its system call, for
// the entry points (sockets_common.cpp); kept in socket_checks.cpp: the
// handle table and the look-up of a call's socket in it, the checks of its
// arguments and of its socket's state, and the report of a failure as the
// calling thread's last error. Not part of the service's interface.
//
// A call checks in the order callers can tell apart: library (10093),
// handle (10038), injected fault (internal/socket_test_hooks.h), arguments
// and state. The Check functions return 0 or the Windows Sockets number of
// the failure and set no last error; the last error is set only by the Fail
// functions and Report, and by PinOrFail and Register, which report their
// own failures.
#pragma once

#include <cstdint>

#include "platform/internal/socket_table.h"
#include "platform/internal/sockets_internal.h"
#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// --- The last error ------------------------------------------------------

// Sets the calling thread's last error to `code`; returns -1, the failure
// value of the calls that return a number.
int32_t Fail(int32_t code);
// The same for the calls that return a handle: kInvalidSocket.
SocketHandle FailHandle(int32_t code);
// The error number of a native failure `result` (< 0) of a call on
// `socket`: 10004 when a close interrupted the call, whatever the system said.
int32_t ErrorOf(const SocketEntry& socket, int32_t result);
// Fail(ErrorOf(socket, result)).
int32_t FailNative(const SocketEntry& socket, int32_t result);
// A result in the native operations' form (>= 0, or minus the error
// number), as the wait loops return it (internal/socket_waits.h), as the
// calls return it: the value itself, or -1 with the last error set.
int32_t Report(int32_t result);

// --- The table and the look-up -------------------------------------------

// The process's one handle table. No socket thread outlives the servers'
// Uninitialize, so none still uses it when the library is unloaded, which
// frees it (SocketTable::ReleaseAll).
SocketTable& Table();
// Pins the entry of an open handle for one call; false with the last error
// set when the library is not started or the handle is not open.
bool PinOrFail(SocketHandle s, SocketTable::Pin& pin);
// Takes ownership of `native` and enters it into the table: its new handle,
// or kInvalidSocket with the last error set and `native` released. The
// caller keeps the system's library started meanwhile (a Hold, or the pin of
// the listening socket that accepted `native`), so a refused socket is
// released while the library still runs.
SocketHandle Register(NativeSocket* native, int32_t family, int32_t type, bool connected);

// --- Checks before the system call ---------------------------------------
// Where the operation has an injected fault (SocketOp), each takes it before
// checking arguments and state.

// `started`: whether the library runs.
int32_t CheckCreate(bool started, int32_t family, int32_t type);
int32_t CheckBind(const SocketEntry& socket, const SocketAddress& address);
int32_t CheckListen(const SocketEntry& socket);
int32_t CheckAccept(const SocketEntry& socket);
int32_t CheckConnect(const SocketEntry& socket, const SocketAddress& address);
// What a receive refuses before it tries (no fault: kWait belongs to the wait).
int32_t CheckReceive(const SocketEntry& socket, const void* buffer, int32_t length);
// SocketSend: on a connected socket of either type.
int32_t CheckSend(const SocketEntry& socket, const void* data, int32_t length);
// SocketSendTo: a stream socket sends to its peer and ignores `to`; a
// datagram socket to `to`, of its own family.
int32_t CheckSendTo(const SocketEntry& socket, const void* data, int32_t length, const SocketAddress& to);

// Whether binding `socket` to `address` would share a stream port with
// another open socket (`open`, read under the table's lock). Address reuse
// (which the POSIX backend turns on so that a restarted listener can bind
// while old connections close) would let two stream sockets bind one port
// as long as neither listens yet; Windows refuses the second bind.
bool StreamPortTaken(const SocketTable::OpenEntries& open, const SocketEntry& socket,
                     const SocketAddress& address);

}  // namespace lanfeed::sockets_internal
