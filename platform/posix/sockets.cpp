// POSIX sockets backend with Windows Sockets behaviour where callers can tell:
// Windows error numbers, a reference-counted library, blocking calls that a
// close from another thread interrupts with 10004, 10038 for closed handles,
// address reuse for stream sockets and 10040 for oversized datagrams.
//
// Design. Every socket is an entry {fd, wake eventfd, flags} in the handle
// table (platform/socket_table.h). A call looks its handle up and keeps a
// shared reference to the entry for as long as it runs. SocketClose removes
// the entry from the table, marks it closed, shuts the descriptor down and
// signals the wake eventfd; the descriptor itself is closed only when the last
// running call lets go of the entry. So no thread can ever use a descriptor
// number after it was closed, when the kernel may already have handed that
// number to a new socket.
//
// Descriptors are non-blocking; every blocking call waits with poll() on
// {wake fd, socket fd} and then retries, so any descriptor number works and a
// readiness report that turns out stale (a connection reset before accept, a
// datagram dropped on a checksum error) never blocks a call beyond a close.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
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

int32_t CodeFromErrno(int error) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error == error) return entry.code;
  }
  return kWsaSyscallfailure;
}

// Sets the calling thread's last error and returns -1 for the callers' use.
int32_t Fail(int32_t code) {
  t_last_error = code;
  return -1;
}

struct Socket : sockets_internal::SocketState {
  Socket(int socket_fd, int wake, int32_t socket_type) : SocketState(socket_type), fd(socket_fd), wake_fd(wake) {}
  ~Socket() {
    ::close(fd);
    ::close(wake_fd);
  }

  // Marks the socket closed and wakes every call waiting on it. The descriptor
  // stays open until the last running call lets go of the entry.
  void Shut() {
    closed = true;
    // Ends a connection at once, as closesocket does; fails harmlessly on an
    // unconnected datagram socket. The wake fd is what the waiters rely on.
    ::shutdown(fd, SHUT_RDWR);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wake_fd, &one, sizeof one);
  }

  const int fd;
  const int wake_fd;  // readable for good once the socket is closed
  // Set by SocketBind; guarded by the table lock. Port 0: not bound by SocketBind.
  uint16_t bind_port = 0;     // network order
  uint32_t bind_address = 0;  // network order
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

// Takes ownership of `fd` and enters it into the table.
SocketHandle Register(int fd, int32_t type, bool connected) {
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    const int error = errno;
    ::close(fd);
    Fail(CodeFromErrno(error));
    return kInvalidSocket;
  }
  auto socket = std::make_shared<Socket>(fd, wake, type);
  socket->connected = connected;
  socket->bound = connected;
  SocketHandle handle = kInvalidSocket;
  // On failure the dropped entry closes both descriptors.
  if (const int32_t code = Table().Add(std::move(socket), handle)) Fail(code);
  return handle;
}

// Failure of a system call on `socket`: a call that a close interrupted
// reports 10004, whatever the system said.
int32_t FailCall(const Socket& socket, int error) {
  return Fail(socket.closed ? kWsaEintr : CodeFromErrno(error));
}

