// LanFeedPlugin as it ships, driven the way a host drives it: loaded by file
// name and reached only through its two exports. Nothing of the plug-in is
// linked into this program, so these tests cover what the in-process tests
// cannot: the export table and the library's entry routine, the library's own
// runtime and sockets layer, and the binary layout of the descriptor, the
// factory and plug-in tables, the host services and the configuration node
// as they cross the library boundary.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/library.h"
#include "platform/sockets.h"
#include "platform/text.h"
#include "plugin/config/device_settings.h"
#include "plugin/config/feedback_params.h"
#include "plugin/plugin_interface.h"
#include "tests/config/strict_config_node.h"
#include "tests/setup/device_fixture.h"
#include "tests/support/recording_host.h"

namespace lanfeed::testing {
namespace {

constexpr ConsumerId kConsumer = 7;
constexpr std::chrono::seconds kWait{10};

// The built library, copied beside this program by the build, and its two
// exports.
struct PluginLibrary {
  SharedLibrary library;
  GetCVClassFactoryFn getFactory = nullptr;
  ReleaseCVClassFactoryFn releaseFactory = nullptr;

  ::testing::AssertionResult Load() {
    std::string path = (ProgramFolder() / LANFEED_PLUGIN_LIBRARY_NAME).string();
    std::string error;
    if (!library.Load(path, &error)) return ::testing::AssertionFailure() << error;
    getFactory = reinterpret_cast<GetCVClassFactoryFn>(library.Find("GetCVClassFactory"));
    releaseFactory = reinterpret_cast<ReleaseCVClassFactoryFn>(library.Find("ReleaseCVClassFactory"));
    if (getFactory == nullptr || releaseFactory == nullptr) {
      return ::testing::AssertionFailure() << path << " lacks an export";
    }
    return ::testing::AssertionSuccess();
  }
};

// The sockets layer of this program (the library has its own).
class PluginLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SocketsStartup(), 0); }
  void TearDown() override { SocketsCleanup(); }
};

TEST_F(PluginLibraryTest, DescribesOneClassAndCreatesItThroughAnyFactory) {
  PluginLibrary plugin;
  ASSERT_TRUE(plugin.Load());
  IPluginFactory* first = plugin.getFactory();
  IPluginFactory* second = plugin.getFactory();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);

  ASSERT_EQ(first->GetDescriptorCount(), 1);
  const PluginDescriptor* table = first->GetDescriptors();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(second->GetDescriptors(), table);
  EXPECT_EQ(std::memcmp(&table[0].ClassId, &kLanFeedClassId, sizeof(PluginClassId)), 0);
  EXPECT_EQ(table[0].Version, 0x00010001u);
  EXPECT_EQ(table[0].Kind, 10u);
  ASSERT_NE(table[0].DisplayName, nullptr);
  EXPECT_EQ(ToUtf8(table[0].DisplayName), "LAN Feed");
  const PluginDescriptor end{};
  EXPECT_EQ(std::memcmp(&table[1].ClassId, &end.ClassId, sizeof(PluginClassId)), 0);
  EXPECT_EQ(table[1].Version, 0u);
  EXPECT_EQ(table[1].Kind, 0u);
  EXPECT_EQ(table[1].DisplayName, nullptr);

  int marker = 0;
  auto* none = reinterpret_cast<IInputPlugin*>(&marker);
  EXPECT_EQ(first->CreateInstance(&kLoggerClassId, &none, nullptr), 0);
  EXPECT_EQ(none, nullptr);

  IInputPlugin* object = nullptr;
  EXPECT_EQ(first->CreateInstance(&kLanFeedClassId, &object, nullptr), 0);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->GetDisplayName(), table[0].DisplayName);
  EXPECT_EQ(object->GetVersion(), table[0].Version);
  EXPECT_EQ(object->GetKind(), table[0].Kind);
  // The object does not belong to the factory that made it.
  plugin.releaseFactory(first);
  EXPECT_EQ(object->GetKind(), 10u);
  EXPECT_EQ(second->DestroyInstance(&kLanFeedClassId, object), 0);
  plugin.releaseFactory(second);
}

// A port on 127.0.0.1 that was free a moment ago.
int32_t FreePort(int32_t type) {
  SocketHandle s = SocketCreate(kAfInet, type, 0);
  if (s == kInvalidSocket) return -1;
  int32_t port = SocketBind(s, MakeSocketAddress(kInaddrLoopback, 0)) == 0 ? SocketLocalPort(s) : -1;
  SocketClose(s);
  return port;
}

