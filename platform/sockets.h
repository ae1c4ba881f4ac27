// The sockets service: Windows Sockets 2 semantics on every backend.
//
// Errors are Windows Sockets numbers (10004 WSAEINTR, 10048 WSAEADDRINUSE, ...)
// read with SocketLastError() right after the failed call, per thread.
// Handles are opaque numbers; kInvalidSocket marks "no socket". A call on a
// handle that has been closed fails with 10038 (WSAENOTSOCK) and never touches
// another socket, even one opened since.
//
// Closing a socket that another thread is waiting on (WaitReadable, Accept,
// Recv, RecvFrom) wakes that thread; its call fails.
//
// Thread-safety: every function may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

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
  kWsaEnotsock = 10038,
  kWsaEmsgsize = 10040,
  kWsaEaddrinuse = 10048,
  kWsaEaddrnotavail = 10049,
  kWsaEnetdown = 10050,
  kWsaEconnreset = 10054,
  kWsaEnobufs = 10055,
  kWsaEnotconn = 10057,
  kWsaSysnotready = 10091,
  kWsaVernotsupported = 10092,
  kWsaNotinitialised = 10093,
};

inline constexpr int32_t kAfInet = 2;
inline constexpr int32_t kSockStream = 1;
inline constexpr int32_t kSockDgram = 2;
inline constexpr int32_t kIpprotoTcp = 6;
inline constexpr int32_t kIpprotoUdp = 17;
inline constexpr int32_t kSomaxconn = 0x7FFFFFFF;

// An IPv4 socket address exactly as the sockets library lays it out.
struct SocketAddressIn {
  uint16_t family;   // kAfInet
  uint16_t port;     // network byte order
  uint32_t address;  // network byte order; 0: all local addresses
  uint8_t zero[8];
};
static_assert(sizeof(SocketAddressIn) == 16);

// Starts the sockets library (version 0x0202). Returns 0 or an error number;
// each success must be matched by one SocketsCleanup. Reference-counted.
int32_t SocketsStartup();
void SocketsCleanup();

// The error number of the calling thread's last failed socket call.
int32_t SocketLastError();
void SetSocketLastError(int32_t code);

// All of these fail (kInvalidSocket or -1) with 10093 when the library has
// not been started.
SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol);
// Returns 0 or -1. Stream sockets get address reuse before the bind, so a
// restart right after clients disconnect can bind again.
int32_t SocketBind(SocketHandle s, const SocketAddressIn& address);
int32_t SocketListen(SocketHandle s, int32_t backlog);
// Returns the new socket or kInvalidSocket; fills `peer` when given.
SocketHandle SocketAccept(SocketHandle s, SocketAddressIn* peer);
// Waits until `s` is readable. timeout_ms < 0: no limit. Returns 1 readable,
// 0 time-out, -1 failure (10004 when the socket was closed meanwhile).
// Works with any descriptor number (no FD_SETSIZE limit).
int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms);
// Returns the byte count, 0 when the peer closed, -1 on failure.
int32_t SocketRecv(SocketHandle s, void* buffer, int32_t length);
// One datagram. A datagram longer than `length` fails with 10040 (its bytes
// are discarded). Returns the byte count (0 for an empty datagram) or -1.
int32_t SocketRecvFrom(SocketHandle s, void* buffer, int32_t length, SocketAddressIn* from);
// Closes the socket and wakes every thread waiting on it. Returns 0 or -1.
int32_t SocketClose(SocketHandle s);

uint16_t HostToNetShort(uint16_t value);
// Dotted IPv4 text of the address, into `out` of at least 16 characters.
void AddressToText(const SocketAddressIn& address, char (&out)[16]);

// Fault injection for tests: the next call of `op` (on any thread) fails with
// `code` without reaching the system. Cleared after one use or by ClearSocketFaults.
enum class SocketOp { kStartup, kSocket, kBind, kListen, kAccept };
void InjectSocketFault(SocketOp op, int32_t code);
void ClearSocketFaults();

}  // namespace lanfeed