bool IsTransient(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Waits until `socket` reports `events` (or a hang-up or error). timeout_ms < 0:
// no limit. Returns 1 ready, 0 time-out, -1 failure (10004 once closed).
int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int32_t Wait(Socket& socket, short events, int64_t timeout_ms) {
  const int64_t start = NowMs();
  // Saturates, so that any time-out however long is honoured in full.
  const int64_t deadline = timeout_ms > INT64_MAX - start ? INT64_MAX : start + timeout_ms;
  pollfd fds[2] = {{socket.wake_fd, POLLIN, 0}, {socket.fd, events, 0}};
  // A stream socket that neither listens nor is connected can never become
  // readable on Windows; Linux would report it hung up at once.
  const bool idle_stream = events == POLLIN && socket.type == kSockStream && !socket.listening &&
                           !socket.connected;
  const nfds_t count = idle_stream ? 1 : 2;
  for (;;) {
    if (socket.closed) return Fail(kWsaEintr);
    int slice = -1;
    if (timeout_ms >= 0) {
      const int64_t left = deadline - NowMs();
      slice = left <= 0 ? 0 : (left > INT_MAX ? INT_MAX : static_cast<int>(left));
    }
    fds[0].revents = fds[1].revents = 0;
    const int ready = ::poll(fds, count, slice);
    if (ready < 0 && errno != EINTR) return FailCall(socket, errno);
    if (socket.closed || fds[0].revents != 0) return Fail(kWsaEintr);
    if (ready > 0 && count == 2 && fds[1].revents != 0) return 1;
    if (timeout_ms >= 0 && NowMs() >= deadline) return 0;
  }
}

int32_t ReceiveStream(Socket& socket, void* buffer, int32_t length) {
  if (!socket.connected) return Fail(kWsaEnotconn);
  for (;;) {
    if (Wait(socket, POLLIN, -1) < 0) return -1;
    const ssize_t count = ::recv(socket.fd, buffer, static_cast<size_t>(length), 0);
    if (count < 0) {
      if (IsTransient(errno)) continue;
      return FailCall(socket, errno);
    }
    // The shutdown of a close reads as the peer's close: report the close.
    if (socket.closed) return Fail(kWsaEintr);
    return static_cast<int32_t>(count);
  }
}

int32_t ReceiveDatagram(Socket& socket, void* buffer, int32_t length, SocketAddressIn* from) {
  if (!socket.bound) return Fail(kWsaEinval);
  for (;;) {
    if (Wait(socket, POLLIN, -1) < 0) return -1;
    sockaddr_in source{};
    iovec part{buffer, static_cast<size_t>(length)};
    msghdr message{};
    message.msg_name = &source;
    message.msg_namelen = sizeof source;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t count = ::recvmsg(socket.fd, &message, 0);
    if (count < 0) {
      if (IsTransient(errno)) continue;
      return FailCall(socket, errno);
    }
    if (socket.closed) return Fail(kWsaEintr);
    if (from != nullptr) *from = FromNative(source);
    // Linux hands over the head of a longer datagram; Windows refuses it.
    if ((message.msg_flags & MSG_TRUNC) != 0) return Fail(kWsaEmsgsize);
    return static_cast<int32_t>(count);
  }
}

int32_t SendStream(Socket& socket, const void* data, int32_t length) {
  if (!socket.connected) return Fail(kWsaEnotconn);
  const auto* bytes = static_cast<const char*>(data);
  int32_t sent = 0;
  while (sent < length) {
    const ssize_t count = ::send(socket.fd, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (count < 0) {
      if (errno == EINTR) continue;
      if (IsTransient(errno)) {
        if (Wait(socket, POLLOUT, -1) < 0) return -1;
        continue;
      }
      return FailCall(socket, errno);
    }
    sent += static_cast<int32_t>(count);
  }
  return sent;
}

// One datagram to `to`, or to the connected peer when `to` is null.
int32_t SendDatagram(Socket& socket, const void* data, int32_t length, const SocketAddressIn* to) {
  sockaddr_in native{};
  if (to != nullptr) native = ToNative<sockaddr_in>(*to);
  for (;;) {
    const ssize_t count =
        ::sendto(socket.fd, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                 to != nullptr ? reinterpret_cast<const sockaddr*>(&native) : nullptr,
                 to != nullptr ? sizeof native : 0);
    if (count >= 0) {
      socket.bound = true;
      return static_cast<int32_t>(count);
    }
    if (errno == EINTR) continue;
    if (IsTransient(errno)) {
      if (Wait(socket, POLLOUT, -1) < 0) return -1;
      continue;
    }
    return FailCall(socket, errno);
  }
}

}  // namespace

int32_t SocketsStartup() {
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kStartup)) {
    t_last_error = code;
    return code;
  }
  Table().Startup();
  return 0;
}

void SocketsCleanup() {
  // The last cleanup closes whatever is still open, as WSACleanup does.
  if (const int32_t code = Table().Cleanup()) Fail(code);
}

int32_t SocketLastError() { return t_last_error; }
void SetSocketLastError(int32_t code) { t_last_error = code; }