// Sends `blocks` to 127.0.0.1:port, over one TCP connection or as one
// datagram each. The connection stays open until `Close`, so the server sees
// no end of stream while the test looks at what arrived.
class Sender {
 public:
  Sender(int32_t protocol, int32_t port) : udp_(protocol == kProtocolUdp), port_(port) {
    socket_ = SocketCreate(kAfInet, udp_ ? kSockDgram : kSockStream, 0);
    if (!udp_ && socket_ != kInvalidSocket &&
        SocketConnect(socket_, MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port))) != 0) {
      Close();
    }
  }
  ~Sender() { Close(); }
  bool ready() const { return socket_ != kInvalidSocket; }
  bool Send(const std::string& block) {
    const auto length = static_cast<int32_t>(block.size());
    if (udp_) {
      return SocketSendTo(socket_, block.data(), length,
                          MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port_))) == length;
    }
    return SocketSend(socket_, block.data(), length) == length;
  }
  void Close() {
    if (socket_ != kInvalidSocket) SocketClose(socket_);
    socket_ = kInvalidSocket;
  }

 private:
  bool udp_;
  int32_t port_;
  SocketHandle socket_ = kInvalidSocket;
};

// Whether a server still holds `port`: a TCP connection is accepted, or a
// UDP bind is refused.
bool PortInUse(int32_t protocol, int32_t port) {
  const auto address = MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port));
  SocketHandle s = SocketCreate(kAfInet, protocol == kProtocolUdp ? kSockDgram : kSockStream, 0);
  bool inUse = protocol == kProtocolUdp ? SocketBind(s, address) != 0 : SocketConnect(s, address) == 0;
  SocketClose(s);
  return inUse;
}

FakeElement* Setting(StrictConfigTree& tree, std::initializer_list<const char*> path) {
  FakeElement* element = &tree.rootElement();
  for (const char* name : path) {
    element = element != nullptr ? element->Child(name) : nullptr;
  }
  return element;
}

class PluginLibraryTraffic : public PluginLibraryTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  int32_t protocol() const { return GetParam(); }
};

// What a host holds while the plug-in runs. The destructor finishes the
// host's part in the host's order when a check ends a test early, so the
// library is never unloaded under a running server thread.
struct HostSession {
  PluginLibrary library;
  IPluginFactory* factory = nullptr;
  IInputPlugin* plugin = nullptr;

  ~HostSession() {
    if (plugin != nullptr) {
      plugin->Uninitialize();
      factory->DestroyInstance(&kLanFeedClassId, plugin);
    }
    if (factory != nullptr) library.releaseFactory(factory);
  }
};

bool LastStatusIs(const std::vector<RecordedCall>& calls, int32_t status) {
  for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
    if (call->kind == RecordedCall::Kind::kStatus) return call->status == status;
  }
  return false;
}

