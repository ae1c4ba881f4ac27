// Windows backend of the sockets service: the Windows Sockets 2 native
// operations that the shared part (sockets_common.cpp) asks for
// (internal/sockets_internal.h). posix/sockets.cpp is the Linux stand-in.
//
// Every socket is selected for its network events into an event object of
// its own (WSAEventSelect) and has a second, manual-reset wake event that
// NativeShut sets for good. A wait is one WSAWaitForMultipleEvents on both,
// the wake event first: the close of a socket ends every wait on it at once
// (select, accept, recv and recvfrom alike, since the shared loops wait only
// here), and those calls fail with 10004. The native socket is closed
// (closesocket) only by NativeRelease, when no call uses it any more: Winsock
// hands a closed SOCKET value out again at once, so closing it under a
// running call could let that call reach another socket.
//
// Event selection makes the socket non-blocking: each operation tries once
// and returns kWouldBlock, and the shared loop waits before it tries again.
// Winsock records FD_READ and FD_ACCEPT again only after the recv or accept
// that re-enables them; every wait follows such a try, so none waits for an
// event that will not come. WSAEnumNetworkEvents resets the event object and
// consumes what was recorded, so a waiter that consumes events meant for
// another kind of call on the same socket (a sender's FD_WRITE while it waits
// to receive, or FD_CLOSE, which concerns both) sets the event object again:
// another waiter wakes, and the consumer itself retries once for nothing.
// An accepted socket inherits its listener's event selection, event object
// included, and gets its own at once.
//
// SocketWaitReadable needs readiness as select reports it, not an event: its
// wait asks select with a zero time-out before each wait on the events.
//
// One waiter per direction: at most one thread at a time may wait to
// receive on a socket (SocketWaitReadable, Accept, Recv, RecvFrom,
// RecvWithin) and at most one to send (Connect, Send, SendTo); a receiver
// and a sender may wait at once, and a close may come from any thread.
// Two waiters of one direction would share one event record: one can
// consume the FD_READ that the other's failed receive re-enabled, and the
// other then sleeps with data pending. The servers keep the rule (one thread
// per socket). A wait that breaks it is counted (NativeWaiterClashes), so
// the tests can see it; it is not refused, as the POSIX backend allows it.
//
// Only calls that Windows CE's Winsock 2 and core library offer are used;
// the clock is GetTickCount, whose wrap-around the shared part handles.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <new>

#include "platform/sockets.h"
#include "platform/internal/sockets_internal.h"
#include "platform/internal/unload.h"

