#include "bench/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace bench {

namespace {

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int Connect(int type, uint16_t port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = LoopbackAddress(port);
  for (;;) {
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (errno != EINTR) break;
  }
  int saved = errno;
  close(fd);
  errno = saved;
  return -1;
}

}  // namespace

int ConnectLoopback(uint16_t port, bool noDelay) {
  int fd = Connect(SOCK_STREAM, port);
  if (fd >= 0 && noDelay) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return fd;
}

int ConnectLoopbackUdp(uint16_t port) { return Connect(SOCK_DGRAM, port); }

int BindLoopback(int type, uint16_t* port) {
  int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

uint16_t FreePort(int type) {
  uint16_t port = 0;
  int fd = BindLoopback(type, &port);
  if (fd < 0) return 0;
  close(fd);
  return port;
}

bool SendAll(int fd, const void* data, std::size_t length) {
  const char* next = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t sent = send(fd, next, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    next += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace bench
