#include <gtest/gtest.h>

#include <cstring>
#include <typeinfo>

#include "plugin/config/config_node.h"
#include "plugin/config/device_settings.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/tcp_server.h"
#include "plugin/servers/udp_server.h"
#include "tests/plugin/fake_server.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/recording_host.h"

namespace lanfeed {
namespace {

using testing::FakeServer;
using testing::RecordingHost;

// A node with no children: every operation other than GetChildCount is a
// fault of the caller.
class ChildlessNode final : public ConfigNode {
 public:
  int32_t GetValueLength() override { return Unexpected(); }
  const char* GetValueA() override { return Unexpected(), ""; }
  int32_t CopyValueW(WChar*, int32_t) override { return Unexpected(); }
  int32_t GetValueInt() override { return Unexpected(); }
  int32_t LoadFragments(const char* const*) override { return Unexpected(); }
  int32_t GetChildCount() override { return 0; }
  int32_t FindChild(ConfigNode*, const char*) override { return Unexpected(); }
  int32_t AppendChild(ConfigNode*, const char*, void*) override { return Unexpected(); }
  int32_t Clear() override { return Unexpected(); }
  int32_t SetAttributeW(const char*, const WChar*, int32_t) override { return Unexpected(); }
  int32_t SetAttributeA(const char*, const char*, int32_t) override { return Unexpected(); }
  int32_t SetAttributeInt(const char*, int32_t, int32_t) override { return Unexpected(); }
  ConfigNode* CreateCursor() override { return Unexpected(), nullptr; }
  int32_t ReleaseCursor(ConfigNode*) override { return Unexpected(); }

 private:
  int32_t Unexpected() {
    ADD_FAILURE() << "a childless node is only asked for its child count";
    return 0;
  }
};

class ApplyConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { plugin.Initialize(&host); }
  void TearDown() override { plugin.Uninitialize(); }

  FakeServer* AttachFake(const DeviceSettings& settings) {
    auto* server = new FakeServer("old", &journal);
    server->AssignSettings(settings);
    plugin.SetServer(server);
    return server;
  }

  static DeviceSettings Settings(int32_t protocol, int32_t port, int32_t timeout = 60) {
    DeviceSettings s;
    s.Protocol = protocol;
    s.Port = port;
    s.TCPTimeout = timeout;
    return s;
  }

