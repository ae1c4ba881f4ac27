// The UDP server: one datagram socket bound to the configured port on all
// local addresses. Every datagram is one block: delivered whole while
// delivery is enabled, read, logged and dropped while suspended. Nothing is
// ever sent back.
//
// Threads: the host's thread and the worker, which alone receives, so
// deliveries need no lock of their own.
#pragma once

#include <cstdint>

#include "plugin/servers/socket_server.h"

namespace lanfeed {

class UdpServer final : public SocketServer {
 public:
  UdpServer();
  // Runs Uninitialize when the owner has not (a socket, a worker thread or a
  // library start is left).
  ~UdpServer() override;

  int32_t Initialize() override;
  int32_t Uninitialize() override;
  // 1 once the socket is bound; 0 otherwise (the worker retries later). A
  // failed bind leaves the socket open for the retry.
  int32_t OpenSocket() override;
  int32_t CloseSocket() override;
  void Start() override;
  void Suspend() override;
  void Dispatch(const uint8_t* data, int32_t length) override;

  // The serve loop: receives datagrams until waiting on the socket fails;
  // returns that failure's socket error code (10038 at once without a socket).
  int32_t ReceiveLoop();
  // Delivers or drops one datagram from `sender`. Always 1.
  int32_t HandleDatagram(const uint8_t* data, int32_t length, const SocketAddress& sender);

 protected:
  int32_t ServeLoop() override { return ReceiveLoop(); }
  bool RetryFailedWait() const override { return true; }
};

}  // namespace lanfeed
