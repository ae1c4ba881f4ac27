// Windows Sockets 2 backend.
//
// The system calls are Winsock's own; this layer adds what the servers rely on
// beyond them:
// - Handles are numbers of this layer, handed out in increasing order and never
//   reused, mapped to the native SOCKET in the handle table
//   (platform/socket_table.h). A call on a closed handle fails with 10038
//   without touching any native socket, even though Windows reuses SOCKET
//   values at once.
// - SocketClose removes the entry and calls closesocket at once, which ends a
//   select, accept or recv blocked on it in another thread. Whatever that call
//   then reports (an error, or the socket readable, as Wine may say), a call
//   whose socket was closed meanwhile fails with 10004.
// - The reference count of startups is kept here as well, so that the last
//   SocketsCleanup closes the sockets still open and later calls on them fail
//   with 10038.
// - Argument states that Winsock checks only when the call reaches it (listen
//   before bind, receive on an unbound or unconnected socket) fail before the
//   blocking wait, as on the POSIX backend.
// - The last error is kept per thread in this layer, copied from
//   WSAGetLastError right after a failed call, so that no later Win32 call can
//   overwrite it before the caller reads it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>

#include "platform/socket_table.h"
#include "platform/sockets.h"
#include "platform/sockets_internal.h"

namespace lanfeed {
namespace {

using sockets_internal::BadBuffer;
using sockets_internal::FromNative;
using sockets_internal::ToNative;

thread_local int32_t t_last_error = 0;

int32_t Fail(int32_t code) {
  t_last_error = code;
  WSASetLastError(code);
  return -1;
}

struct Socket : sockets_internal::SocketState {
  Socket(SOCKET handle, int32_t socket_type) : SocketState(socket_type), native(handle) {}

  // Closes the native socket at once (not when the last call lets go of the
  // entry), which ends a select, accept or recv blocked on it.
  void Shut() {
    closed = true;
    ::closesocket(native);
  }

  const SOCKET native;
};
using SocketRef = std::shared_ptr<Socket>;

// No socket thread outlives the servers' Uninitialize, so none can still use
// the table when the library is unloaded.
SocketTable<Socket>& Table() {
  static SocketTable<Socket> table;
  return table;
}

// The entry of an open handle, held for the duration of one call; null with
// the last error set when the library is not started or the handle is not open.
SocketRef Acquire(SocketHandle s) {
  SocketRef socket;
  if (const int32_t code = Table().Find(s, socket)) Fail(code);
  return socket;
}

// Takes ownership of `native` and enters it into the table.
SocketHandle Register(SOCKET native, int32_t type, bool connected) {
  auto socket = std::make_shared<Socket>(native, type);
  socket->connected = connected;
  socket->bound = connected;
  SocketHandle handle = kInvalidSocket;
  if (const int32_t code = Table().Add(std::move(socket), handle)) {
    ::closesocket(native);
    Fail(code);
  }
  return handle;
}

// Failure of a Winsock call on `socket`, read right after it.
int32_t FailCall(const Socket& socket) {
  const int32_t code = WSAGetLastError();
  return Fail(socket.closed ? kWsaEintr : code);
}

// Waits until `socket` is readable. timeout_ms < 0: no limit.
int32_t Wait(Socket& socket, int64_t timeout_ms) {
  if (socket.closed) return Fail(kWsaEintr);
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket.native, &readable);
  timeval limit{};
  if (timeout_ms >= 0) {
    const int64_t seconds = timeout_ms / 1000;
    limit.tv_sec = seconds > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<long>(seconds);
    limit.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  }
  const int ready = ::select(0, &readable, nullptr, nullptr, timeout_ms >= 0 ? &limit : nullptr);
  if (ready == SOCKET_ERROR) return FailCall(socket);
  if (socket.closed) return Fail(kWsaEintr);
  return ready > 0 ? 1 : 0;
}

int32_t ReceiveStream(Socket& socket, void* buffer, int32_t length) {
  if (!socket.connected) return Fail(kWsaEnotconn);
  if (Wait(socket, -1) < 0) return -1;
  const int count = ::recv(socket.native, static_cast<char*>(buffer), length, 0);
  if (count == SOCKET_ERROR) return FailCall(socket);
  if (socket.closed) return Fail(kWsaEintr);
  return count;
}

int32_t ReceiveDatagram(Socket& socket, void* buffer, int32_t length, SocketAddressIn* from) {
  if (!socket.bound) return Fail(kWsaEinval);
  if (Wait(socket, -1) < 0) return -1;
  sockaddr_in source{};
  int source_length = sizeof source;
  const int count = ::recvfrom(socket.native, static_cast<char*>(buffer), length, 0,
                             reinterpret_cast<sockaddr*>(&source), &source_length);
  const int32_t error = count == SOCKET_ERROR ? WSAGetLastError() : 0;
  if (socket.closed) return Fail(kWsaEintr);
  // Windows fills the buffer with the head of a longer datagram and reports
  // WSAEMSGSIZE (10040); the caller gets the failure and the sender only.
  if (from != nullptr && (count != SOCKET_ERROR || error == kWsaEmsgsize)) *from = FromNative(source);
  if (count == SOCKET_ERROR) return Fail(error);
  return count;
}

int32_t SendStream(Socket& socket, const void* data, int32_t length) {
  if (!socket.connected) return Fail(kWsaEnotconn);
  const char* bytes = static_cast<const char*>(data);
  int32_t sent = 0;
  while (sent < length) {
    const int count = ::send(socket.native, bytes + sent, length - sent, 0);
    if (count == SOCKET_ERROR) return FailCall(socket);
    sent += count;
  }
  return sent;
}

}  // namespace

