// The shared part of the sockets service: the entry points of
// platform/sockets.h. Each pins its socket in the handle table and makes the
// checks before its system call (internal/socket_checks.h), then runs a
// backend's native operation (sockets_internal.h; win32/sockets.cpp,
// posix/sockets.cpp) or, where it may wait, a loop around one
// (internal/socket_waits.h); it reports a failure as the last error and
// keeps its socket's state (bound, listening, connected). Here also lives
// the library count.
#include "platform/internal/socket_checks.h"
#include "platform/internal/socket_table.h"
#include "platform/internal/socket_test_hooks.h"
#include "platform/internal/socket_waits.h"
#include "platform/internal/sockets_internal.h"
#include "platform/internal/unload.h"
#include "platform/sockets.h"

namespace lanfeed {

using namespace sockets_internal;

namespace {

using Pin = SocketTable::Pin;

void ReleaseAtUnload() {
  Table().ReleaseAll();
  ReleaseSocketFaults();
}

// SocketRecvWithin but for its report: the look-up, the checks, then the
// receive.
SocketReceiveResult CheckAndReceiveWithin(SocketHandle s, void* buffer, int32_t length, SocketAddress* from,
                                          int64_t timeout_ms) {
  Pin socket;
  if (const int32_t code = Table().Find(s, socket)) return CallFailedWith(code);
  // The injected wait failure stands for the wait this call may make.
  if (const int32_t code = TakeSocketFault(SocketOp::kWait)) return CallFailedWith(code);
  if (const int32_t code = CheckReceive(*socket, buffer, length)) return ReceiveFailedWith(code);
  CallSeam seam(s);
  return ReceiveWithin(*socket, buffer, length, from, timeout_ms, seam);
}

}  // namespace

int32_t SocketsStartup() {
  int32_t code = TakeSocketFault(SocketOp::kStartup);
  if (code == 0) code = NativeStartup();
  if (code != 0) {
    NativeSetLastError(code);
    return code;
  }
  platform_internal::RunAtUnload(&ReleaseAtUnload);
  Table().Startup();
  return 0;
}

void SocketsCleanup() {
  // The last cleanup closes whatever is still open, as WSACleanup does. The
  // table runs the NativeCleanup of each successful SocketsStartup, the last
  // one only once no call still uses a native socket.
  if (const int32_t code = Table().Cleanup()) Fail(code);
}

int32_t SocketLastError() { return NativeLastError(); }
void SetSocketLastError(int32_t code) { NativeSetLastError(code); }

SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol) {
  if (const int32_t code = CheckCreate(Table().Started(), family, type)) return FailHandle(code);
  // The hold keeps the system's library started from before the open until
  // the table counts the socket, or until a refused one has been released.
  if (const int32_t code = Table().Hold()) return FailHandle(code);
  NativeSocket* native = nullptr;
  SocketHandle handle = kInvalidSocket;
  if (const int32_t result = NativeOpen(family, type, protocol, &native); result < 0) {
    handle = FailHandle(-result);
  } else {
    handle = Register(native, family, type, false);
  }
  Table().LetGo();
  return handle;
}

int32_t SocketBind(SocketHandle s, const SocketAddress& address) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (const int32_t code = CheckBind(*socket, address)) return Fail(code);
  // Under the table lock, so that two binds cannot both pass the port check.
  return Table().WithLock([&](const SocketTable::OpenEntries& open) -> int32_t {
    if (StreamPortTaken(open, *socket, address)) return Fail(kWsaEaddrinuse);
    if (const int32_t result = NativeBind(*socket, address); result < 0) return FailNative(*socket, result);
    // The port the system chose for port 0, so that a later bind is checked.
    const int32_t port = NativeLocalPort(*socket);
    socket->bindAddress = address;
    if (port > 0) socket->bindAddress.port = HostToNetShort(static_cast<uint16_t>(port));
    socket->bound = true;
    return 0;
  });
}

