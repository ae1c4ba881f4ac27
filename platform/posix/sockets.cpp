// POSIX backend of the sockets service: the native operations that the
// shared part (sockets_common.cpp) asks for (internal/sockets_internal.h),
// with Windows Sockets behaviour where callers can tell: Windows error
// numbers, address reuse for stream sockets and 10040 for oversized
// datagrams. win32/sockets.cpp is the Windows one.
//
// Every socket is a descriptor plus a wake eventfd. NativeWait polls both, so
// any descriptor number works (no FD_SETSIZE limit) and the close of a socket
// (NativeShut: shutdown, then the eventfd made readable for good) ends every
// wait on it at once. The descriptor itself is closed only by NativeRelease,
// when no call uses it any more, so no thread ever uses a descriptor number
// after the kernel may have handed it to a new socket.
//
// Sockets that only receive on the servers' side (accepted connections and
// datagram sockets) are blocking descriptors: a receive that has to wait for
// data waits inside the receive itself (NativeReceiveWaiting), one system
// call per block whether or not data was already there. The close still
// ends it at once: the shutdown of NativeShut is sticky, so a receive that
// starts after it returns at once as well. Every other operation passes
// MSG_DONTWAIT or is made only on non-blocking descriptors (listening and
// connecting sockets), so no native operation but those two waits.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/sockets.h"
#include "platform/internal/sockets_internal.h"
#include "platform/internal/unload.h"

namespace lanfeed::sockets_internal {

struct NativeSocket {
  int fd;
  int wakeFd;  // readable for good once the socket is closed
  bool blocking;  // see above: receives may wait inside the system call
  // The receive time-out last set on the descriptor (SO_RCVTIMEO); -1: none.
  std::atomic<int64_t> receiveTimeoutMs{-1};
};

namespace {

// The one translation from errno to Windows Sockets numbers.
struct ErrnoCode {
  int error;
  int32_t code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {EINTR, kWsaEintr},
    {EBADF, kWsaEnotsock},
    {ENOTSOCK, kWsaEnotsock},
    {EACCES, kWsaEacces},
    {EPERM, kWsaEacces},
    {EFAULT, kWsaEfault},
    {EINVAL, kWsaEinval},
    {EMFILE, kWsaEmfile},
    {ENFILE, kWsaEmfile},
    {EAGAIN, kWsaEwouldblock},
    {EWOULDBLOCK, kWsaEwouldblock},
    {EINPROGRESS, kWsaEinprogress},
    {EALREADY, kWsaEalready},
    {EDESTADDRREQ, kWsaEdestaddrreq},
    {EMSGSIZE, kWsaEmsgsize},
    {EPROTOTYPE, kWsaEprototype},
    {ENOPROTOOPT, kWsaEnoprotoopt},
    {EPROTONOSUPPORT, kWsaEprotonosupport},
    {ESOCKTNOSUPPORT, kWsaEsocktnosupport},
    {EOPNOTSUPP, kWsaEopnotsupp},
    {EPFNOSUPPORT, kWsaEpfnosupport},
    {EAFNOSUPPORT, kWsaEafnosupport},
    {EADDRINUSE, kWsaEaddrinuse},
    {EADDRNOTAVAIL, kWsaEaddrnotavail},
    {ENETDOWN, kWsaEnetdown},
    {ENETUNREACH, kWsaEnetunreach},
    {ENETRESET, kWsaEnetreset},
    {ECONNABORTED, kWsaEconnaborted},
    {ECONNRESET, kWsaEconnreset},
    {ENOBUFS, kWsaEnobufs},
    {ENOMEM, kWsaEnobufs},
    {EISCONN, kWsaEisconn},
    {ENOTCONN, kWsaEnotconn},
    {ESHUTDOWN, kWsaEshutdown},
    {EPIPE, kWsaEshutdown},
    {ETIMEDOUT, kWsaEtimedout},
    {ECONNREFUSED, kWsaEconnrefused},
    {EHOSTDOWN, kWsaEhostdown},
    {EHOSTUNREACH, kWsaEhostunreach},
};

// Minus the Windows Sockets number for `error`, as native operations return it.
int32_t Failed(int error) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error == error) return -entry.code;
  }
  return -kWsaSyscallfailure;
}

// The system's form of an address; sockaddr_in6 is the larger of the two.
using SystemAddress = NativeAddress<sockaddr_in, sockaddr_in6>;

SocketAddress FromSystem(const SystemAddress& native) { return FromNative(native, AF_INET6); }

