#include "bench/plain_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "bench/loopback.h"

namespace bench {

// ---------------------------------------------------------------------------
// PlainTcpServer

bool PlainTcpServer::Start(std::string* error) {
  listenFd_ = BindLoopback(SOCK_STREAM, &port_);
  if (listenFd_ < 0 || listen(listenFd_, SOMAXCONN) != 0) {
    *error = std::string("plain server: ") + std::strerror(errno);
    return false;
  }
  stopping_ = false;
  acceptor_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void PlainTcpServer::AcceptLoop() {
  for (;;) {
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (stopping_) return;
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    clients_.push_back({fd, std::thread(ReadLoop, fd, sink_, timeoutMs_)});
  }
}

void PlainTcpServer::ReadLoop(int fd, BlockSink* sink, int timeoutMs) {
  uint8_t buffer[kMaxBlock];
  for (;;) {
    pollfd wait{fd, POLLIN, 0};
    int ready = poll(&wait, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return;  // failure or idle for too long
    ssize_t count = recv(fd, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return;  // closed by the peer, by Stop, or failed
    sink->Block(buffer, static_cast<uint32_t>(count));
  }
}

void PlainTcpServer::Stop() {
  if (listenFd_ < 0) return;
  stopping_ = true;
  shutdown(listenFd_, SHUT_RDWR);  // wakes the blocked accept
  acceptor_.join();
  close(listenFd_);
  listenFd_ = -1;
  // The accept thread has ended: the list no longer changes.
  for (Client& client : clients_) {
    shutdown(client.fd, SHUT_RDWR);
    client.reader.join();
    close(client.fd);
  }
  clients_.clear();
}

// ---------------------------------------------------------------------------
// PlainUdpServer

bool PlainUdpServer::Start(std::string* error) {
  fd_ = BindLoopback(SOCK_DGRAM, &port_);
  if (fd_ < 0) {
    *error = std::string("plain UDP server: ") + std::strerror(errno);
    return false;
  }
  stopping_ = false;
  receiver_ = std::thread([this] { ReceiveLoop(); });
  return true;
}

void PlainUdpServer::ReceiveLoop() {
  uint8_t buffer[kMaxBlock];
  for (;;) {
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t count = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (count < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (count == 0) {
      if (stopping_) return;  // the shutdown of Stop, once the queue is empty
      continue;               // an empty datagram delivers nothing
    }
    sink_->Block(buffer, static_cast<uint32_t>(count));
  }
}

void PlainUdpServer::Stop() {
  if (fd_ < 0) return;
  stopping_ = true;
  // Linux wakes a blocked recvfrom on shutdown even for an unconnected
  // datagram socket (the call itself reports ENOTCONN).
  shutdown(fd_, SHUT_RDWR);
  receiver_.join();
  close(fd_);
  fd_ = -1;
}

}  // namespace bench
