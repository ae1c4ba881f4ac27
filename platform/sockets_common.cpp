// The shared part of the sockets service: every call of platform/sockets.h
// on top of the handle table, the checks around each call
// (internal/socket_checks.h) and a backend's native operations
// (sockets_internal.h). Here live the library count and the loops that try
// an operation and wait until it can go on. Every such loop tries first, so
// an operation that can proceed costs one native call and no wait; where the
// backend can wait inside the receive itself (NativeReceiveWaiting), a
// receive costs one call either way.
#include <climits>

#include "platform/internal/socket_checks.h"
#include "platform/internal/socket_table.h"
#include "platform/internal/socket_test_hooks.h"
#include "platform/internal/unload.h"
#include "platform/lock.h"
#include "platform/sockets.h"
#include "platform/internal/sockets_internal.h"

namespace lanfeed {

namespace {

using sockets_internal::Acquire;
using sockets_internal::BadBuffer;
using sockets_internal::CallSeam;
using sockets_internal::CheckAccept;
using sockets_internal::CheckBind;
using sockets_internal::CheckConnect;
using sockets_internal::CheckCreate;
using sockets_internal::CheckListen;
using sockets_internal::CheckReceive;
using sockets_internal::ErrorOf;
using sockets_internal::Fail;
using sockets_internal::FailHandle;
using sockets_internal::FailNative;
using sockets_internal::Register;
using sockets_internal::Table;
using sockets_internal::kWouldBlock;
using sockets_internal::NativeSocket;
using sockets_internal::SocketEntry;
using sockets_internal::SocketTable;
using sockets_internal::StreamPortTaken;
using sockets_internal::WaitFor;
using Pin = SocketTable::Pin;

void ReleaseAtUnload() {
  Table().ReleaseAll();
  sockets_internal::ReleaseSocketFaults();
}

// --- Waiting -------------------------------------------------------------

// The time left of a time-out that begins with the first NextSlice.
class TimeLeft {
 public:
  explicit TimeLeft(int64_t timeout_ms) : left_(timeout_ms) {}

  // The longest the next wait may take: -1 for no limit, else 0..INT32_MAX
  // (a longer time-out takes several waits). Counts the time since the
  // previous call.
  int32_t NextSlice() {
    if (left_ < 0) return -1;
    const uint32_t now = sockets_internal::NativeTickMs();
    if (started_) {
      // Calls are about one slice (< 2^31 ms) apart, well within the range
      // where the wrapping difference is exact.
      const int64_t elapsed = static_cast<uint32_t>(now - last_);
      left_ = elapsed >= left_ ? 0 : left_ - elapsed;
    }
    started_ = true;
    last_ = now;
    slice_ = left_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(left_);
    return slice_;
  }

  // After a wait of the last slice ended with its own time-out: whether that
  // slice was all the time left. The system's time-out is trusted, so a
  // coarse clock never makes a wait end early.
  bool SliceWasAll() const { return left_ >= 0 && slice_ == left_; }