// The host's order: factory, descriptor, object, Initialize, the default
// configuration with the user's changes, Configure, AddConsumer; traffic;
// RemoveConsumer, Uninitialize, DestroyInstance, release, unload.
TEST_P(PluginLibraryTraffic, DeliversWhatArrivesAndFreesThePortAtTheEnd) {
  RecordingHost host;  // outlives the library
  const int32_t port = FreePort(protocol() == kProtocolUdp ? kSockDgram : kSockStream);
  ASSERT_GT(port, 0);
  HostSession session;
  ASSERT_TRUE(session.library.Load());
  session.factory = session.library.getFactory();
  ASSERT_NE(session.factory, nullptr);
  ASSERT_EQ(session.factory->GetDescriptorCount(), 1);
  session.factory->CreateInstance(&session.factory->GetDescriptors()[0].ClassId, &session.plugin, nullptr);
  IInputPlugin* plugin = session.plugin;
  ASSERT_NE(plugin, nullptr);
  EXPECT_EQ(plugin->Initialize(&host), 0);

  StrictConfigTree tree("<Plugin/>");
  EXPECT_EQ(plugin->WriteDefaultConfig(tree.root()), 0);
  MaterialiseFakeDefaults(&tree.rootElement());
  FakeElement* protocolSetting = Setting(tree, {"Device", "Protocol"});
  FakeElement* portSetting = Setting(tree, {"Device", "Port"});
  FakeElement* freqSetting = Setting(tree, {"Device", "Feedback", "OnDispatch", "Beeper", "Freq"});
  ASSERT_TRUE(protocolSetting != nullptr && portSetting != nullptr && freqSetting != nullptr)
      << DescribeShape(tree.rootElement());
  protocolSetting->value = std::to_string(protocol());
  portSetting->value = std::to_string(port);
  freqSetting->value = "2500";
  EXPECT_EQ(plugin->Configure(tree.root()), 0);
  EXPECT_EQ(plugin->AddConsumer(kConsumer), 0);
  ASSERT_TRUE(host.WaitFor([](const std::vector<RecordedCall>& calls) { return LastStatusIs(calls, 1); }, kWait))
      << "the server never listened";

  // Binary data, including bytes that are not text; each datagram whole.
  const std::vector<std::string> blocks = {std::string("first block\n"), std::string("\0\x01\xfe\xff second", 11)};
  {
    Sender sender(protocol(), port);
    ASSERT_TRUE(sender.ready());
    for (const std::string& block : blocks) ASSERT_TRUE(sender.Send(block));
    const std::string all = blocks[0] + blocks[1];
    EXPECT_TRUE(host.WaitForDeliveredBytes(all.size(), kWait));
    EXPECT_EQ(host.DeliveredBytes(), all);
  }
  const auto deliveries = host.Deliveries();
  if (protocol() == kProtocolUdp) {
    ASSERT_EQ(deliveries.size(), blocks.size());
    for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(deliveries[i].bytes, blocks[i]);
  }
  for (const RecordedCall& delivery : deliveries) {
    EXPECT_EQ(delivery.consumer, kConsumer);
    EXPECT_EQ(std::vector<uint8_t>(delivery.fixed, delivery.fixed + 5), (std::vector<uint8_t>{0, 4, 0, 0, 0}));
  }
  const auto feedbacks = host.Feedbacks();
  ASSERT_EQ(feedbacks.size(), deliveries.size()) << "one feedback request before every delivery";
  for (const RecordedCall& feedback : feedbacks) {
    EXPECT_EQ(feedback.feedback.Flags, static_cast<uint32_t>(kFeedbackBeeper));
    EXPECT_EQ(feedback.feedback.BeeperFreq, 2500);
    EXPECT_EQ(feedback.feedback.BeeperTime, 300);
  }
  // Up to here nothing failed; the stop below logs the interrupted wait.
  for (const std::string& line : host.LogLines()) EXPECT_NE(line.rfind("1 ", 0), 0u) << "a failure line: " << line;

  EXPECT_EQ(plugin->RemoveConsumer(kConsumer), 0);
  EXPECT_EQ(plugin->Uninitialize(), 0);
  EXPECT_EQ(host.LastStatus(), 0);
  EXPECT_FALSE(PortInUse(protocol(), port)) << "the server still holds port " << port;
  EXPECT_EQ(session.factory->DestroyInstance(&kLanFeedClassId, plugin), 0);
  session.plugin = nullptr;
  session.library.releaseFactory(session.factory);
  session.factory = nullptr;
}

// A sender bound to its own port on 127.0.0.1, as the records name it.
struct BoundSender {
  SocketHandle socket = kInvalidSocket;
  std::string name;  // "127.0.0.1:<its port>"

  BoundSender(int32_t protocol, int32_t port) {
    socket = SocketCreate(kAfInet, protocol == kProtocolUdp ? kSockDgram : kSockStream, 0);
    if (socket == kInvalidSocket || SocketBind(socket, MakeSocketAddress(kInaddrLoopback, 0)) != 0) return;
    name = "127.0.0.1:" + std::to_string(SocketLocalPort(socket));
    const auto server = MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port));
    if (protocol == kProtocolTcp && SocketConnect(socket, server) != 0) name.clear();
    to = server;
    udp = protocol == kProtocolUdp;
  }
  ~BoundSender() {
    if (socket != kInvalidSocket) SocketClose(socket);
  }
  bool Send(const std::string& block) {
    const auto length = static_cast<int32_t>(block.size());
    return (udp ? SocketSendTo(socket, block.data(), length, to) : SocketSend(socket, block.data(), length)) == length;
  }
  SocketAddress to{};
  bool udp = false;
};