int32_t SocketListen(SocketHandle s, int32_t backlog) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (const int32_t code = CheckListen(*socket)) return Fail(code);
  if (const int32_t result = NativeListen(*socket, backlog < 0 ? 0 : backlog); result < 0) {
    return FailNative(*socket, result);
  }
  socket->listening = true;
  return 0;
}

SocketHandle SocketAccept(SocketHandle s, SocketAddress* peer) {
  Pin socket;
  if (!PinOrFail(s, socket)) return kInvalidSocket;
  if (const int32_t code = CheckAccept(*socket)) return FailHandle(code);
  CallSeam seam(s);
  NativeSocket* accepted = nullptr;
  SocketAddress address{};
  if (const int32_t result = AcceptWaiting(*socket, &accepted, &address, seam); result < 0) {
    return FailHandle(-result);
  }
  const SocketHandle handle = Register(accepted, socket->family, kSockStream, true);
  if (handle != kInvalidSocket && peer != nullptr) *peer = address;
  return handle;
}

int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  // A stream socket that neither listens nor is connected can never become
  // readable on Windows; Linux would report it hung up at once.
  const bool idle = socket->type == kSockStream && !socket->listening && !socket->connected;
  if (const int32_t code = TakeSocketFault(SocketOp::kWait)) return Fail(code);
  CallSeam seam(s);
  return Report(WaitWithin(*socket, idle ? WaitFor::kClose : WaitFor::kReadable, timeout_ms, seam));
}

SocketReceiveResult SocketRecvWithin(SocketHandle s, void* buffer, int32_t length, SocketAddress* from,
                                     int64_t timeout_ms) {
  const SocketReceiveResult result = CheckAndReceiveWithin(s, buffer, length, from, timeout_ms);
  if (result.outcome == SocketReceiveResult::kReceiveFailed || result.outcome == SocketReceiveResult::kCallFailed) {
    NativeSetLastError(result.error);
  }
  return result;
}

int32_t SocketRecvFrom(SocketHandle s, void* buffer, int32_t length, SocketAddress* from) {
  const SocketReceiveResult result = SocketRecvWithin(s, buffer, length, from, -1);
  return result.outcome == SocketReceiveResult::kReceived ? result.count : -1;
}

// A receive is a receive-from that does not ask for the sender: on a stream
// socket both read the stream, on a datagram socket both take one datagram.
int32_t SocketRecv(SocketHandle s, void* buffer, int32_t length) {
  return SocketRecvFrom(s, buffer, length, nullptr);
}

int32_t SocketClose(SocketHandle s) {
  if (const int32_t code = Table().Close(s)) return Fail(code);
  return 0;
}

int32_t SocketConnect(SocketHandle s, const SocketAddress& address) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (const int32_t code = CheckConnect(*socket, address)) return Fail(code);
  CallSeam seam(s);
  if (const int32_t result = ConnectWaiting(*socket, address, seam); result < 0) return Fail(-result);
  socket->connected = true;
  socket->bound = true;
  return 0;
}

int32_t SocketSend(SocketHandle s, const void* data, int32_t length) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (const int32_t code = CheckSend(*socket, data, length)) return Fail(code);
  CallSeam seam(s);
  if (socket->type == kSockStream) return Report(SendStream(*socket, data, length, seam));
  return Report(SendDatagram(*socket, data, length, nullptr, seam));
}

int32_t SocketSendTo(SocketHandle s, const void* data, int32_t length, const SocketAddress& to) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (const int32_t code = CheckSendTo(*socket, data, length, to)) return Fail(code);
  CallSeam seam(s);
  if (socket->type == kSockStream) return Report(SendStream(*socket, data, length, seam));
  const int32_t sent = SendDatagram(*socket, data, length, &to, seam);
  // The system gave an unbound socket a local address for the send.
  if (sent >= 0) socket->bound = true;
  return Report(sent);
}

int32_t SocketLocalPort(SocketHandle s) {
  Pin socket;
  if (!PinOrFail(s, socket)) return -1;
  if (!socket->bound) return Fail(kWsaEinval);
  const int32_t result = NativeLocalPort(*socket);
  return result < 0 ? FailNative(*socket, result) : result;
}

}  // namespace lanfeed