namespace lanfeed::sockets_internal {
namespace {

constexpr long kReceiveEvents = FD_READ | FD_ACCEPT | FD_CLOSE;
constexpr long kSendEvents = FD_WRITE | FD_CONNECT | FD_CLOSE;
// Not 0 (connected) nor minus an error: no FD_CONNECT recorded yet.
constexpr int32_t kConnectPending = 1;

// The system's form of an address; sockaddr_in6 is the larger of the two.
using SystemAddress = NativeAddress<sockaddr_in, sockaddr_in6>;

SocketAddress FromSystem(const SystemAddress& native) { return FromNative(native, AF_INET6); }

// Minus the calling thread's last Winsock error, as native operations return it.
int32_t LastFailure() { return -static_cast<int32_t>(WSAGetLastError()); }

// The result of a Winsock call that failed with SOCKET_ERROR.
int32_t FailedCall() {
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK ? kWouldBlock : -static_cast<int32_t>(error);
}

}  // namespace

struct NativeSocket {
  SOCKET socket = INVALID_SOCKET;
  WSAEVENT network = WSA_INVALID_EVENT;  // selected for every event of the socket
  WSAEVENT wake = WSA_INVALID_EVENT;     // set for good by NativeShut
  // FD_CONNECT's outcome once a wait has consumed it: 0 or minus the error.
  std::atomic<int32_t> connectResult{kConnectPending};
  // Threads in NativeWait per direction (receive, send): see the file comment.
  std::atomic<int32_t> waiters[2] = {0, 0};
};

namespace {

void CloseEvents(NativeSocket& socket) {
  if (socket.network != WSA_INVALID_EVENT) WSACloseEvent(socket.network);
  if (socket.wake != WSA_INVALID_EVENT) WSACloseEvent(socket.wake);
}

// Takes ownership of `native`: creates its events and selects its network
// events (replacing any selection an accepted socket inherited).
int32_t Wrap(SOCKET native, NativeSocket** out) {
  auto* socket = new (std::nothrow) NativeSocket;
  if (socket == nullptr) {
    ::closesocket(native);
    return -kWsaEnobufs;
  }
  socket->socket = native;
  int32_t result = 0;
  socket->network = WSACreateEvent();
  socket->wake = socket->network == WSA_INVALID_EVENT ? WSA_INVALID_EVENT : WSACreateEvent();
  if (socket->wake == WSA_INVALID_EVENT) {
    result = LastFailure();
  } else if (WSAEventSelect(native, socket->network, kReceiveEvents | kSendEvents) == SOCKET_ERROR) {
    result = LastFailure();
  }
  if (result < 0) {
    ::closesocket(native);
    CloseEvents(*socket);
    delete socket;
    return result;
  }
  *out = socket;
  return 0;
}

// Records what WSAEnumNetworkEvents reports and resets the event object; see
// the file comment for why it may set it again.
int32_t ConsumeEvents(NativeSocket& socket, WaitFor what) {
  WSANETWORKEVENTS happened{};
  if (WSAEnumNetworkEvents(socket.socket, socket.network, &happened) == SOCKET_ERROR) return LastFailure();
  if ((happened.lNetworkEvents & FD_CONNECT) != 0) {
    const int error = happened.iErrorCode[FD_CONNECT_BIT];
    socket.connectResult.store(error == 0 ? 0 : -error, std::memory_order_release);
  }
  const long mine = (what == WaitFor::kSend ? kSendEvents : kReceiveEvents) & ~FD_CLOSE;
  if ((happened.lNetworkEvents & ~mine) != 0) WSASetEvent(socket.network);
  return 0;
}

// Whether select reports the socket readable now: 1, 0 or minus the error.
int32_t ReadableNow(NativeSocket& socket) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket.socket, &readable);
  timeval zero{};
  const int ready = ::select(0, &readable, nullptr, nullptr, &zero);
  if (ready == SOCKET_ERROR) return LastFailure();
  return ready > 0 ? 1 : 0;
}

}  // namespace

// The last error lives in a slot of the system's thread-local storage
// (TlsAlloc): the device's DLLs cannot have implicit TLS, and the thread's
// own Win32 last error, where Winsock keeps its own, is changed by unrelated
// calls in between (thread creation, TlsGetValue itself), while a socket
// error must stay until the next failed socket call. The slot is taken at
// the first startup (on the host's thread, before the threads that use it,
// as Windows CE asks), or at a use before that, and given back at the
// library's unload. Without a slot (the system ran out of them) the error
// goes where Winsock keeps it.
namespace {
constinit std::atomic<DWORD> g_errorSlot{TLS_OUT_OF_INDEXES};

void FreeErrorSlot() {
  const DWORD slot = g_errorSlot.exchange(TLS_OUT_OF_INDEXES);
  if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
}

DWORD ErrorSlot() {
  DWORD slot = g_errorSlot.load(std::memory_order_acquire);
  if (slot != TLS_OUT_OF_INDEXES) return slot;
  const DWORD fresh = TlsAlloc();
  if (fresh == TLS_OUT_OF_INDEXES) return fresh;
  if (!g_errorSlot.compare_exchange_strong(slot, fresh, std::memory_order_acq_rel)) {
    TlsFree(fresh);  // another thread's slot came first
    return slot;
  }
  platform_internal::RunAtUnload(&FreeErrorSlot);
  return fresh;
}
}  // namespace

namespace {
constinit std::atomic<int32_t> g_startCount{0};  // WSAStartup calls not yet cleaned up
}  // namespace

int32_t NativeStartup() {
  ErrorSlot();
  WSADATA data;
  const int32_t code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code == 0) g_startCount.fetch_add(1, std::memory_order_relaxed);
  return code;
}

