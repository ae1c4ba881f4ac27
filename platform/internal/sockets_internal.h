// What the shared part of the sockets service asks of its backend
// (win32/sockets.cpp, posix/sockets.cpp); not part of the service's
// interface.
//
// The shared part implements every call of platform/sockets.h: the entry
// points (sockets_common.cpp), the checks around each call
// (internal/socket_checks.h), the handle table (internal/socket_table.h),
// the loops that try an operation and wait until it can go on
// (internal/socket_waits.h) and the test hooks
// (internal/socket_test_hooks.h). A backend provides only the native
// operations declared below: each is a thin wrapper around its system's
// calls, and none blocks except NativeWait (and NativeReceiveWaiting, where
// the backend offers it).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// The native resources of one socket (system socket, wake-up objects);
// defined by each backend.
struct NativeSocket;

// Native operations return a value >= 0 for success (a count, a port, 0) or
// minus the Windows Sockets number of the failure. kWouldBlock: the operation
// cannot proceed now; wait (NativeWait) and try again.
inline constexpr int32_t kWouldBlock = -kWsaEwouldblock;
// NativeReceiveWaiting: the time-out passed with nothing received.
inline constexpr int32_t kTimedOut = -kWsaEtimedout;

// One open socket as the handle table keeps it. Entries are reused for later
// sockets (see socket_table.h); everything below is reset when the table
// gives the entry to a new socket and holds while a call has it pinned.
// The flags are atomics: any thread may read them while another call on the
// same socket runs.
struct SocketEntry {
  SocketEntry() = default;
  SocketEntry(const SocketEntry&) = delete;
  SocketEntry& operator=(const SocketEntry&) = delete;

  // Bits of `state`: the low two bits are flags, the rest counts the calls
  // that have the entry pinned.
  static constexpr uint32_t kClosedBit = 1;     // SocketClose or cleanup took it out of the table
  static constexpr uint32_t kReleasingBit = 2;  // its native socket is being released
  static constexpr uint32_t kPinUnit = 4;

  bool Closed() const { return (state.load(std::memory_order_acquire) & kClosedBit) != 0; }

  int32_t family = 0;  // kAfInet or kAfInet6
  int32_t type = 0;    // kSockStream or kSockDgram
  NativeSocket* native = nullptr;
  std::atomic<bool> bound{false};  // has a local address (bound, connected or sent from)
  std::atomic<bool> listening{false};
  std::atomic<bool> connected{false};
  // What SocketBind asked for, with the port the system chose for port 0;
  // guarded by the table's lock. Family 0: not bound by SocketBind.
  SocketAddress bindAddress{};

  // Kept by the table: the handle the entry stands for (0 while unused) and
  // the pin count with the two flags.
  std::atomic<SocketHandle> handle{0};
  std::atomic<uint32_t> state{0};
  // The table's own links: every entry ever made, and the free ones.
  SocketEntry* nextMade = nullptr;
  SocketEntry* nextFree = nullptr;
};

// What a wait waits for.
enum class WaitFor {
  kReadable,  // returns 1 only when the socket is readable now (SocketWaitReadable)
  kReceive,   // 1 when a receive or accept may succeed now; the caller retries
  kSend,      // 1 when a send may succeed or a connect has completed; the caller retries
  kClose,     // nothing but the socket's close ends the wait
};

// --- Native operations, defined by each backend. -------------------------

// Starts and stops the system's sockets library (once per successful
// SocketsStartup / matching SocketsCleanup). 0 or an error number.
int32_t NativeStartup();
void NativeCleanup();
// How many successful NativeStartup calls no NativeCleanup has matched yet:
// whether the system's library is running, for the tests.
int32_t NativeStartCount();

// The calling thread's last error as SocketLastError reports it: where the
// system keeps its own (Windows: WSAGetLastError), else a per-thread value.
int32_t NativeLastError();
void NativeSetLastError(int32_t code);

// A new socket of `family` (kAfInet or kAfInet6) and `type`, ready for
// waits that a close can end; an IPv6 one dual-stack where the system
// allows. 0 or minus the error; `*out` is set only on success.
int32_t NativeOpen(int32_t family, int32_t type, int32_t protocol, NativeSocket** out);
// Wakes every wait on the socket for good and ends its connection. Called
// once, when the socket is closed, while calls may still use it.
void NativeShut(NativeSocket& socket);
// Closes the system's socket and frees everything. Called once, when no
// call uses the socket any more.
void NativeRelease(NativeSocket* socket);

