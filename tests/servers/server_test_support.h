// Helpers for the server tests: free ports, a TCP client, a UDP sender, a
// port holder, descriptor and thread counts, and a fixture that drives the
// servers through a real InputPlugin with a recording host.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/socket_test_hooks.h"
#include "platform/sockets.h"
#include "plugin/config/device_settings.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_server.h"
#include "tests/support/recording_host.h"

namespace lanfeed::testing {

// A port on 127.0.0.1 (or ::1 for kAfInet6) that was free a moment ago for
// `type` (kSockStream or kSockDgram).
int32_t FreePort(int32_t type, int32_t family = kAfInet);

// Loopback addresses in host order: 127.0.0.1 and 127.0.0.2.
inline constexpr uint32_t kLoopback1 = 0x7F000001;
inline constexpr uint32_t kLoopback2 = 0x7F000002;

// Whether this machine has the IPv6 loopback address (::1) for sockets of
// `type`; when not, `why` says so for the test's skip.
bool Ipv6LoopbackAvailable(int32_t type, std::string* why);

// A connected TCP client on 127.0.0.1. Closed by the destructor.
class TestClient {
 public:
  explicit TestClient(int32_t port);
  // Connects to `target` (host order) from the local address `source`
  // (host order; 0: the system's choice).
  TestClient(int32_t port, uint32_t target, uint32_t source);
  // Connects to `target`, IPv4 or IPv6, from the system's choice of address.
  explicit TestClient(const SocketAddress& target);
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  bool connected() const { return connected_; }
  bool Send(const std::string& bytes);
  // True when the server closes the connection within `timeout`.
  bool WaitClosedByServer(std::chrono::milliseconds timeout);
  void Close();

 private:
  SocketHandle socket_ = kInvalidSocket;
  bool connected_ = false;
};

// Sends datagrams to 127.0.0.1 (its socket is created by the first Send).
class UdpSender {
 public:
  UdpSender() = default;
  ~UdpSender();
  bool Send(int32_t port, const std::string& bytes) { return SendTo(kLoopback1, port, bytes); }
  // To `target` (host order).
  bool SendTo(uint32_t target, int32_t port, const std::string& bytes);
  // To `target`, IPv4 or IPv6: the first send picks the socket's family.
  bool SendTo(const SocketAddress& target, const std::string& bytes);
  // Sends from the local address `source` (host order), set by the first
  // Send; false when it cannot be bound.
  void SetSource(uint32_t source) { source_ = source; }

 private:
  SocketHandle socket_ = kInvalidSocket;
  uint32_t source_ = 0;
};

// Holds `port` with a listening TCP socket or a bound UDP socket.
class PortHolder {
 public:
  PortHolder(int32_t type, int32_t port);
  ~PortHolder() { Release(); }
  bool holding() const { return socket_ != kInvalidSocket; }
  void Release();

 private:
  SocketHandle socket_ = kInvalidSocket;
};

// Open descriptors (Windows: handles) and threads of the process; -1 where
// the system cannot tell. Threads are counted on every backend.
int CountOpenDescriptors();
int CountThreads();
// The reason a test skips its descriptor check when CountOpenDescriptors is -1.
extern const char* const kDescriptorsNotCounted;
// Polls `condition` every 10 ms for at most `timeout`.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));

// "3 text" / "1 text" as RecordingHost::LogLines writes them.
std::string Info(const std::string& text);
std::string Error(const std::string& text);
// Index of the first log line equal to `line` at or after `from`; -1 if none.
int FindLine(const std::vector<std::string>& lines, const std::string& line, int from = 0);
// Log lines that start with `prefix`.
std::size_t CountLinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);

// The sender (GetLanFeedDeliveryPeer's text) of every record `host` is
// handed from now on. Shared with the host's hook, which may still run after
// a test's last wait (the delivered bytes are counted before it runs).
class SenderRecord {
 public:
  void Add(const std::string& text);
  std::vector<std::string> Texts() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> texts_;
};
std::shared_ptr<SenderRecord> RecordSenders(RecordingHost& host);

// Runs each test with the sockets library started, a plug-in object
// initialised with a recording host (so CurrentPlugin is set), and checks
// on tear-down that no Deliver calls overlapped.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Configures the plug-in (creating its server through the apply step) for
  // `protocol` on `port` with `timeout` seconds and a recognisable feedback.
  SocketServer* Configure(int32_t protocol, int32_t port, int32_t timeout = 60);
  // Keeps the server and replaces only its settings (time-out change).
  void Reconfigure(int32_t timeout);
  // The configured server retries a failed open after kFastOpenRetryMs
  // instead of the real 5 s, for tests that wait for a retry.
  void UseFastOpenRetry();
  static constexpr uint32_t kFastOpenRetryMs = 50;
  // The first consumer: the plug-in initialises and starts its server.
  void AddConsumer() { plugin.AddConsumer(kConsumer); }
  void RemoveConsumer() { plugin.RemoveConsumer(kConsumer); }
  // `line` is "level text" as RecordingHost::LogLines writes it.
  bool WaitLog(const std::string& line, std::size_t count = 1,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  bool WaitLogPrefix(const std::string& prefix, std::size_t count = 1,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // The last published status becomes `status` within 5 s (the worker
  // publishes after its log line).
  bool WaitStatus(int32_t status) const {
    return Eventually([&] { return host.LastStatus() == status; });
  }
  // Every Deliver is directly preceded (among feedback and delivery calls)
  // by a feedback request from the same thread.
  void ExpectFeedbackBeforeEachDelivery() const;

  static constexpr ConsumerId kConsumer = 5;
  RecordingHost host;
  InputPlugin plugin;
  DeviceSettings settings;
  int32_t port = 0;
};

}  // namespace lanfeed::testing