void NativeCleanup() {
  g_startCount.fetch_sub(1, std::memory_order_relaxed);
  WSACleanup();
}

int32_t NativeStartCount() { return g_startCount.load(std::memory_order_relaxed); }

int32_t NativeLastError() {
  const DWORD slot = ErrorSlot();
  if (slot == TLS_OUT_OF_INDEXES) return WSAGetLastError();
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(TlsGetValue(slot)));
}

void NativeSetLastError(int32_t code) {
  const DWORD slot = ErrorSlot();
  if (slot == TLS_OUT_OF_INDEXES || !TlsSetValue(slot, reinterpret_cast<LPVOID>(static_cast<intptr_t>(code)))) {
    WSASetLastError(code);
  }
}

int32_t NativeOpen(int32_t family, int32_t type, int32_t protocol, NativeSocket** out) {
  const SOCKET native = ::socket(family == kAfInet6 ? AF_INET6 : AF_INET, type, protocol);
  if (native == INVALID_SOCKET) return LastFailure();
  if (family == kAfInet6) {
    // Dual-stack where the system offers it (Windows' default is IPv6
    // only): bound to "::" the socket serves IPv4 peers too. Where the
    // option is unknown, as on older systems, it stays IPv6 only.
    const DWORD off = 0;
    ::setsockopt(native, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off), sizeof off);
  }
  return Wrap(native, out);
}

void NativeShut(NativeSocket& socket) {
  // Ends a connection at once, as the POSIX backend does; fails harmlessly
  // on a socket without one. The wake event is what the waiters rely on.
  ::shutdown(socket.socket, SD_BOTH);
  WSASetEvent(socket.wake);
}

void NativeRelease(NativeSocket* socket) {
  ::closesocket(socket->socket);
  CloseEvents(*socket);
  delete socket;
}

int32_t NativeBind(SocketEntry& socket, const SocketAddress& address) {
  SystemAddress native;
  const int length = ToNative(address, AF_INET6, &native);
  if (::bind(socket.native->socket, reinterpret_cast<const sockaddr*>(&native), length) == SOCKET_ERROR) {
    return LastFailure();
  }
  return 0;
}

int32_t NativeListen(SocketEntry& socket, int32_t backlog) {
  return ::listen(socket.native->socket, backlog) == SOCKET_ERROR ? LastFailure() : 0;
}

int32_t NativeLocalPort(SocketEntry& socket) {
  SystemAddress local{};
  int length = sizeof local;
  if (::getsockname(socket.native->socket, reinterpret_cast<sockaddr*>(&local), &length) == SOCKET_ERROR) {
    return LastFailure();
  }
  return ntohs(FromSystem(local).port);
}

int32_t NativeAccept(SocketEntry& socket, NativeSocket** accepted, SocketAddress* peer) {
  SystemAddress native{};
  int length = sizeof native;
  const SOCKET client = ::accept(socket.native->socket, reinterpret_cast<sockaddr*>(&native), &length);
  if (client == INVALID_SOCKET) return FailedCall();
  *peer = FromSystem(native);
  return Wrap(client, accepted);
}

int32_t NativeReceive(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from) {
  const SOCKET native = socket.native->socket;
  if (socket.type == kSockStream) {
    const int count = ::recv(native, static_cast<char*>(buffer), length, 0);
    return count == SOCKET_ERROR ? FailedCall() : count;
  }
  SystemAddress source{};
  int source_length = sizeof source;
  const int count = ::recvfrom(native, static_cast<char*>(buffer), length, 0,
                               reinterpret_cast<sockaddr*>(&source), &source_length);
  const int32_t result = count == SOCKET_ERROR ? FailedCall() : count;
  // Windows fills the buffer with the head of a longer datagram and reports
  // WSAEMSGSIZE (10040); the caller gets the failure and the sender only.
  if (from != nullptr && (result >= 0 || result == -kWsaEmsgsize)) *from = FromSystem(source);
  return result;
}

// An event-selected socket never blocks, so a waiting receive is made of a
// receive, a wait on the two events and a receive again (the shared loop).
int32_t NativeReceiveWaiting(SocketEntry&, void*, int32_t, SocketAddress*, int64_t) { return kWouldBlock; }

