// One server of either kind for one measured run: the plug-in, driven as the
// host drives it, or the plain server it is measured against. Both hand
// their blocks to the same BlockSink.
//
// Not thread-safe: one driving thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench/block_sink.h"
#include "bench/plain_server.h"
#include "bench/plugin_driver.h"

namespace bench {

enum class Variant { kPlugin, kPlain };
const char* VariantName(Variant variant);  // "plug-in" or "plain"
// The order of round `round` (from 0): plug-in first in even rounds, plain
// first in odd ones, so neither always runs on a warmer or a busier machine.
std::vector<Variant> RoundOrder(int round);

class ServerUnderTest {
 public:
  ServerUnderTest(Variant variant, PluginLibrary* library, BlockSink* sink)
      : variant_(variant), library_(library), sink_(sink) {}
  ~ServerUnderTest() { Stop(); }
  ServerUnderTest(const ServerUnderTest&) = delete;
  ServerUnderTest& operator=(const ServerUnderTest&) = delete;

  // Starts a TCP (or UDP) server on a free loopback port and returns when it
  // listens. `tcpTimeoutSeconds` is the idle time after which a client is
  // dropped; 0: no limit.
  bool Start(bool udp, int tcpTimeoutSeconds, std::string* error);
  // The plug-in's Framing setting for the next Start ("line"); empty: none
  // configured. The plain server ignores it.
  void SetFraming(const std::string& framing) { framing_ = framing; }
  uint16_t port() const { return port_; }

  // Stopping in the host's steps. BeginStop: the plug-in loses its consumer
  // (plain: nothing). Shutdown, the step that is timed: the plug-in's
  // Uninitialize, the plain server's Stop. Finish: DestroyInstance.
  void BeginStop();
  void Shutdown();
  void Finish();
  void Stop();

 private:
  Variant variant_;
  PluginLibrary* library_;
  BlockSink* sink_;
  uint16_t port_ = 0;
  std::string framing_;
  std::unique_ptr<PluginServer> plugin_;
  std::unique_ptr<PlainTcpServer> tcp_;
  std::unique_ptr<PlainUdpServer> udp_;
};

}  // namespace bench
