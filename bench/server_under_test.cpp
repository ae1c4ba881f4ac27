#include "bench/server_under_test.h"

#include <sys/socket.h>

#include "bench/loopback.h"

namespace bench {

const char* VariantName(Variant variant) { return variant == Variant::kPlugin ? "plug-in" : "plain"; }

std::vector<Variant> RoundOrder(int round) {
  if (round % 2 == 0) return {Variant::kPlugin, Variant::kPlain};
  return {Variant::kPlain, Variant::kPlugin};
}

bool ServerUnderTest::Start(bool udp, int tcpTimeoutSeconds, std::string* error) {
  if (variant_ == Variant::kPlugin) {
    port_ = FreePort(udp ? SOCK_DGRAM : SOCK_STREAM);
    if (port_ == 0) {
      *error = "no free port";
      return false;
    }
    plugin_ = std::make_unique<PluginServer>(library_, sink_);
    return plugin_->Start(udp, port_, tcpTimeoutSeconds, error, framing_);
  }
  if (udp) {
    udp_ = std::make_unique<PlainUdpServer>(sink_);
    if (!udp_->Start(error)) return false;
    port_ = udp_->port();
    return true;
  }
  tcp_ = std::make_unique<PlainTcpServer>(sink_, tcpTimeoutSeconds > 0 ? tcpTimeoutSeconds * 1000 : -1);
  if (!tcp_->Start(error)) return false;
  port_ = tcp_->port();
  return true;
}

void ServerUnderTest::BeginStop() {
  if (plugin_) plugin_->RemoveConsumer();
}

void ServerUnderTest::Shutdown() {
  if (plugin_) plugin_->Uninitialize();
  if (tcp_) tcp_->Stop();
  if (udp_) udp_->Stop();
}

void ServerUnderTest::Finish() {
  if (plugin_) plugin_->Destroy();
  plugin_.reset();
  tcp_.reset();
  udp_.reset();
}

void ServerUnderTest::Stop() {
  BeginStop();
  Shutdown();
  Finish();
}

}  // namespace bench
