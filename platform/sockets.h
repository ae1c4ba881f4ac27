// The sockets service: Windows Sockets 2 semantics on every backend.
//
// Errors are Windows Sockets numbers (10004 WSAEINTR, 10048 WSAEADDRINUSE, ...)
// read with SocketLastError() right after the failed call, per thread. A
// successful call leaves the last error as it was.
//
// Handles are opaque numbers handed out by this layer, never reused within the
// process; kInvalidSocket marks "no socket". A call on a handle that has been
// closed (or was never opened) fails with 10038 (WSAENOTSOCK) and never
// touches another socket, even one opened since.
//
// Closing a socket that another thread is waiting on (WaitReadable, Accept,
// Recv, RecvFrom, RecvWithin) wakes that thread at once; its call fails with
// 10004 (WSAEINTR). A call that has found its socket but not yet reached its
// wait when the close comes fails the same way: the system's socket stays
// open until no call uses it any more, so no call ever reaches a socket that
// the system has meanwhile handed out again under the same number.
// The last SocketsCleanup closes every socket still open, as WSACleanup does.
//
// Blocking calls block without limit, like Windows' blocking sockets; only
// SocketWaitReadable and SocketRecvWithin take a time-out. A stream socket
// that is neither listening nor connected never becomes readable.
//
// Cost: looking a handle up takes no lock shared between sockets; a receive
// that finds data waiting is one system call.
//
// The tests' hooks into these calls (injected failures, a seam before each
// wait) are in platform/socket_test_hooks.h.
//
// Thread-safety: every function may be called from any thread. On one
// socket, at most one thread at a time may wait to receive (WaitReadable,
// Accept, Recv, RecvFrom, RecvWithin) and at most one to send (Connect,
// Send, SendTo): Windows' event records serve one waiter per direction (see
// win32/sockets.cpp). A close may come from any thread at any time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/socket_address.h"

namespace lanfeed {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// Windows Sockets error numbers used by the servers and tests.
enum SocketError : int32_t {
  kWsaEintr = 10004,
  kWsaEbadf = 10009,
  kWsaEacces = 10013,
  kWsaEfault = 10014,
  kWsaEinval = 10022,
  kWsaEmfile = 10024,
  kWsaEwouldblock = 10035,
  kWsaEinprogress = 10036,
  kWsaEalready = 10037,
  kWsaEnotsock = 10038,
  kWsaEdestaddrreq = 10039,
  kWsaEmsgsize = 10040,
  kWsaEprototype = 10041,
  kWsaEnoprotoopt = 10042,
  kWsaEprotonosupport = 10043,
  kWsaEsocktnosupport = 10044,
  kWsaEopnotsupp = 10045,
  kWsaEpfnosupport = 10046,
  kWsaEafnosupport = 10047,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEnetunreach = 10051,
  kWsaEnetreset = 10052,
  kWsaEconnaborted = 10053,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEisconn = 10056,
  kWsaEnotconn = 10057,
  kWsaEshutdown = 10058,
  kWsaEtimedout = 10060,
  kWsaEconnrefused = 10061,
  kWsaEhostdown = 10064,
  kWsaEhostunreach = 10065,
  kWsaSysnotready = 10091,
  kWsaVernotsupported = 10092,
  kWsaNotinitialised = 10093,
  kWsaSyscallfailure = 10107,  // a system failure with no closer number
};

inline constexpr int32_t kSockStream = 1;
inline constexpr int32_t kSockDgram = 2;
inline constexpr int32_t kIpprotoTcp = 6;
inline constexpr int32_t kIpprotoUdp = 17;
inline constexpr int32_t kSomaxconn = 0x7FFFFFFF;

// Starts the sockets library (version 0x0202). Returns 0 or an error number
// (which also becomes the last error); each success must be matched by one
// SocketsCleanup. Reference-counted: the library runs from the first
// successful startup until the matching last cleanup. A cleanup without a
// running library does nothing.
int32_t SocketsStartup();
void SocketsCleanup();

// The error number of the calling thread's last failed socket call.
int32_t SocketLastError();
void SetSocketLastError(int32_t code);

// All of these fail (kInvalidSocket or -1) with 10093 when the library has
// not been started, and with 10038 on a closed or unknown handle.
// `family` is kAfInet or kAfInet6 (else 10047, as where the system has no
// IPv6). A socket takes and reports addresses of its own family only (10047
// for another). An IPv6 socket is dual-stack where the system offers it:
// bound to "::" it also serves IPv4 peers, which it reports as IPv4
// addresses mapped into IPv6 (::ffff:a.b.c.d).
SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol);
// Returns 0 or -1. Stream sockets get address reuse before the bind, so a
// restart right after clients disconnect can bind again; a port that another
// socket listens on still fails with 10048. Datagram sockets never share a port.
int32_t SocketBind(SocketHandle s, const SocketAddress& address);
// Returns 0 or -1 (10022 when the socket is not bound).
int32_t SocketListen(SocketHandle s, int32_t backlog);
// Blocks until a client connects. Returns the new socket or kInvalidSocket;
// fills `peer` when given. 10022 when `s` is not listening.
SocketHandle SocketAccept(SocketHandle s, SocketAddress* peer);
// Waits until `s` is readable (data, a pending connection, the peer's close
// or an error). timeout_ms < 0: no limit. Returns 1 readable, 0 time-out, -1
// failure (10004 when the socket was closed meanwhile). Works with any
// descriptor number (no FD_SETSIZE limit).
int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms);
// Returns the byte count, 0 when the peer closed, -1 on failure (10057 when
// the stream socket is not connected).
int32_t SocketRecv(SocketHandle s, void* buffer, int32_t length);
// One datagram. A datagram longer than `length` fails with 10040 (its bytes
// are discarded). Returns the byte count (0 for an empty datagram) or -1;
// 10022 when the socket is not bound. Fills `from` when given.
int32_t SocketRecvFrom(SocketHandle s, void* buffer, int32_t length, SocketAddress* from);

