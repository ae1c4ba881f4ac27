// The checks around every call of the sockets service
// (internal/socket_checks.h): the last error, the handle table and its
// look-up, and the checks of arguments and state.
#include "platform/internal/socket_checks.h"

#include <cstring>

#include "platform/internal/socket_test_hooks.h"

namespace lanfeed::sockets_internal {

namespace {

// The table lives as long as the library; the unload frees what it holds.
constinit SocketTable g_table;

bool BadBuffer(const void* buffer, int32_t length) { return length < 0 || (buffer == nullptr && length > 0); }

// Whether two bound addresses of stream sockets cover a common local
// address: the same family and one of them every address or both the same,
// or an IPv6 socket bound to every address (dual-stack, so IPv4 too) and
// any IPv4 one.
bool BindsOverlap(const SocketAddress& a, const SocketAddress& b) {
  if (a.family == b.family) {
    return IsAnyAddress(a) || IsAnyAddress(b) || std::memcmp(a.address, b.address, sizeof a.address) == 0;
  }
  const SocketAddress& v6 = a.family == kAfInet6 ? a : b;
  return IsAnyAddress(v6);
}

}  // namespace

int32_t Fail(int32_t code) {
  NativeSetLastError(code);
  return -1;
}

SocketHandle FailHandle(int32_t code) {
  Fail(code);
  return kInvalidSocket;
}

int32_t ErrorOf(const SocketEntry& socket, int32_t result) { return socket.Closed() ? kWsaEintr : -result; }

int32_t FailNative(const SocketEntry& socket, int32_t result) { return Fail(ErrorOf(socket, result)); }

int32_t Report(int32_t result) { return result < 0 ? Fail(-result) : result; }

SocketTable& Table() { return g_table; }

bool PinOrFail(SocketHandle s, SocketTable::Pin& pin) {
  if (const int32_t code = Table().Find(s, pin)) {
    Fail(code);
    return false;
  }
  return true;
}

SocketHandle Register(NativeSocket* native, int32_t family, int32_t type, bool connected) {
  SocketHandle handle = kInvalidSocket;
  if (const int32_t code = Table().Add(native, family, type, connected, handle)) {
    NativeRelease(native);
    return FailHandle(code);
  }
  return handle;
}

int32_t CheckCreate(bool started, int32_t family, int32_t type) {
  if (!started) return kWsaNotinitialised;
  if (const int32_t code = TakeSocketFault(SocketOp::kSocket)) return code;
  if (family != kAfInet && family != kAfInet6) return kWsaEafnosupport;
  if (type != kSockStream && type != kSockDgram) return kWsaEsocktnosupport;
  return 0;
}

int32_t CheckBind(const SocketEntry& socket, const SocketAddress& address) {
  if (const int32_t code = TakeSocketFault(SocketOp::kBind)) return code;
  if (address.family != socket.family) return kWsaEafnosupport;
  if (socket.bound) return kWsaEinval;
  return 0;
}

int32_t CheckListen(const SocketEntry& socket) {
  if (const int32_t code = TakeSocketFault(SocketOp::kListen)) return code;
  if (socket.type != kSockStream) return kWsaEopnotsupp;
  if (socket.connected) return kWsaEisconn;
  // Linux would pick a port itself; Windows refuses.
  if (!socket.bound) return kWsaEinval;
  return 0;
}

int32_t CheckAccept(const SocketEntry& socket) {
  if (const int32_t code = TakeSocketFault(SocketOp::kAccept)) return code;
  if (!socket.listening) return kWsaEinval;
  return 0;
}

int32_t CheckConnect(const SocketEntry& socket, const SocketAddress& address) {
  if (address.family != socket.family) return kWsaEafnosupport;
  if (socket.listening) return kWsaEinval;
  return 0;
}

int32_t CheckReceive(const SocketEntry& socket, const void* buffer, int32_t length) {
  if (BadBuffer(buffer, length)) return kWsaEfault;
  if (socket.type == kSockStream) return socket.connected ? 0 : kWsaEnotconn;
  return socket.bound ? 0 : kWsaEinval;
}

int32_t CheckSend(const SocketEntry& socket, const void* data, int32_t length) {
  if (BadBuffer(data, length)) return kWsaEfault;
  return socket.connected ? 0 : kWsaEnotconn;
}

int32_t CheckSendTo(const SocketEntry& socket, const void* data, int32_t length, const SocketAddress& to) {
  if (BadBuffer(data, length)) return kWsaEfault;
  if (socket.type == kSockStream) return socket.connected ? 0 : kWsaEnotconn;
  return to.family == socket.family ? 0 : kWsaEafnosupport;
}

bool StreamPortTaken(const SocketTable::OpenEntries& open, const SocketEntry& socket,
                     const SocketAddress& address) {
  if (socket.type != kSockStream || address.port == 0) return false;
  return open.Any([&](const SocketEntry& other) {
    return &other != &socket && other.type == kSockStream && other.bindAddress.family != 0 &&
           other.bindAddress.port == address.port && BindsOverlap(other.bindAddress, address);
  });
}

}  // namespace lanfeed::sockets_internal
