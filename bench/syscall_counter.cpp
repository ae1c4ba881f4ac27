#include "bench/syscall_counter.h"

#include <dlfcn.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>

namespace bench {

namespace {

std::atomic<bool> g_enabled{false};
std::atomic<uint64_t> g_counts[kReceiveCallKinds];
thread_local bool t_excluded = false;

const char* const kNames[kReceiveCallKinds] = {
    "poll", "ppoll", "select", "pselect", "epoll_wait", "epoll_pwait",
    "recv", "recvfrom", "recvmsg", "recvmmsg", "read", "readv",
};

void Count(ReceiveCall call) {
  if (g_enabled.load(std::memory_order_relaxed) && !t_excluded) {
    g_counts[static_cast<std::size_t>(call)].fetch_add(1, std::memory_order_relaxed);
  }
}

// The C library's definition of `name` (the next one after this program's).
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

const char* ReceiveCallName(std::size_t kind) { return kind < kReceiveCallKinds ? kNames[kind] : "?"; }

uint64_t ReceiveCallCounts::total() const {
  uint64_t sum = 0;
  for (uint64_t count : calls) sum += count;
  return sum;
}

ReceiveCallCounts ReceiveCallCounts::operator-(const ReceiveCallCounts& earlier) const {
  ReceiveCallCounts difference;
  for (std::size_t i = 0; i < kReceiveCallKinds; ++i) difference.calls[i] = calls[i] - earlier.calls[i];
  return difference;
}

void EnableCallCounting() { g_enabled = true; }
void ExcludeThisThread() { t_excluded = true; }

ReceiveCallCounts CurrentCallCounts() {
  ReceiveCallCounts counts;
  for (std::size_t i = 0; i < kReceiveCallKinds; ++i) counts.calls[i] = g_counts[i].load();
  return counts;
}

}  // namespace bench

// The interposed functions. Each counts, then calls the C library's.
using bench::Count;
using bench::Next;
using bench::ReceiveCall;

extern "C" {

int poll(struct pollfd* fds, nfds_t count, int timeout) {
  static auto real = Next<int (*)(struct pollfd*, nfds_t, int)>("poll");
  Count(ReceiveCall::kPoll);
  return real(fds, count, timeout);
}

int ppoll(struct pollfd* fds, nfds_t count, const struct timespec* timeout, const sigset_t* mask) {
  static auto real = Next<int (*)(struct pollfd*, nfds_t, const struct timespec*, const sigset_t*)>("ppoll");
  Count(ReceiveCall::kPpoll);
  return real(fds, count, timeout, mask);
}

int select(int count, fd_set* read, fd_set* write, fd_set* except, struct timeval* timeout) {
  static auto real = Next<int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*)>("select");
  Count(ReceiveCall::kSelect);
  return real(count, read, write, except, timeout);
}

int pselect(int count, fd_set* read, fd_set* write, fd_set* except, const struct timespec* timeout,
            const sigset_t* mask) {
  static auto real =
      Next<int (*)(int, fd_set*, fd_set*, fd_set*, const struct timespec*, const sigset_t*)>("pselect");
  Count(ReceiveCall::kPselect);
  return real(count, read, write, except, timeout, mask);
}

int epoll_wait(int epfd, struct epoll_event* events, int max, int timeout) {
  static auto real = Next<int (*)(int, struct epoll_event*, int, int)>("epoll_wait");
  Count(ReceiveCall::kEpollWait);
  return real(epfd, events, max, timeout);
}

int epoll_pwait(int epfd, struct epoll_event* events, int max, int timeout, const sigset_t* mask) {
  static auto real = Next<int (*)(int, struct epoll_event*, int, int, const sigset_t*)>("epoll_pwait");
  Count(ReceiveCall::kEpollPwait);
  return real(epfd, events, max, timeout, mask);
}

ssize_t recv(int fd, void* buffer, size_t length, int flags) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, int)>("recv");
  Count(ReceiveCall::kRecv);
  return real(fd, buffer, length, flags);
}

ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, struct sockaddr* from, socklen_t* fromLength) {
  static auto real = Next<ssize_t (*)(int, void*, size_t, int, struct sockaddr*, socklen_t*)>("recvfrom");
  Count(ReceiveCall::kRecvfrom);
  return real(fd, buffer, length, flags, from, fromLength);
}

ssize_t recvmsg(int fd, struct msghdr* message, int flags) {
  static auto real = Next<ssize_t (*)(int, struct msghdr*, int)>("recvmsg");
  Count(ReceiveCall::kRecvmsg);
  return real(fd, message, flags);
}

int recvmmsg(int fd, struct mmsghdr* messages, unsigned int count, int flags, struct timespec* timeout) {
  static auto real = Next<int (*)(int, struct mmsghdr*, unsigned int, int, struct timespec*)>("recvmmsg");
  Count(ReceiveCall::kRecvmmsg);
  return real(fd, messages, count, flags, timeout);
}

ssize_t read(int fd, void* buffer, size_t length) {
  static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  Count(ReceiveCall::kRead);
  return real(fd, buffer, length);
}

ssize_t readv(int fd, const struct iovec* parts, int count) {
  static auto real = Next<ssize_t (*)(int, const struct iovec*, int)>("readv");
  Count(ReceiveCall::kReadv);
  return real(fd, parts, count);
}

}  // extern "C"
