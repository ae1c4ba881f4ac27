// Reconfiguring the feedback while a server delivers: every feedback request
// the host sees must be one complete configured record, its wave-file path
// alive and matching the other words. Run under ThreadSanitizer and
// AddressSanitizer this also catches a racy or freed read of the copy.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "tests/servers/server_test_support.h"

namespace lanfeed::testing {
namespace {

struct Variant {
  const WChar* path;  // null: no wave file
  int32_t beeperFreq;
  const char* expectedPath;
};

const Variant kVariants[] = {
    {LF_TEXT("\\a.wav"), 1111, "\\a.wav"},
    {LF_TEXT("\\Windows\\a much longer sound file name.wav"), 2222,
     "\\Windows\\a much longer sound file name.wav"},
    {nullptr, 3333, nullptr},
};

DeviceSettings SettingsFor(int32_t protocol, int32_t port, const Variant& v) {
  DeviceSettings s;
  s.Protocol = protocol;
  s.Port = port;
  s.ResetFeedback();
  s.Feedback.BeeperFreq = v.beeperFreq;
  if (v.path != nullptr) {
    s.Feedback.Flags |= kFeedbackWaveFile;
    std::size_t n = WStrLen(v.path) + 1;
    s.Feedback.WaveFilePath = new WChar[n];
    WStrCopy(s.Feedback.WaveFilePath, n, v.path);
  }
  return s;
}

class ReconfigureUnderTraffic : public ServerTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(ReconfigureUnderTraffic, FeedbackIsAlwaysOneCompleteConfiguredRecord) {
  const int32_t protocol = GetParam();
  const int32_t serverPort = FreePort(protocol == kProtocolUdp ? kSockDgram : kSockStream);
  plugin.ApplySettings(SettingsFor(protocol, serverPort, kVariants[0]));
  AddConsumer();
  ASSERT_TRUE(WaitStatus(1));

  // The sender waits for each block's feedback before the next one, so TCP
  // never joins two blocks and every block is one dispatch.
  constexpr int kBlocks = 200;
  std::atomic<bool> sending{true};
  std::thread sender([&] {
    // A block counts once it is delivered, not once its feedback is asked
    // for: the consumer is removed as soon as the sender is done, and a
    // delivery still under way then would find no consumer.
    auto delivered = [&](std::size_t n) {
      return host.WaitFor(
          [n](const std::vector<RecordedCall>& calls) {
            std::size_t deliveries = 0;
            for (const auto& c : calls) deliveries += c.kind == RecordedCall::Kind::kDeliver ? 1 : 0;
            return deliveries >= n;
          },
          std::chrono::seconds(2));
    };
    if (protocol == kProtocolUdp) {
      UdpSender udp;
      for (int i = 0; i < kBlocks && udp.Send(serverPort, "datagram") && delivered(i + 1); ++i) {
      }
    } else {
      TestClient client(serverPort);
      for (int i = 0; i < kBlocks && client.connected() && client.Send("block") && delivered(i + 1); ++i) {
      }
    }
    sending = false;
  });
  int applied = 0;
  while (sending.load() || applied < 50) {
    plugin.ApplySettings(SettingsFor(protocol, serverPort, kVariants[applied % 3]));
    ++applied;
    if (applied > 100000) break;
  }
  sender.join();
  EXPECT_EQ(host.Feedbacks().size(), static_cast<std::size_t>(kBlocks));
  RemoveConsumer();
  plugin.Uninitialize();