int32_t NativeBind(SocketEntry& socket, const SocketAddress& address);
int32_t NativeListen(SocketEntry& socket, int32_t backlog);
// The bound local port in host order.
int32_t NativeLocalPort(SocketEntry& socket);
// One pending connection: its new socket in `*accepted`, its address in
// `*peer`; kWouldBlock when none is pending.
int32_t NativeAccept(SocketEntry& socket, NativeSocket** accepted, SocketAddress* peer);
// One receive without waiting: the count, or kWouldBlock. On a datagram
// socket it takes one datagram; `from`, when given, receives its sender, also
// when the datagram was longer than `length` (which fails with 10040 and
// discards the rest). `from` is null on a stream socket.
int32_t NativeReceive(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from);
// A receive that waits for data inside the system's call, at most
// `timeout_ms` (-1: no limit), where the backend can make such a wait end at
// a close (NativeShut): the count or a failure, kTimedOut, or kWouldBlock
// when the backend cannot wait so (or the wait ended early), and the caller
// tries and waits with NativeReceive and NativeWait instead.
int32_t NativeReceiveWaiting(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from,
                             int64_t timeout_ms);
// One send without waiting (to `to`, or to the connected peer when it is
// null): the count sent, possibly less than `length` on a stream, or kWouldBlock.
int32_t NativeSend(SocketEntry& socket, const void* data, int32_t length, const SocketAddress* to);
// Starts a connect: 0 when connected at once, kWouldBlock while it proceeds.
int32_t NativeConnect(SocketEntry& socket, const SocketAddress& address);
// After a kSend wait: 0 when the connect has completed, kWouldBlock while it
// still proceeds, or minus its error.
int32_t NativeConnectResult(SocketEntry& socket);

// Waits at most `slice_ms` (-1: no limit; at most INT32_MAX) for `what`.
// Returns 1 as WaitFor describes, 0 when the slice passed (or the wait ended
// early for no reason the caller needs to know), -kWsaEintr when the socket
// was closed, or minus another error.
int32_t NativeWait(SocketEntry& socket, WaitFor what, int32_t slice_ms);
// A millisecond clock that wraps around at 2^32 (about 49 days): the
// difference of two readings is exact while they are less than that apart.
uint32_t NativeTickMs();
// Windows backend only: how many waits began while another thread already
// waited in the same direction on the same socket, which its one-waiter rule
// (win32/sockets.cpp) forbids. For the tests.
int32_t NativeWaiterClashes();

// The system's form of a socket address: sockaddr_in or sockaddr_in6, whose
// fields are the same on every backend; templates so that this header needs
// no system header. On Windows, instantiate them after <ws2tcpip.h>: s_addr
// is a macro there.
template <typename In4, typename In6>
union NativeAddress {
  In4 v4;
  In6 v6;
};

// Fills `native` with `address` for a system whose IPv6 family number is
// `native_inet6`. Returns the length to pass with it, or 0 (nothing filled)
// for a family other than kAfInet and kAfInet6.
template <typename In4, typename In6>
int32_t ToNative(const SocketAddress& address, int32_t native_inet6, NativeAddress<In4, In6>* native) {
  *native = NativeAddress<In4, In6>{};
  if (address.family == kAfInet) {
    native->v4.sin_family = static_cast<decltype(native->v4.sin_family)>(kAfInet);  // AF_INET everywhere
    native->v4.sin_port = address.port;
    std::memcpy(&native->v4.sin_addr, address.address, 4);
    return static_cast<int32_t>(sizeof(In4));
  }
  if (address.family == kAfInet6) {
    native->v6.sin6_family = static_cast<decltype(native->v6.sin6_family)>(native_inet6);
    native->v6.sin6_port = address.port;
    std::memcpy(&native->v6.sin6_addr, address.address, 16);
    native->v6.sin6_scope_id = address.scopeId;
    return static_cast<int32_t>(sizeof(In6));
  }
  return 0;
}

// The address in `native` as the system filled it; family 0 when it is of
// neither family.
template <typename In4, typename In6>
SocketAddress FromNative(const NativeAddress<In4, In6>& native, int32_t native_inet6) {
  SocketAddress address{};
  if (native.v4.sin_family == kAfInet) {
    address.family = static_cast<uint16_t>(kAfInet);
    address.port = native.v4.sin_port;
    std::memcpy(address.address, &native.v4.sin_addr, 4);
  } else if (native.v6.sin6_family == native_inet6) {
    address.family = static_cast<uint16_t>(kAfInet6);
    address.port = native.v6.sin6_port;
    std::memcpy(address.address, &native.v6.sin6_addr, 16);
    address.scopeId = native.v6.sin6_scope_id;
  }
  return address;
}

}  // namespace lanfeed::sockets_internal
