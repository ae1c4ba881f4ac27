// The limit the plug-in is measured against: the plainest servers that do
// the same job on loopback, handing every block to the same BlockSink.
//
// PlainTcpServer: one accept thread and one thread per client (default
// thread attributes), each waiting with poll and reading with recv into 8192
// bytes. Stop closes the listener, then each client in turn: shutdown (which
// wakes its thread), join, close.
//
// PlainUdpServer: one thread in a recvfrom loop into 8192 bytes.
//
// Thread-safety: Start and Stop from one driving thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/block_sink.h"

namespace bench {

class PlainTcpServer {
 public:
  // `timeoutMs`: the readers' poll time-out (a client idle that long is
  // dropped); -1: no limit.
  PlainTcpServer(BlockSink* sink, int timeoutMs) : sink_(sink), timeoutMs_(timeoutMs) {}
  ~PlainTcpServer() { Stop(); }
  PlainTcpServer(const PlainTcpServer&) = delete;
  PlainTcpServer& operator=(const PlainTcpServer&) = delete;

  bool Start(std::string* error);
  uint16_t port() const { return port_; }
  void Stop();

 private:
  struct Client {
    int fd;
    std::thread reader;
  };
  void AcceptLoop();
  static void ReadLoop(int fd, BlockSink* sink, int timeoutMs);

  BlockSink* sink_;
  int timeoutMs_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;  // guards clients_
  std::vector<Client> clients_;
};

class PlainUdpServer {
 public:
  explicit PlainUdpServer(BlockSink* sink) : sink_(sink) {}
  ~PlainUdpServer() { Stop(); }
  PlainUdpServer(const PlainUdpServer&) = delete;
  PlainUdpServer& operator=(const PlainUdpServer&) = delete;

  bool Start(std::string* error);
  uint16_t port() const { return port_; }
  void Stop();

 private:
  void ReceiveLoop();

  BlockSink* sink_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread receiver_;
};

}  // namespace bench