TEST_P(PluginLibraryTraffic, EveryRecordNamesItsSenderToTheDeliveringThreadOnly) {
  RecordingHost host;  // outlives the library
  const int32_t port = FreePort(protocol() == kProtocolUdp ? kSockDgram : kSockStream);
  ASSERT_GT(port, 0);
  HostSession session;
  ASSERT_TRUE(session.library.Load());
  auto peerOf = reinterpret_cast<GetLanFeedDeliveryPeerFn>(session.library.library.Find("GetLanFeedDeliveryPeer"));
  ASSERT_NE(peerOf, nullptr);
  session.factory = session.library.getFactory();
  ASSERT_NE(session.factory, nullptr);
  session.factory->CreateInstance(&kLanFeedClassId, &session.plugin, nullptr);
  IInputPlugin* plugin = session.plugin;
  ASSERT_NE(plugin, nullptr);
  plugin->Initialize(&host);

  // What the host's calls read, in order: "feedback <peer>" and "<first byte> <peer>".
  std::mutex mutex;
  std::vector<std::string> seen;
  std::atomic<int> delivering{0};
  std::atomic<bool> askedMeanwhile{false};
  const auto peerHere = [&] {
    char text[64];
    std::memset(text, 'x', sizeof text);
    const int32_t length = peerOf(text, sizeof text);
    EXPECT_EQ(static_cast<std::size_t>(length), std::strlen(text));
    return std::string(text);
  };
  host.SetFeedbackHook([&](const FeedbackParams&) {
    const std::string peer = peerHere();
    std::lock_guard<std::mutex> guard(mutex);
    seen.push_back("feedback " + peer);
  });
  host.SetDeliverHook([&](const InputDataRecord& record) {
    char small[8] = "x";
    EXPECT_EQ(peerOf(small, sizeof small), 0) << "too small for the sender";
    EXPECT_EQ(small[0], '\0');
    {
      std::lock_guard<std::mutex> guard(mutex);
      seen.push_back(std::string(1, static_cast<char>(record.Data[0])) + " " + peerHere());
    }
    // The first delivery waits until the test's thread has asked meanwhile.
    if (delivering.fetch_add(1) == 0) {
      for (int i = 0; i < 500 && !askedMeanwhile.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  StrictConfigTree tree("<Plugin><Device><Protocol>" + std::to_string(protocol()) + "</Protocol><Port>" +
                        std::to_string(port) + "</Port></Device></Plugin>");
  EXPECT_EQ(plugin->Configure(tree.root()), 0);
  EXPECT_EQ(plugin->AddConsumer(kConsumer), 0);
  ASSERT_TRUE(host.WaitFor([](const std::vector<RecordedCall>& calls) { return LastStatusIs(calls, 1); }, kWait));

  BoundSender a(protocol(), port), b(protocol(), port);
  ASSERT_FALSE(a.name.empty() || b.name.empty());
  ASSERT_NE(a.name, b.name);
  ASSERT_TRUE(a.Send("a1"));
  // Asked from another thread while that delivery is under way: nothing.
  for (int i = 0; i < 500 && delivering.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(peerHere(), "");
  askedMeanwhile.store(true);
  for (int i = 2; i <= 4; ++i) {
    ASSERT_TRUE(b.Send("b" + std::to_string(i)));
    ASSERT_TRUE(a.Send("a" + std::to_string(i)));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(host.WaitForDeliveredBytes(2 * 7, kWait));
  EXPECT_EQ(peerHere(), "") << "outside a delivery";

  std::vector<std::string> expected;
  for (const RecordedCall& delivery : host.Deliveries()) {
    const std::string& sender = delivery.bytes[0] == 'a' ? a.name : b.name;
    expected.push_back("feedback " + sender);
    expected.push_back(std::string(1, delivery.bytes[0]) + " " + sender);
  }
  {
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ(seen, expected);
  }
  EXPECT_EQ(plugin->RemoveConsumer(kConsumer), 0);
}

INSTANTIATE_TEST_SUITE_P(Protocols, PluginLibraryTraffic, ::testing::Values(kProtocolTcp, kProtocolUdp),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                           return std::string(info.param == kProtocolUdp ? "Udp" : "Tcp");
                         });

}  // namespace
}  // namespace lanfeed::testing