int32_t NativeSend(SocketEntry& socket, const void* data, int32_t length, const SocketAddress* to) {
  const SOCKET native = socket.native->socket;
  const char* bytes = static_cast<const char*>(data);
  int count = 0;
  if (to == nullptr) {
    count = ::send(native, bytes, length, 0);
  } else {
    SystemAddress address;
    const int address_length = ToNative(*to, AF_INET6, &address);
    count = ::sendto(native, bytes, length, 0, reinterpret_cast<const sockaddr*>(&address), address_length);
  }
  return count == SOCKET_ERROR ? FailedCall() : count;
}

int32_t NativeConnect(SocketEntry& socket, const SocketAddress& address) {
  socket.native->connectResult.store(kConnectPending, std::memory_order_release);
  SystemAddress native;
  const int length = ToNative(address, AF_INET6, &native);
  if (::connect(socket.native->socket, reinterpret_cast<const sockaddr*>(&native), length) == 0) return 0;
  return FailedCall();  // WSAEWOULDBLOCK while it proceeds
}

int32_t NativeConnectResult(SocketEntry& socket) {
  const int32_t result = socket.native->connectResult.load(std::memory_order_acquire);
  return result == kConnectPending ? kWouldBlock : result;
}

namespace {
constinit std::atomic<int32_t> g_waiterClashes{0};

// Counts the calling thread as a waiter of one direction for its lifetime,
// and a clash when another waiter of that direction is already there.
class WaiterCount {
 public:
  WaiterCount(NativeSocket& socket, WaitFor what) {
    // kClose waits on the wake event alone and consumes no network event.
    if (what == WaitFor::kClose) return;
    count_ = &socket.waiters[what == WaitFor::kSend ? 1 : 0];
    // Relaxed: a counter for the tests, ordering nothing else.
    if (count_->fetch_add(1, std::memory_order_relaxed) != 0) {
      g_waiterClashes.fetch_add(1, std::memory_order_relaxed);
    }
  }
  ~WaiterCount() {
    if (count_ != nullptr) count_->fetch_sub(1, std::memory_order_relaxed);
  }
  WaiterCount(const WaiterCount&) = delete;
  WaiterCount& operator=(const WaiterCount&) = delete;

 private:
  std::atomic<int32_t>* count_ = nullptr;
};
}  // namespace

int32_t NativeWaiterClashes() { return g_waiterClashes.load(std::memory_order_relaxed); }

int32_t NativeWait(SocketEntry& entry, WaitFor what, int32_t slice_ms) {
  NativeSocket& socket = *entry.native;
  const WaiterCount waiter(socket, what);
  WSAEVENT events[2] = {socket.wake, socket.network};
  const DWORD count = what == WaitFor::kClose ? 1 : 2;
  const DWORD start = GetTickCount();
  DWORD limit = slice_ms < 0 ? WSA_INFINITE : static_cast<DWORD>(slice_ms);
  for (;;) {
    if (what == WaitFor::kReadable) {
      if (const int32_t readable = ReadableNow(socket); readable != 0) return readable;
    }
    const DWORD woke = WSAWaitForMultipleEvents(count, events, FALSE, limit, FALSE);
    if (woke == WSA_WAIT_EVENT_0) return -kWsaEintr;
    if (woke == WSA_WAIT_TIMEOUT) return 0;
    if (woke != WSA_WAIT_EVENT_0 + 1) return LastFailure();
    if (const int32_t consumed = ConsumeEvents(socket, what); consumed < 0) return consumed;
    if (what != WaitFor::kReadable) return 1;
    // An event is no proof of readability: ask select again, for the rest
    // of the slice.
    if (slice_ms >= 0) {
      const DWORD elapsed = GetTickCount() - start;
      limit = elapsed >= static_cast<DWORD>(slice_ms) ? 0 : static_cast<DWORD>(slice_ms) - elapsed;
    }
  }
}

uint32_t NativeTickMs() { return GetTickCount(); }

}  // namespace lanfeed::sockets_internal