int32_t SocketsStartup() {
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kStartup)) {
    Fail(code);
    return code;
  }
  WSADATA data;
  const int code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code != 0) {
    Fail(code);
    return code;
  }
  Table().Startup();
  return 0;
}

void SocketsCleanup() {
  if (const int32_t code = Table().Cleanup()) {
    Fail(code);
    return;
  }
  WSACleanup();  // one for each WSAStartup of a successful SocketsStartup
}

int32_t SocketLastError() { return t_last_error; }

void SetSocketLastError(int32_t code) {
  t_last_error = code;
  WSASetLastError(code);
}

SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol) {
  if (const int32_t code = sockets_internal::CheckCreate(Table().Started(), family, type)) {
    Fail(code);
    return kInvalidSocket;
  }
  const SOCKET native = ::socket(AF_INET, type, protocol);
  if (native == INVALID_SOCKET) {
    Fail(WSAGetLastError());
    return kInvalidSocket;
  }
  return Register(native, type, false);
}

int32_t SocketBind(SocketHandle s, const SocketAddressIn& address) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::CheckBind(*socket, address)) return Fail(code);
  const auto native = ToNative<sockaddr_in>(address);
  if (::bind(socket->native, reinterpret_cast<const sockaddr*>(&native), sizeof native) == SOCKET_ERROR) {
    return FailCall(*socket);
  }
  socket->bound = true;
  return 0;
}

int32_t SocketListen(SocketHandle s, int32_t backlog) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::CheckListen(*socket)) return Fail(code);
  if (::listen(socket->native, backlog) == SOCKET_ERROR) return FailCall(*socket);
  socket->listening = true;
  return 0;
}

SocketHandle SocketAccept(SocketHandle s, SocketAddressIn* peer) {
  SocketRef socket = Acquire(s);
  if (!socket) return kInvalidSocket;
  if (const int32_t code = sockets_internal::CheckAccept(*socket)) {
    Fail(code);
    return kInvalidSocket;
  }
  if (Wait(*socket, -1) < 0) return kInvalidSocket;
  sockaddr_in native{};
  int length = sizeof native;
  const SOCKET accepted = ::accept(socket->native, reinterpret_cast<sockaddr*>(&native), &length);
  if (accepted == INVALID_SOCKET) {
    FailCall(*socket);
    return kInvalidSocket;
  }
  if (socket->closed) {
    ::closesocket(accepted);
    Fail(kWsaEintr);
    return kInvalidSocket;
  }
  const SocketHandle handle = Register(accepted, kSockStream, true);
  if (handle != kInvalidSocket && peer != nullptr) *peer = FromNative(native);
  return handle;
}

int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kWait)) return Fail(code);
  return Wait(*socket, timeout_ms);
}

int32_t SocketRecvFrom(SocketHandle s, void* buffer, int32_t length, SocketAddressIn* from) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (BadBuffer(buffer, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return ReceiveStream(*socket, buffer, length);
  return ReceiveDatagram(*socket, buffer, length, from);
}

int32_t SocketClose(SocketHandle s) {
  if (const int32_t code = Table().Close(s)) return Fail(code);
  return 0;
}

int32_t SocketConnect(SocketHandle s, const SocketAddressIn& address) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::CheckConnect(*socket, address)) return Fail(code);
  const auto native = ToNative<sockaddr_in>(address);
  if (::connect(socket->native, reinterpret_cast<const sockaddr*>(&native), sizeof native) == SOCKET_ERROR) {
    return FailCall(*socket);
  }
  socket->connected = true;
  socket->bound = true;
  return 0;
}

int32_t SocketSend(SocketHandle s, const void* data, int32_t length) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (BadBuffer(data, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return SendStream(*socket, data, length);
  if (!socket->connected) return Fail(kWsaEnotconn);
  const int count = ::send(socket->native, static_cast<const char*>(data), length, 0);
  if (count == SOCKET_ERROR) return FailCall(*socket);
  return count;
}

int32_t SocketSendTo(SocketHandle s, const void* data, int32_t length, const SocketAddressIn& to) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (BadBuffer(data, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return SendStream(*socket, data, length);
  if (to.family != kAfInet) return Fail(kWsaEafnosupport);
  const auto native = ToNative<sockaddr_in>(to);
  const int count = ::sendto(socket->native, static_cast<const char*>(data), length, 0,
                           reinterpret_cast<const sockaddr*>(&native), sizeof native);
  if (count == SOCKET_ERROR) return FailCall(*socket);
  socket->bound = true;
  return count;
}

int32_t SocketLocalPort(SocketHandle s) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (!socket->bound) return Fail(kWsaEinval);
  sockaddr_in local{};
  int length = sizeof local;
  if (::getsockname(socket->native, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR) {
    return FailCall(*socket);
  }
  return ntohs(local.sin_port);
}

}  // namespace lanfeed
