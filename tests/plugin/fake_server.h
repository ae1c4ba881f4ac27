// A SocketServer that records the operations the plug-in object calls, in a
// shared journal, so tests can check order across several servers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/servers/socket_server.h"

namespace lanfeed::testing {

class FakeServer final : public SocketServer {
 public:
  // `journal` receives "<name>.<operation>" entries; it must outlive the server.
  FakeServer(std::string name, std::vector<std::string>* journal);
  ~FakeServer() override;

  int32_t Initialize() override;
  int32_t Uninitialize() override;
  int32_t OpenSocket() override;
  int32_t CloseSocket() override;
  void Start() override;
  void Suspend() override;
  void Dispatch(const uint8_t* data, int32_t length) override;

  // What Initialize reports; Initialize "opens" nothing by itself.
  int32_t initializeResult = 1;
  void SetSocketOpen(bool open) { listenSocket = open ? 42 : kInvalidSocket; }
  void SetState(ServerState s) { state = s; }
  DeviceSettings CopyOfSettings() const;

 private:
  // The fake never runs a worker thread.
  int32_t ServeLoop() override { return kWsaEnotsock; }
  bool RetryFailedWait() const override { return false; }

  std::string name_;
  std::vector<std::string>* journal_;
};

}  // namespace lanfeed::testing