SocketHandle SocketCreate(int32_t family, int32_t type, int32_t protocol) {
  if (const int32_t code = sockets_internal::CheckCreate(Table().Started(), family, type)) {
    Fail(code);
    return kInvalidSocket;
  }
  const int native_type = type == kSockStream ? SOCK_STREAM : SOCK_DGRAM;
  const int fd = ::socket(AF_INET, native_type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    Fail(CodeFromErrno(errno));
    return kInvalidSocket;
  }
  if (native_type == SOCK_STREAM) {
    // Lets a restarted listener bind while old connections on its port are
    // still closing (TIME_WAIT), as Windows does; Linux still refuses a port
    // that another socket listens on.
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      const int error = errno;
      ::close(fd);
      Fail(CodeFromErrno(error));
      return kInvalidSocket;
    }
  }
  return Register(fd, type, false);
}

int32_t SocketBind(SocketHandle s, const SocketAddressIn& address) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::CheckBind(*socket, address)) return Fail(code);
  // Under the table lock, so that two binds cannot both pass the port check.
  return Table().WithLock([&](const SocketTable<Socket>::Entries& open) -> int32_t {
    if (socket->type == kSockStream && address.port != 0) {
      // Address reuse would let two of our stream sockets bind one port as
      // long as neither listens yet; Windows refuses the second bind.
      for (const auto& entry : open) {
        const Socket& other = *entry.second;
        if (&other == socket.get() || other.type != kSockStream || other.bind_port != address.port) continue;
        if (other.bind_address == 0 || address.address == 0 || other.bind_address == address.address) {
          return Fail(kWsaEaddrinuse);
        }
      }
    }
    const auto native = ToNative<sockaddr_in>(address);
    if (::bind(socket->fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0) {
      return FailCall(*socket, errno);
    }
    sockaddr_in local{};
    socklen_t local_length = sizeof local;
    if (::getsockname(socket->fd, reinterpret_cast<sockaddr*>(&local), &local_length) == 0) {
      socket->bind_port = local.sin_port;
    }
    socket->bind_address = address.address;
    socket->bound = true;
    return 0;
  });
}

int32_t SocketListen(SocketHandle s, int32_t backlog) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::CheckListen(*socket)) return Fail(code);
  if (::listen(socket->fd, backlog < 0 ? 0 : backlog) != 0) return FailCall(*socket, errno);
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
  for (;;) {
    if (Wait(*socket, POLLIN, -1) < 0) return kInvalidSocket;
    sockaddr_in native{};
    socklen_t length = sizeof native;
    const int fd = ::accept4(socket->fd, reinterpret_cast<sockaddr*>(&native), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      // A connection that was reset while queued is skipped, as blocking
      // accept does on Windows.
      if (IsTransient(errno) || errno == ECONNABORTED || errno == EPROTO) continue;
      FailCall(*socket, errno);
      return kInvalidSocket;
    }
    if (socket->closed) {
      ::close(fd);
      Fail(kWsaEintr);
      return kInvalidSocket;
    }
    const SocketHandle accepted = Register(fd, kSockStream, true);
    if (accepted != kInvalidSocket && peer != nullptr) *peer = FromNative(native);
    return accepted;
  }
}

int32_t SocketWaitReadable(SocketHandle s, int64_t timeout_ms) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (const int32_t code = sockets_internal::TakeSocketFault(SocketOp::kWait)) return Fail(code);
  return Wait(*socket, POLLIN, timeout_ms);
}

int32_t SocketRecvFrom(SocketHandle s, void* buffer, int32_t length, SocketAddressIn* from) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (BadBuffer(buffer, length)) return Fail(kWsaEfault);
  // On a stream socket the peer is fixed and `from` is left alone, as on Windows.
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
  if (::connect(socket->fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return FailCall(*socket, errno);
    if (Wait(*socket, POLLOUT, -1) < 0) return -1;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket->fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) return FailCall(*socket, error);
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
  return SendDatagram(*socket, data, length, nullptr);
}

int32_t SocketSendTo(SocketHandle s, const void* data, int32_t length, const SocketAddressIn& to) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (BadBuffer(data, length)) return Fail(kWsaEfault);
  if (socket->type == kSockStream) return SendStream(*socket, data, length);
  if (to.family != kAfInet) return Fail(kWsaEafnosupport);
  return SendDatagram(*socket, data, length, &to);
}

int32_t SocketLocalPort(SocketHandle s) {
  SocketRef socket = Acquire(s);
  if (!socket) return -1;
  if (!socket->bound) return Fail(kWsaEinval);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(socket->fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    return FailCall(*socket, errno);
  }
  return ntohs(local.sin_port);
}

}  // namespace lanfeed
