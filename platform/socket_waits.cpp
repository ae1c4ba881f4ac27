// The loops of the sockets service's calls that may wait
// (internal/socket_waits.h): the time left of a time-out, the wait that
// ends at a close, and the accept, connect, receive and send loops.
#include "platform/internal/socket_waits.h"

#include <climits>

#include "platform/internal/socket_checks.h"

namespace lanfeed::sockets_internal {

namespace {

// The time left of a time-out that begins with the first NextSlice.
class TimeLeft {
 public:
  explicit TimeLeft(int64_t timeout_ms) : left_(timeout_ms) {}

  // The longest the next wait may take: -1 for no limit, else 0..INT32_MAX
  // (a longer time-out takes several waits). Counts the time since the
  // previous call.
  int32_t NextSlice() {
    if (left_ < 0) return -1;
    const uint32_t now = NativeTickMs();
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
// was closed).
int32_t WaitUntil(SocketEntry& socket, WaitFor what, TimeLeft& time, CallSeam& seam) {
  for (;;) {
    if (socket.Closed()) return -kWsaEintr;
    const int32_t slice = time.NextSlice();
    seam.Pass();
    const int32_t waited = NativeWait(socket, what, slice);
    if (waited < 0) return -ErrorOf(socket, waited);
    if (socket.Closed()) return -kWsaEintr;
    if (waited > 0) return 1;
    if (time.SliceWasAll()) return 0;
  }
}

// A receive that was made, from the native result: its count or its failure.
SocketReceiveResult ReceiveMade(int32_t result) {
  return result >= 0 ? ReceivedCount(result) : ReceiveFailedWith(-result);
}

}  // namespace

int32_t WaitWithin(SocketEntry& socket, WaitFor what, int64_t timeout_ms, CallSeam& seam) {
  TimeLeft time(timeout_ms);
  return WaitUntil(socket, what, time, seam);
}

int32_t AcceptWaiting(SocketEntry& socket, NativeSocket** accepted, SocketAddress* peer, CallSeam& seam) {
  TimeLeft forever(-1);
  for (;;) {
    if (socket.Closed()) return -kWsaEintr;
    seam.Pass();
    const int32_t result = NativeAccept(socket, accepted, peer);
    if (result == kWouldBlock) {
      if (const int32_t ready = WaitUntil(socket, WaitFor::kReceive, forever, seam); ready < 0) return ready;
      continue;
    }
    if (result < 0) return -ErrorOf(socket, result);
    if (socket.Closed()) {
      NativeRelease(*accepted);
      *accepted = nullptr;
      return -kWsaEintr;
    }
    return 0;
  }
}

int32_t ConnectWaiting(SocketEntry& socket, const SocketAddress& address, CallSeam& seam) {
  if (socket.Closed()) return -kWsaEintr;
  seam.Pass();
  TimeLeft forever(-1);
  int32_t result = NativeConnect(socket, address);
  while (result == kWouldBlock) {
    if (const int32_t ready = WaitUntil(socket, WaitFor::kSend, forever, seam); ready < 0) return ready;
    result = NativeConnectResult(socket);
  }
  if (result < 0 || socket.Closed()) return -ErrorOf(socket, result < 0 ? result : -kWsaEintr);
  return 0;
}

SocketReceiveResult ReceiveWithin(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from,
                                  int64_t timeout_ms, CallSeam& seam) {
  // On a stream socket the peer is fixed and `from` is left alone, as on Windows.
  SocketAddress* sender = socket.type == kSockDgram ? from : nullptr;
  TimeLeft time(timeout_ms);
  if (timeout_ms != 0) {
    // Where the backend can, the receive itself waits: one call per block.
    if (socket.Closed()) return CallFailedWith(kWsaEintr);
    seam.Pass();
    const int32_t result = NativeReceiveWaiting(socket, buffer, length, sender, timeout_ms);
    if (socket.Closed()) return CallFailedWith(kWsaEintr);
    if (result == kTimedOut) return ReceiveTimedOut();
    if (result != kWouldBlock) return ReceiveMade(result);
  }
  // Else: try first, and wait only when nothing is there; never two waits
  // for one block.
  for (;;) {
    if (socket.Closed()) return CallFailedWith(kWsaEintr);
    seam.Pass();
    const int32_t result = NativeReceive(socket, buffer, length, sender);
    // A close during the receive counts as one during the wait (the shut of
    // a close would read as the peer's close).
    if (socket.Closed()) return CallFailedWith(kWsaEintr);
    if (result != kWouldBlock) return ReceiveMade(result);
    if (timeout_ms == 0) return ReceiveTimedOut();
    const int32_t ready = WaitUntil(socket, WaitFor::kReceive, time, seam);
    if (ready == 0) return ReceiveTimedOut();
    if (ready < 0) return CallFailedWith(-ready);
  }
}

int32_t SendStream(SocketEntry& socket, const void* data, int32_t length, CallSeam& seam) {
  const auto* bytes = static_cast<const char*>(data);
  TimeLeft forever(-1);
  int32_t sent = 0;
  while (sent < length) {
    if (socket.Closed()) return -kWsaEintr;
    seam.Pass();
    const int32_t result = NativeSend(socket, bytes + sent, length - sent, nullptr);
    if (result == kWouldBlock) {
      if (const int32_t ready = WaitUntil(socket, WaitFor::kSend, forever, seam); ready < 0) return ready;
      continue;
    }
    if (result < 0) return -ErrorOf(socket, result);
    sent += result;
  }
  return sent;
}

int32_t SendDatagram(SocketEntry& socket, const void* data, int32_t length, const SocketAddress* to,
                     CallSeam& seam) {
  TimeLeft forever(-1);
  for (;;) {
    if (socket.Closed()) return -kWsaEintr;
    seam.Pass();
    const int32_t result = NativeSend(socket, data, length, to);
    if (result >= 0) return result;
    if (result != kWouldBlock) return -ErrorOf(socket, result);
    if (const int32_t ready = WaitUntil(socket, WaitFor::kSend, forever, seam); ready < 0) return ready;
  }
}

}  // namespace lanfeed::sockets_internal
