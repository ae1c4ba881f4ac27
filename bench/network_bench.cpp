// End-to-end throughput of the servers on loopback: TCP bytes per second from
// several clients at once, and UDP datagrams per second, each through a real
// plug-in object to a host that only counts. Prints the figures; exits
// non-zero when TCP loses or reorders bytes or a phase does not finish in time.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/config/device_settings.h"
#include "plugin/config/feedback_params.h"
#include "plugin/input_plugin.h"

namespace {

using namespace lanfeed;
using Clock = std::chrono::steady_clock;

class CountingHost final : public HostServices {
 public:
  int32_t Deliver(const InputDataRecord* record) override {
    // Each client sends its own byte value; a block never mixes two clients.
    uint8_t first = record->Data[0];
    for (uint32_t i = 1; i < record->DataLength; ++i) {
      if (record->Data[i] != first) mixed = true;
    }
    bytes += record->DataLength;
    blocks += 1;
    return 0;
  }
  int32_t ShowFeedback(const FeedbackParams*) override { return 0; }
  int32_t WriteLog(int32_t, const WChar*) override { return 0; }
  int32_t SetStatusProperty(int32_t, int32_t, const void* value) override {
    listening = *static_cast<const int32_t*>(value);
    return 0;
  }
  std::atomic<unsigned long long> bytes{0};
  std::atomic<unsigned long long> blocks{0};
  std::atomic<bool> mixed{false};
  std::atomic<int32_t> listening{0};
};

uint16_t FreePort(int32_t type, int32_t protocol) {
  SocketHandle s = SocketCreate(kAfInet, type, protocol);
  SocketBind(s, MakeSocketAddress(kInaddrLoopback, 0));
  int32_t port = SocketLocalPort(s);
  SocketClose(s);
  return static_cast<uint16_t>(port);
}

bool WaitUntil(const std::function<bool()>& done, int seconds) {
  auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    SleepMs(5);
  }
  return true;
}

bool RunTcp(CountingHost& host, InputPlugin& plugin) {
  const int clients = 4;
  const int sendsPerClient = 256;
  const int sendSize = 64 * 1024;
  const uint16_t port = FreePort(kSockStream, kIpprotoTcp);
  DeviceSettings settings;
  settings.Port = port;
  plugin.ApplySettings(settings);
  plugin.AddConsumer(1);
  if (!WaitUntil([&] { return host.listening.load() == 1; }, 10)) return false;

  const unsigned long long total = 1ull * clients * sendsPerClient * sendSize;
  auto start = Clock::now();
  std::vector<std::thread> senders;
  for (int c = 0; c < clients; ++c) {
    senders.emplace_back([c, port] {
      std::vector<uint8_t> chunk(sendSize, static_cast<uint8_t>('A' + c));
      SocketHandle s = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
      SocketConnect(s, MakeSocketAddress(kInaddrLoopback, port));
      for (int i = 0; i < sendsPerClient; ++i) SocketSend(s, chunk.data(), sendSize);
      SocketClose(s);
    });
  }
  for (auto& t : senders) t.join();
  bool complete = WaitUntil([&] { return host.bytes.load() >= total; }, 60);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("TCP: %d clients, %.0f MiB in %.2f s = %.1f MiB/s, %llu blocks (mean %.0f bytes)\n",
              clients, total / 1048576.0, seconds, total / 1048576.0 / seconds, host.blocks.load(),
              double(host.bytes.load()) / double(host.blocks.load() ? host.blocks.load() : 1));
  plugin.RemoveConsumer(1);
  if (!complete) std::printf("TCP: only %llu of %llu bytes delivered\n", host.bytes.load(), total);
  if (host.mixed) std::printf("TCP: a block mixed bytes of two clients\n");
  return complete && !host.mixed && host.bytes.load() == total;
}

bool RunUdp(CountingHost& host, InputPlugin& plugin) {
  const int datagrams = 50000;
  const int size = 512;
  const uint16_t port = FreePort(kSockDgram, kIpprotoUdp);
  DeviceSettings settings;
  settings.Protocol = kProtocolUdp;
  settings.Port = port;
  plugin.ApplySettings(settings);
  host.bytes = 0;
  host.blocks = 0;
  host.listening = 0;
  plugin.AddConsumer(1);
  if (!WaitUntil([&] { return host.listening.load() == 1; }, 10)) return false;

  std::vector<uint8_t> datagram(size, 'u');
  SocketHandle s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  SocketAddressIn to = MakeSocketAddress(kInaddrLoopback, port);
  auto start = Clock::now();
  for (int i = 0; i < datagrams; ++i) {
    SocketSendTo(s, datagram.data(), size, to);
    // Pace the sender so the receive buffer does not overflow.
    auto deadline = Clock::now() + std::chrono::seconds(2);
    while (host.blocks.load() + 128 < static_cast<unsigned long long>(i) && Clock::now() < deadline) {
      std::this_thread::yield();
    }
  }
  // Wait for the rest, but stop once nothing has arrived for 300 ms (lost).
  auto lastArrival = Clock::now();
  unsigned long long seen = host.blocks.load();
  while (seen < static_cast<unsigned long long>(datagrams) &&
         Clock::now() - lastArrival < std::chrono::milliseconds(300)) {
    SleepMs(1);
    if (host.blocks.load() != seen) {
      seen = host.blocks.load();
      lastArrival = Clock::now();
    }
  }
  double seconds = std::chrono::duration<double>(lastArrival - start).count();
  SocketClose(s);
  unsigned long long received = host.blocks.load();
  std::printf("UDP: %llu of %d datagrams of %d bytes in %.2f s = %.0f datagrams/s (%.2f%% lost)\n",
              received, datagrams, size, seconds, received / seconds,
              100.0 * (datagrams - static_cast<double>(received)) / datagrams);
  plugin.RemoveConsumer(1);
  return received > 0;
}

}  // namespace

int main() {
  if (SocketsStartup() != 0) return 1;
  CountingHost host;
  bool ok;
  {
    InputPlugin plugin;
    plugin.Initialize(&host);
    ok = RunTcp(host, plugin);
    ok = RunUdp(host, plugin) && ok;
    plugin.Uninitialize();
  }
  SocketsCleanup();
  std::printf(ok ? "ok\n" : "FAILED\n");
  return ok ? 0 : 1;
}