bool IsTransient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Takes ownership of `fd`: adds its wake eventfd.
int32_t Wrap(int fd, bool blocking, NativeSocket** out) {
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  NativeSocket* socket = wake < 0 ? nullptr : new (std::nothrow) NativeSocket{fd, wake, blocking};
  if (socket == nullptr) {
    const int32_t result = wake < 0 ? Failed(errno) : -kWsaEnobufs;
    if (wake >= 0) ::close(wake);
    ::close(fd);
    return result;
  }
  *out = socket;
  return 0;
}

}  // namespace

// Linux needs no library start; the count stands for Windows' own.
namespace {
constinit std::atomic<int32_t> g_startCount{0};
}  // namespace

int32_t NativeStartup() {
  g_startCount.fetch_add(1, std::memory_order_relaxed);
  return 0;
}
void NativeCleanup() { g_startCount.fetch_sub(1, std::memory_order_relaxed); }
int32_t NativeStartCount() { return g_startCount.load(std::memory_order_relaxed); }

namespace {
thread_local int32_t t_lastError = 0;

// The shared library's unload (or the program's exit) frees the static state
// that the platform layer registered, the sockets' handle table among it.
struct UnloadRunner {
  ~UnloadRunner() { platform_internal::RunUnloadFunctions(); }
} g_unloadRunner;
}  // namespace

int32_t NativeLastError() { return t_lastError; }
void NativeSetLastError(int32_t code) { t_lastError = code; }

int32_t NativeOpen(int32_t family, int32_t type, int32_t protocol, NativeSocket** out) {
  const int native_type = type == kSockStream ? SOCK_STREAM : SOCK_DGRAM;
  const int native_family = family == kAfInet6 ? AF_INET6 : AF_INET;
  // Stream sockets listen or connect, which must not block here.
  const bool blocking = native_type == SOCK_DGRAM;
  const int fd = ::socket(native_family, native_type | (blocking ? 0 : SOCK_NONBLOCK) | SOCK_CLOEXEC, protocol);
  if (fd < 0) return Failed(errno);
  if (native_family == AF_INET6) {
    // Dual-stack whatever the system's default (Windows' is IPv6 only):
    // bound to "::" the socket serves IPv4 peers too. Where the system
    // refuses, it stays IPv6 only.
    const int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
  }
  if (native_type == SOCK_STREAM) {
    // Lets a restarted listener bind while old connections on its port are
    // still closing (TIME_WAIT), as Windows does; Linux still refuses a port
    // that another socket listens on.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      const int32_t result = Failed(errno);
      ::close(fd);
      return result;
    }
  }
  return Wrap(fd, blocking, out);
}

void NativeShut(NativeSocket& socket) {
  // Ends a connection at once, as closesocket does; fails harmlessly on an
  // unconnected datagram socket. The wake fd is what the waiters rely on.
  ::shutdown(socket.fd, SHUT_RDWR);
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = ::write(socket.wakeFd, &one, sizeof one);
}

void NativeRelease(NativeSocket* socket) {
  ::close(socket->fd);
  ::close(socket->wakeFd);
  delete socket;
}

int32_t NativeBind(SocketEntry& socket, const SocketAddress& address) {
  SystemAddress native;
  const auto length = static_cast<socklen_t>(ToNative(address, AF_INET6, &native));
  if (::bind(socket.native->fd, reinterpret_cast<const sockaddr*>(&native), length) != 0) {
    return Failed(errno);
  }
  return 0;
}

int32_t NativeListen(SocketEntry& socket, int32_t backlog) {
  return ::listen(socket.native->fd, backlog) == 0 ? 0 : Failed(errno);
}