 private:
  int64_t left_;  // < 0: no limit
  bool started_ = false;
  uint32_t last_ = 0;
  int32_t slice_ = 0;
};

// Waits for `what` until it comes, `time` runs out or the socket is closed.
// 1 when it came, 0 on time-out, or minus the error (-10004 when the socket
// was closed); sets no last error.
int32_t WaitUntil(SocketEntry& socket, WaitFor what, TimeLeft& time, CallSeam& seam) {
  for (;;) {
    if (socket.Closed()) return -kWsaEintr;
    const int32_t slice = time.NextSlice();
    seam.Pass();
    const int32_t waited = sockets_internal::NativeWait(socket, what, slice);
    if (waited < 0) return -ErrorOf(socket, waited);
    if (socket.Closed()) return -kWsaEintr;
    if (waited > 0) return 1;
    if (time.SliceWasAll()) return 0;
  }
}

SocketReceiveResult Received(int32_t count) { return {SocketReceiveResult::kReceived, count, 0}; }
SocketReceiveResult TimedOut() { return {SocketReceiveResult::kTimedOut, 0, 0}; }
SocketReceiveResult ReceiveFailed(int32_t code) { return {SocketReceiveResult::kReceiveFailed, 0, code}; }
SocketReceiveResult CallFailed(int32_t code) { return {SocketReceiveResult::kCallFailed, 0, code}; }

// A receive that was made, from the native result: its count or its failure.
SocketReceiveResult ReceiveMade(int32_t result) { return result >= 0 ? Received(result) : ReceiveFailed(-result); }

// SocketRecvWithin once its checks have passed; sets no last error.
SocketReceiveResult ReceiveWithin(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from,
                                  int64_t timeout_ms, CallSeam& seam) {
  // On a stream socket the peer is fixed and `from` is left alone, as on Windows.
  SocketAddress* sender = socket.type == kSockDgram ? from : nullptr;
  TimeLeft time(timeout_ms);
  if (timeout_ms != 0) {
    // Where the backend can, the receive itself waits: one call per block.
    if (socket.Closed()) return CallFailed(kWsaEintr);
    seam.Pass();
    const int32_t result =
        sockets_internal::NativeReceiveWaiting(socket, buffer, length, sender, timeout_ms);
    if (socket.Closed()) return CallFailed(kWsaEintr);
    if (result == sockets_internal::kTimedOut) return TimedOut();
    if (result != kWouldBlock) return ReceiveMade(result);
  }
  // Else: try first, and wait only when nothing is there; never two waits
  // for one block.
  for (;;) {
    if (socket.Closed()) return CallFailed(kWsaEintr);
    seam.Pass();
    const int32_t result = sockets_internal::NativeReceive(socket, buffer, length, sender);
    // A close during the receive counts as one during the wait (the shut of
    // a close would read as the peer's close).
    if (socket.Closed()) return CallFailed(kWsaEintr);
    if (result != kWouldBlock) return ReceiveMade(result);
    if (timeout_ms == 0) return TimedOut();
    const int32_t ready = WaitUntil(socket, WaitFor::kReceive, time, seam);
    if (ready == 0) return TimedOut();
    if (ready < 0) return CallFailed(-ready);
  }
}

// SocketRecvWithin without its report: the checks, then the receive.
SocketReceiveResult CheckAndReceiveWithin(SocketHandle s, void* buffer, int32_t length, SocketAddress* from,
                                          int64_t timeout_ms) {
  Pin socket;
  if (const int32_t code = Table().Find(s, socket)) return CallFailed(code);
  // The injected wait failure stands for the wait this call may make.
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kWait)) return CallFailed(code);
  if (const int32_t code = CheckReceive(*socket, buffer, length)) return ReceiveFailed(code);
  CallSeam seam(s);
  return ReceiveWithin(*socket, buffer, length, from, timeout_ms, seam);
}

int32_t SendStream(SocketEntry& socket, SocketHandle s, const void* data, int32_t length) {
  if (!socket.connected) return Fail(kWsaEnotconn);
  CallSeam seam(s);
  const auto* bytes = static_cast<const char*>(data);
  TimeLeft forever(-1);
  int32_t sent = 0;
  while (sent < length) {
    if (socket.Closed()) return Fail(kWsaEintr);
    seam.Pass();
    const int32_t result = sockets_internal::NativeSend(socket, bytes + sent, length - sent, nullptr);
    if (result == kWouldBlock) {
      if (const int32_t ready = WaitUntil(socket, WaitFor::kSend, forever, seam); ready < 0) return Fail(-ready);
      continue;
    }
    if (result < 0) return FailNative(socket, result);
    sent += result;
  }
  return sent;
}

// One datagram to `to`, or to the connected peer when `to` is null.
int32_t SendDatagram(SocketEntry& socket, SocketHandle s, const void* data, int32_t length,
                     const SocketAddress* to) {
  CallSeam seam(s);
  TimeLeft forever(-1);
  for (;;) {
    if (socket.Closed()) return Fail(kWsaEintr);
    seam.Pass();
    const int32_t result = sockets_internal::NativeSend(socket, data, length, to);
    if (result >= 0) {
      socket.bound = true;
      return result;
    }
    if (result != kWouldBlock) return FailNative(socket, result);
    if (const int32_t ready = WaitUntil(socket, WaitFor::kSend, forever, seam); ready < 0) return Fail(-ready);
  }
}

}  // namespace

int32_t SocketsStartup() {
  int32_t code = sockets_internal::TakeSocketFault(SocketOp::kStartup);
  if (code == 0) code = sockets_internal::NativeStartup();
  if (code != 0) {
    sockets_internal::NativeSetLastError(code);
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

int32_t SocketLastError() { return sockets_internal::NativeLastError(); }
void SetSocketLastError(int32_t code) { sockets_internal::NativeSetLastError(code); }

SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol) {
  if (const int32_t code = CheckCreate(Table().Started(), family, type)) return FailHandle(code);
  // The hold keeps the system's library started from before the open until
  // the table counts the socket, or until a refused one has been released.
  if (const int32_t code = Table().Hold()) return FailHandle(code);
  NativeSocket* native = nullptr;
  SocketHandle handle = kInvalidSocket;
  if (const int32_t result = sockets_internal::NativeOpen(family, type, protocol, &native); result < 0) {
    handle = FailHandle(-result);
  } else {
    handle = Register(native, family, type, false);
  }
  Table().LetGo();
  return handle;
}

int32_t SocketBind(SocketHandle s, const SocketAddress& address) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  if (const int32_t code = CheckBind(*socket, address)) return Fail(code);
  // Under the table lock, so that two binds cannot both pass the port check.
  return Table().WithLock([&](const SocketTable::OpenEntries& open) -> int32_t {
    if (StreamPortTaken(open, *socket, address)) return Fail(kWsaEaddrinuse);
    if (const int32_t result = sockets_internal::NativeBind(*socket, address); result < 0) {
      return FailNative(*socket, result);
    }
    // The port the system chose for port 0, so that a later bind is checked.
    const int32_t port = sockets_internal::NativeLocalPort(*socket);
    socket->bindAddress = address;
    if (port > 0) socket->bindAddress.port = HostToNetShort(static_cast<uint16_t>(port));
    socket->bound = true;
    return 0;
  });
}