  std::map<int32_t, const Variant*> byFreq;
  for (const auto& v : kVariants) byFreq[v.beeperFreq] = &v;
  std::map<int32_t, int> seen;
  for (const auto& call : host.Feedbacks()) {
    auto it = byFreq.find(call.feedback.BeeperFreq);
    ASSERT_NE(it, byFreq.end()) << "a feedback word that was never configured";
    const Variant& v = *it->second;
    ++seen[v.beeperFreq];
    EXPECT_EQ(call.wavePathNull, v.expectedPath == nullptr);
    if (v.expectedPath != nullptr) EXPECT_EQ(call.wavePath, v.expectedPath);
    EXPECT_EQ((call.feedback.Flags & kFeedbackWaveFile) != 0, v.expectedPath != nullptr);
    EXPECT_EQ(call.feedback.BeeperTime, 300);
  }
  EXPECT_GE(applied, 50);
  EXPECT_EQ(host.Deliveries().size(), host.Feedbacks().size());
}

// A host whose ShowFeedback blocks (it plays the sound, or waits for its UI
// thread) while its own thread reconfigures: the reconfiguration must not
// wait for the feedback in progress, the path that feedback was handed must
// stay valid until it returns, the host's other calls, the accept loop and
// the other readers must go on, and the next block must play the new
// feedback.
TEST_P(ReconfigureUnderTraffic, ReconfiguringDuringABlockedShowFeedbackReturnsAtOnce) {
  const int32_t protocol = GetParam();
  const bool tcp = protocol != kProtocolUdp;
  const int32_t serverPort = FreePort(tcp ? kSockStream : kSockDgram);
  port = serverPort;
  DeviceSettings before = SettingsFor(protocol, serverPort, kVariants[0]);
  DeviceSettings after = SettingsFor(protocol, serverPort, kVariants[1]);
  before.TCPTimeout = after.TCPTimeout = 1;
  plugin.ApplySettings(before);
  AddConsumer();
  ASSERT_TRUE(WaitStatus(1));

  std::atomic<int> entered{0};
  std::atomic<bool> released{false};
  std::atomic<bool> waitedOut{false};
  std::string pathAfterRelease;
  host.SetFeedbackHook([&](const FeedbackParams& params) {
    if (entered.fetch_add(1) != 0) return;
    waitedOut = !Eventually([&] { return released.load(); }, std::chrono::seconds(10));
    // Read only now, after the reconfiguration: the record is still alive.
    pathAfterRelease = params.WaveFilePath != nullptr ? ToUtf8(params.WaveFilePath) : "(null)";
  });

  UdpSender udp;
  std::unique_ptr<TestClient> silent, blocker;
  if (tcp) {
    silent = std::make_unique<TestClient>(serverPort);
    blocker = std::make_unique<TestClient>(serverPort);
    ASSERT_TRUE(WaitLogPrefix("3 TCP client connected to Port : ", 2));
  }
  ASSERT_TRUE(tcp ? blocker->Send("one") : udp.Send(serverPort, "one"));
  ASSERT_TRUE(Eventually([&] { return entered.load() == 1; }));

  plugin.ApplySettings(after);
  EXPECT_FALSE(released.load());
  EXPECT_FALSE(waitedOut.load()) << "the reconfiguration waited for the blocked ShowFeedback";
  // Nor do the host's other calls wait for it.
  RemoveConsumer();
  AddConsumer();
  EXPECT_FALSE(waitedOut.load()) << "Suspend or Start waited for the blocked ShowFeedback";
  EXPECT_EQ(host.LastStatus(), 1);
  if (tcp) {
    // The accept loop goes on, and another reader reads the time-out at its
    // wait and times out meanwhile.
    TestClient late(serverPort);
    EXPECT_TRUE(WaitLogPrefix("3 TCP client connected to Port : ", 3));
    EXPECT_TRUE(silent->WaitClosedByServer(std::chrono::seconds(5)));
    EXPECT_FALSE(waitedOut.load());
  }
  released = true;
  ASSERT_TRUE(host.WaitForDeliveredBytes(3));
  EXPECT_EQ(pathAfterRelease, kVariants[0].expectedPath);

  std::unique_ptr<TestClient> next;
  if (tcp) next = std::make_unique<TestClient>(serverPort);
  ASSERT_TRUE(tcp ? next->Send("two") : udp.Send(serverPort, "two"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(6));
  const auto feedbacks = host.Feedbacks();
  ASSERT_EQ(feedbacks.size(), 2u);
  EXPECT_EQ(feedbacks[0].feedback.BeeperFreq, kVariants[0].beeperFreq);
  EXPECT_EQ(feedbacks[1].feedback.BeeperFreq, kVariants[1].beeperFreq) << "the next block plays the new feedback";
  EXPECT_EQ(feedbacks[1].wavePath, kVariants[1].expectedPath);
  host.SetFeedbackHook(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Protocols, ReconfigureUnderTraffic, ::testing::Values(kProtocolTcp, kProtocolUdp),
                         [](const auto& info) { return info.param == kProtocolUdp ? "Udp" : "Tcp"; });

}  // namespace
}  // namespace lanfeed::testing