int32_t NativeLocalPort(SocketEntry& socket) {
  SystemAddress local{};
  socklen_t length = sizeof local;
  if (::getsockname(socket.native->fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return Failed(errno);
  return ntohs(FromSystem(local).port);
}

int32_t NativeAccept(SocketEntry& socket, NativeSocket** accepted, SocketAddress* peer) {
  SystemAddress native{};
  socklen_t length = sizeof native;
  const int fd = ::accept4(socket.native->fd, reinterpret_cast<sockaddr*>(&native), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    // A connection that was reset while queued is skipped, as blocking
    // accept does on Windows.
    if (IsTransient(errno) || errno == ECONNABORTED || errno == EPROTO) return kWouldBlock;
    return Failed(errno);
  }
  *peer = FromSystem(native);
  return Wrap(fd, true, accepted);
}

namespace {

// One receive with `flags`; kWouldBlock when it would wait (or, for a
// waiting receive, when its time-out passed or a signal interrupted it).
int32_t Receive(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from, int flags) {
  if (socket.type == kSockStream) {
    const ssize_t count = ::recv(socket.native->fd, buffer, static_cast<size_t>(length), flags);
    if (count >= 0) return static_cast<int32_t>(count);
    return IsTransient(errno) ? kWouldBlock : Failed(errno);
  }
  SystemAddress source{};
  iovec part{buffer, static_cast<size_t>(length)};
  msghdr message{};
  message.msg_name = &source;
  message.msg_namelen = sizeof source;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  const ssize_t count = ::recvmsg(socket.native->fd, &message, flags);
  if (count < 0) return IsTransient(errno) ? kWouldBlock : Failed(errno);
  if (from != nullptr) *from = FromSystem(source);
  // Linux hands over the head of a longer datagram; Windows refuses it.
  if ((message.msg_flags & MSG_TRUNC) != 0) return -kWsaEmsgsize;
  return static_cast<int32_t>(count);
}

}  // namespace

int32_t NativeReceive(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from) {
  return Receive(socket, buffer, length, from, MSG_DONTWAIT);
}

int32_t NativeReceiveWaiting(SocketEntry& socket, void* buffer, int32_t length, SocketAddress* from,
                             int64_t timeout_ms) {
  NativeSocket& native = *socket.native;
  if (!native.blocking) return kWouldBlock;
  if (native.receiveTimeoutMs.exchange(timeout_ms) != timeout_ms) {
    // The descriptor keeps the time-out, so a reader whose time-out does not
    // change sets it once. {0, 0}: no limit.
    timeval limit{};
    if (timeout_ms > 0) {
      limit.tv_sec = static_cast<time_t>(timeout_ms / 1000);
      limit.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
    }
    if (::setsockopt(native.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
      native.receiveTimeoutMs.store(-2);  // unknown: set it again next time
      return kWouldBlock;
    }
  }
  const int32_t result = Receive(socket, buffer, length, from, 0);
  if (result != kWouldBlock) return result;
  // EAGAIN from a blocking receive is its time-out; EINTR a signal, after
  // which the caller's own loop goes on with the time that is left.
  return errno == EINTR ? kWouldBlock : kTimedOut;
}

int32_t NativeSend(SocketEntry& socket, const void* data, int32_t length, const SocketAddress* to) {
  SystemAddress native;
  const auto native_length = to != nullptr ? static_cast<socklen_t>(ToNative(*to, AF_INET6, &native)) : 0;
  const ssize_t count = ::sendto(socket.native->fd, data, static_cast<size_t>(length), MSG_NOSIGNAL | MSG_DONTWAIT,
                                 to != nullptr ? reinterpret_cast<const sockaddr*>(&native) : nullptr,
                                 native_length);
  if (count >= 0) return static_cast<int32_t>(count);
  return IsTransient(errno) ? kWouldBlock : Failed(errno);
}

int32_t NativeConnect(SocketEntry& socket, const SocketAddress& address) {
  SystemAddress native;
  const auto length = static_cast<socklen_t>(ToNative(address, AF_INET6, &native));
  if (::connect(socket.native->fd, reinterpret_cast<const sockaddr*>(&native), length) == 0) return 0;
  // An interrupted connect goes on in the background, as one in progress.
  return errno == EINPROGRESS || errno == EINTR ? kWouldBlock : Failed(errno);
}

int32_t NativeConnectResult(SocketEntry& socket) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket.native->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
  return error == 0 ? 0 : Failed(error);
}

int32_t NativeWait(SocketEntry& socket, WaitFor what, int32_t slice_ms) {
  pollfd fds[2] = {{socket.native->wakeFd, POLLIN, 0},
                   {socket.native->fd, static_cast<short>(what == WaitFor::kSend ? POLLOUT : POLLIN), 0}};
  const nfds_t count = what == WaitFor::kClose ? 1 : 2;
  const int ready = ::poll(fds, count, slice_ms);
  if (ready < 0) return errno == EINTR ? 0 : Failed(errno);
  if (fds[0].revents != 0) return -kWsaEintr;
  // A hang-up or error counts as ready: the next call reports it.
  return ready > 0 && count == 2 && fds[1].revents != 0 ? 1 : 0;
}

uint32_t NativeTickMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace lanfeed::sockets_internal
