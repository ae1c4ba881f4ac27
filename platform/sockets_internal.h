// Shared by the sockets backends; not part of the service's interface.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// Consumes the fault injected for `op`: returns its code, or 0 when none is
// pending. Each backend calls it right before the system call it stands for.
int32_t TakeSocketFault(SocketOp op);

// What every backend records about a socket, beside its native resources.
// The flags are atomics: any thread may read them while another call on the
// same socket runs.
struct SocketState {
  explicit SocketState(int32_t socket_type) : type(socket_type) {}
  SocketState(const SocketState&) = delete;
  SocketState& operator=(const SocketState&) = delete;

  const int32_t type;  // kSockStream or kSockDgram
  std::atomic<bool> closed{false};
  std::atomic<bool> bound{false};  // has a local address (bound, connected or sent from)
  std::atomic<bool> listening{false};
  std::atomic<bool> connected{false};
};

// The argument and state checks that come before the system call, in the
// order callers can tell apart (injected faults after the library and handle
// checks). Each returns 0 or the error number to report.
int32_t CheckCreate(bool started, int32_t family, int32_t type);
int32_t CheckBind(const SocketState& socket, const SocketAddressIn& address);
int32_t CheckListen(const SocketState& socket);
int32_t CheckAccept(const SocketState& socket);
int32_t CheckConnect(const SocketState& socket, const SocketAddressIn& address);

inline bool BadBuffer(const void* buffer, int32_t length) {
  return length < 0 || (buffer == nullptr && length > 0);
}

// Conversions to and from the system's sockaddr_in, whose fields are the same
// on every backend; templates so that this header needs no system header.
// On Windows, instantiate them after <winsock2.h>: s_addr is a macro there.
template <typename NativeAddress>
NativeAddress ToNative(const SocketAddressIn& address) {
  NativeAddress native{};
  native.sin_family = static_cast<decltype(native.sin_family)>(kAfInet);  // AF_INET everywhere
  native.sin_port = address.port;
  native.sin_addr.s_addr = address.address;
  return native;
}

template <typename NativeAddress>
SocketAddressIn FromNative(const NativeAddress& native) {
  SocketAddressIn address{};
  address.family = static_cast<uint16_t>(kAfInet);
  address.port = native.sin_port;
  address.address = native.sin_addr.s_addr;
  return address;
}

}  // namespace lanfeed::sockets_internal