  RecordingHost host;
  std::vector<std::string> journal;
  InputPlugin plugin;
};

TEST_F(ApplyConfigTest, SameProtocolAndPortKeepsTheServerAndReplacesItsCopy) {
  FakeServer* fake = AttachFake(Settings(1, 5000, 60));
  DeviceSettings changed = Settings(1, 5000, 900);
  changed.ResetFeedback();
  changed.Feedback.Flags = kFeedbackVibrator;
  changed.Feedback.VibratorTime = 250;
  plugin.ApplySettings(changed);
  ASSERT_EQ(plugin.server(), fake);
  EXPECT_TRUE(journal.empty()) << "applying never initialises, starts or stops a kept server";
  DeviceSettings copy = fake->CopyOfSettings();
  EXPECT_EQ(copy.TCPTimeout, 900);
  EXPECT_EQ(copy.Feedback.Flags, 8u);
  EXPECT_EQ(copy.Feedback.VibratorTime, 250);
}

TEST_F(ApplyConfigTest, ServerCopyOwnsItsWaveFilePath) {
  FakeServer* fake = AttachFake(Settings(1, kDefaultPort));
  {
    DeviceSettings withPath;
    withPath.ResetFeedback();
    const WChar path[] = LF_TEXT("\\Windows\\beep.wav");
    withPath.Feedback.WaveFilePath = new WChar[sizeof(path) / sizeof(WChar)];
    std::memcpy(withPath.Feedback.WaveFilePath, path, sizeof(path));
    plugin.ApplySettings(withPath);
    DeviceSettings copy = fake->CopyOfSettings();
    ASSERT_NE(copy.Feedback.WaveFilePath, nullptr);
    EXPECT_EQ(ToUtf8(copy.Feedback.WaveFilePath), "\\Windows\\beep.wav");
  }  // the read record and its path are gone; the server's copy must not be
  DeviceSettings copy = fake->CopyOfSettings();
  ASSERT_NE(copy.Feedback.WaveFilePath, nullptr);
  EXPECT_EQ(ToUtf8(copy.Feedback.WaveFilePath), "\\Windows\\beep.wav");
}

TEST_F(ApplyConfigTest, DisablingOrNullNodeRemovesTheServer) {
  DeviceSettings disabled;
  disabled.Enabled = 0;
  plugin.ApplySettings(disabled);
  EXPECT_EQ(plugin.server(), nullptr) << "disabled without a server: nothing happens";

  AttachFake(Settings(1, kDefaultPort));
  plugin.ApplySettings(disabled);
  EXPECT_EQ(plugin.server(), nullptr);
  EXPECT_EQ(journal, (std::vector<std::string>{"old.Uninitialize", "old.destroy"}));

  journal.clear();
  AttachFake(Settings(1, kDefaultPort));
  EXPECT_EQ(plugin.Configure(nullptr), 0);
  EXPECT_EQ(plugin.server(), nullptr);
  EXPECT_EQ(journal, (std::vector<std::string>{"old.Uninitialize", "old.destroy"}));
}

struct ReplaceCase {
  const char* name;
  int32_t protocol;
  int32_t port;
  bool expectUdp;
};

TEST_F(ApplyConfigTest, ProtocolOrPortChangeReplacesWithAnIdleServer) {
  const ReplaceCase cases[] = {
      {"port changes, TCP stays", 1, 5001, false},
      {"protocol changes to UDP", 0, 5000, true},
      {"any non-zero protocol is TCP", 7, 5002, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    journal.clear();
    AttachFake(Settings(1, 5000));
    plugin.AddConsumer(1);  // the old server was started
    plugin.ApplySettings(Settings(c.protocol, c.port));
    EXPECT_EQ(journal, (std::vector<std::string>{"old.Initialize", "old.Start", "old.Uninitialize",
                                                 "old.destroy"}));
    SocketServer* fresh = plugin.server();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(dynamic_cast<UdpServer*>(fresh) != nullptr, c.expectUdp);
    EXPECT_EQ(dynamic_cast<TcpServer*>(fresh) != nullptr, !c.expectUdp);
    EXPECT_FALSE(fresh->IsSocketOpen()) << "a new server stays idle";
    EXPECT_EQ(fresh->State(), kServerClosed);
    EXPECT_EQ(fresh->SettingsPort(), c.port);
    EXPECT_EQ(fresh->SettingsProtocol(), c.protocol);
    plugin.RemoveConsumer(1);
    plugin.Uninitialize();
  }
}

TEST_F(ApplyConfigTest, NodeWithoutChildrenAppliesCreationValues) {
  ChildlessNode node;
  EXPECT_EQ(plugin.Configure(&node), 0);
  SocketServer* server = plugin.server();
  ASSERT_NE(server, nullptr);
  EXPECT_NE(dynamic_cast<TcpServer*>(server), nullptr);
  EXPECT_EQ(server->SettingsPort(), kDefaultPort);
  EXPECT_EQ(server->SettingsTcpTimeout(), kDefaultTcpTimeout);
  EXPECT_FALSE(server->IsSocketOpen());
  // The same configuration again keeps the same object.
  plugin.Configure(&node);
  EXPECT_EQ(plugin.server(), server);
}

// Configure whose allocations fail one after the other: the plug-in keeps
// the server it had, with the settings it had, and nothing escapes it.
// (Real servers here: a fake's journal would allocate too.)
TEST_F(ApplyConfigTest, AllocationFailureInConfigureKeepsTheCurrentServer) {
  struct Case {
    const char* name;
    DeviceSettings current;  // the childless node asks for TCP, 58627, 60 s
  };
  const Case cases[] = {{"settings replaced", Settings(1, kDefaultPort, 900)},
                        {"server replaced", Settings(0, 5000, 900)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ChildlessNode node;
    bool completed = false;
    for (long nth = 1; nth < 64 && !completed; ++nth) {
      plugin.ApplySettings(c.current);
      SocketServer* current = plugin.server();
      ASSERT_NE(current, nullptr);
      int32_t result;
      {
        testing::FailingAllocation failing(nth);
        result = plugin.Configure(&node);
        completed = !failing.fired();
      }
      EXPECT_EQ(result, 0);
      if (completed) break;
      EXPECT_EQ(plugin.server(), current) << nth;
      EXPECT_EQ(current->SettingsTcpTimeout(), 900) << nth;
      EXPECT_EQ(current->SettingsProtocol(), c.current.Protocol) << nth;
      plugin.Uninitialize();
    }
    ASSERT_TRUE(completed);
    ASSERT_NE(plugin.server(), nullptr);
    EXPECT_EQ(plugin.server()->SettingsTcpTimeout(), kDefaultTcpTimeout);
    EXPECT_EQ(plugin.server()->SettingsProtocol(), kProtocolTcp);
    plugin.Uninitialize();
  }
}

}  // namespace
}  // namespace lanfeed