int32_t SocketListen(SocketHandle s, int32_t backlog) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  if (const int32_t code = CheckListen(*socket)) return Fail(code);
  if (const int32_t result = sockets_internal::NativeListen(*socket, backlog < 0 ? 0 : backlog); result < 0) {
    return FailNative(*socket, result);
  }
  socket->listening = true;
  return 0;
}

SocketHandle SocketAccept(SocketHandle s, SocketAddress* peer) {
  Pin socket;
  if (!Acquire(s, socket)) return kInvalidSocket;
  if (const int32_t code = CheckAccept(*socket)) return FailHandle(code);
  CallSeam seam(s);
  TimeLeft forever(-1);
  for (;;) {
    if (socket->Closed()) return FailHandle(kWsaEintr);
    seam.Pass();
    NativeSocket* accepted = nullptr;
    SocketAddress address{};
    const int32_t result = sockets_internal::NativeAccept(*socket, &accepted, &address);
    if (result == kWouldBlock) {
      if (const int32_t ready = WaitUntil(*socket, WaitFor::kReceive, forever, seam); ready < 0) {
        return FailHandle(-ready);
      }
      continue;
    }
    if (result < 0) {
      FailNative(*socket, result);
      return kInvalidSocket;
    }
    if (socket->Closed()) {
      sockets_internal::NativeRelease(accepted);
      return FailHandle(kWsaEintr);
    }
    const SocketHandle handle = Register(accepted, socket->family, kSockStream, true);
    if (handle != kInvalidSocket && peer != nullptr) *peer = address;
    return handle;
  }
}

int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  // A stream socket that neither listens nor is connected can never become
  // readable on Windows; Linux would report it hung up at once.
  const bool idle = socket->type == kSockStream && !socket->listening && !socket->connected;
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kWait)) return Fail(code);
  TimeLeft time(timeout_ms);
  CallSeam seam(s);
  const int32_t ready = WaitUntil(*socket, idle ? WaitFor::kClose : WaitFor::kReadable, time, seam);
  return ready < 0 ? Fail(-ready) : ready;
}

SocketReceiveResult SocketRecvWithin(SocketHandle s, void* buffer, int32_t length, SocketAddress* from,
                                     int64_t timeout_ms) {
  const SocketReceiveResult result = CheckAndReceiveWithin(s, buffer, length, from, timeout_ms);
  if (result.outcome == SocketReceiveResult::kReceiveFailed || result.outcome == SocketReceiveResult::kCallFailed) {
    sockets_internal::NativeSetLastError(result.error);
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
  if (!Acquire(s, socket)) return -1;
  if (const int32_t code = CheckConnect(*socket, address)) return Fail(code);
  if (socket->Closed()) return Fail(kWsaEintr);
  CallSeam seam(s);
  seam.Pass();
  TimeLeft forever(-1);
  int32_t result = sockets_internal::NativeConnect(*socket, address);
  while (result == kWouldBlock) {
    if (const int32_t ready = WaitUntil(*socket, WaitFor::kSend, forever, seam); ready < 0) return Fail(-ready);
    result = sockets_internal::NativeConnectResult(*socket);
  }
  if (result < 0 || socket->Closed()) return FailNative(*socket, result < 0 ? result : -kWsaEintr);
  socket->connected = true;
  socket->bound = true;
  return 0;
}

int32_t SocketSend(SocketHandle s, const void* data, int32_t length) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  if (BadBuffer(data, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return SendStream(*socket, s, data, length);
  if (!socket->connected) return Fail(kWsaEnotconn);
  return SendDatagram(*socket, s, data, length, nullptr);
}

int32_t SocketSendTo(SocketHandle s, const void* data, int32_t length, const SocketAddress& to) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  if (BadBuffer(data, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return SendStream(*socket, s, data, length);
  if (to.family != socket->family) return Fail(kWsaEafnosupport);
  return SendDatagram(*socket, s, data, length, &to);
}

int32_t SocketLocalPort(SocketHandle s) {
  Pin socket;
  if (!Acquire(s, socket)) return -1;
  if (!socket->bound) return Fail(kWsaEinval);
  const int32_t result = sockets_internal::NativeLocalPort(*socket);
  return result < 0 ? FailNative(*socket, result) : result;
}

}  // namespace lanfeed