// What SocketRecvWithin did, in one value. Each outcome sets the fields it
// names and leaves the others 0, so `error` is never a leftover of an
// earlier call and `count` never stands for a failure.
struct SocketReceiveResult {
  enum Outcome : int32_t {
    // A receive was made: `count` bytes (0 when the peer closed the stream,
    // or for an empty datagram).
    kReceived,
    // The time-out passed with nothing received.
    kTimedOut,
    // The receive failed, or SocketRecvFrom's checks refused it before it
    // began (10014, 10057, 10022); `error` tells why (10040: a datagram
    // longer than the buffer, whose bytes are discarded; 10054: the
    // connection was reset). A datagram socket goes on with the next one.
    kReceiveFailed,
    // The call or its wait failed: `error` is 10004 when the socket was
    // closed meanwhile (even during a receive, whose data is then dropped as
    // a blocking receive drops it), 10038 and 10093 as for any call, or the
    // wait's own failure.
    kCallFailed,
  };
  Outcome outcome;
  int32_t count;
  int32_t error;
};

// A receive that waits only when nothing is there to receive: it tries
// SocketRecvFrom's receive at once and, only when no data, datagram or close
// of the peer is pending, waits for one for at most `timeout_ms` (< 0: no
// limit), counted from when that wait begins, then receives. `from` as for
// SocketRecvFrom. Both failed outcomes also set the last error to `error`,
// as every failed call does; the others leave it as it was.
SocketReceiveResult SocketRecvWithin(SocketHandle s, void* buffer, int32_t length, SocketAddress* from,
                                     int64_t timeout_ms);

// Closes the socket and wakes every thread waiting on it. Returns 0 or -1.
int32_t SocketClose(SocketHandle s);

// Client side (tests and tools; the servers never send). Connect blocks until
// the connection is made or refused (10061). Send returns the byte count (all
// of `length` for a stream socket) or -1. SendTo sends one datagram.
int32_t SocketConnect(SocketHandle s, const SocketAddress& address);
int32_t SocketSend(SocketHandle s, const void* data, int32_t length);
int32_t SocketSendTo(SocketHandle s, const void* data, int32_t length, const SocketAddress& to);

// The local port of a bound socket in host order (so a socket bound to port 0
// tells which port the system chose), or -1 (10022 when not bound).
int32_t SocketLocalPort(SocketHandle s);

}  // namespace lanfeed
