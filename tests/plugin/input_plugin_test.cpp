#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "plugin/input_plugin.h"
#include "tests/plugin/fake_server.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/recording_host.h"

namespace lanfeed {
namespace {

using testing::FakeServer;
using testing::RecordingHost;

class InputPluginTest : public ::testing::Test {
 protected:
  void SetUp() override { plugin.Initialize(&host); }
  void TearDown() override { EXPECT_EQ(host.overlappingDeliveries(), 0); }

  FakeServer* AttachServer(bool socketOpen) {
    auto* server = new FakeServer("s", &journal);
    server->SetSocketOpen(socketOpen);
    plugin.SetServer(server);
    return server;
  }

  RecordingHost host;
  std::vector<std::string> journal;
  InputPlugin plugin;
};

TEST_F(InputPluginTest, ConstantOperationsAndNoOperationSlots) {
  EXPECT_EQ(ToUtf8(plugin.GetDisplayName()), "LAN Feed");
  EXPECT_EQ(plugin.GetVersion(), 0x00010001u);
  EXPECT_EQ(plugin.GetKind(), 10u);
  int dummy = 0;
  EXPECT_EQ(plugin.Reserved7(&dummy), 0);
  EXPECT_EQ(plugin.Reserved10(nullptr), 0);
  EXPECT_EQ(plugin.Reserved11(&dummy), 0);
  EXPECT_TRUE(host.Calls().empty());
  EXPECT_EQ(plugin.ConsumerCount(), 0u);
}

TEST_F(InputPluginTest, DeliversOneReusedRecordPerConsumerInRegistrationOrder) {
  plugin.AddConsumer(5);
  plugin.AddConsumer(7);
  const uint8_t bytes[3] = {'a', 'b', 'c'};
  plugin.DeliverData(bytes, 3);
  auto deliveries = host.Deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].consumer, 5);
  EXPECT_EQ(deliveries[1].consumer, 7);
  for (const auto& d : deliveries) {
    const uint8_t fixed[5] = {0, 4, 0, 0, 0};
    EXPECT_EQ(std::memcmp(d.fixed, fixed, 5), 0);
    EXPECT_EQ(d.length, 3u);
    EXPECT_EQ(d.dataPointer, bytes) << "bytes are passed in place, never copied";
    EXPECT_EQ(d.bytes, "abc");
  }
  EXPECT_EQ(deliveries[0].recordPointer, deliveries[1].recordPointer) << "one record serves every consumer";
}

TEST_F(InputPluginTest, DuplicateConsumerIsDeliveredTwiceAndRemovedTogether) {
  FakeServer* server = AttachServer(true);
  plugin.AddConsumer(4);
  plugin.AddConsumer(4);
  const uint8_t b = 'x';
  plugin.DeliverData(&b, 1);
  EXPECT_EQ(host.Deliveries().size(), 2u);
  journal.clear();
  plugin.RemoveConsumer(4);
  EXPECT_TRUE(journal.empty()) << "the list held two entries: no suspend";
  EXPECT_EQ(plugin.ConsumerCount(), 0u);
  host.Clear();
  plugin.DeliverData(&b, 1);
  EXPECT_TRUE(host.Deliveries().empty());
  (void)server;
}

// The consumer list grows without throwing: an addition that needs room it
// cannot get is refused alone, and the entries already there keep their
// order through the refusal, later growth and removals.
TEST_F(InputPluginTest, AdditionWithoutRoomIsRefusedAndTheListKeepsItsOrder) {
  AttachServer(true);
  std::vector<ConsumerId> expected{1, 2, 3};
  for (ConsumerId id : expected) plugin.AddConsumer(id);
  bool refused = false;
  for (ConsumerId id = 4; id <= 64 && !refused; ++id) {
    bool fired = false;
    {
      testing::FailingAllocation failing(1);
      plugin.AddConsumer(id);
      fired = failing.fired();
    }
    if (fired) {
      refused = true;
      EXPECT_EQ(plugin.ConsumerCount(), expected.size()) << "consumer " << int{id} << " must not be added";
    } else {
      expected.push_back(id);
    }
  }
  ASSERT_TRUE(refused) << "the list never had to grow";
  plugin.AddConsumer(200);  // room again
  expected.push_back(200);
  plugin.RemoveConsumer(2);
  expected.erase(std::remove(expected.begin(), expected.end(), ConsumerId{2}), expected.end());
  const uint8_t b = 'x';
  plugin.DeliverData(&b, 1);
  std::vector<ConsumerId> delivered;
  for (const auto& d : host.Deliveries()) delivered.push_back(d.consumer);
  EXPECT_EQ(delivered, expected);
}

// The decisions taken on the first addition and the last removal.
struct ConsumerCase {
  const char* name;
  bool haveServer;
  bool socketOpen;
  int32_t initializeResult;
  std::vector<std::string> expectedJournal;
  std::vector<int32_t> expectedStatuses;
};

TEST_F(InputPluginTest, FirstAdditionStartsOrInitializesTheServer) {
  const ConsumerCase cases[] = {
      {"no server", false, false, 1, {}, {0}},
      {"socket closed", true, false, 1, {"s.Initialize", "s.Start"}, {}},
      {"initialize fails", true, false, 0, {"s.Initialize"}, {}},
      {"socket open", true, true, 1, {"s.Start"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingHost localHost;
    std::vector<std::string> localJournal;
    {
      InputPlugin p;
      p.Initialize(&localHost);
      if (c.haveServer) {
        auto* s = new FakeServer("s", &localJournal);
        s->SetSocketOpen(c.socketOpen);
        s->initializeResult = c.initializeResult;
        p.SetServer(s);
      }
      p.AddConsumer(1);
      p.AddConsumer(2);  // a second consumer changes nothing
      EXPECT_EQ(localJournal, c.expectedJournal);
      EXPECT_EQ(localHost.Statuses(), c.expectedStatuses);
      p.Uninitialize();
    }
  }
}

TEST_F(InputPluginTest, RemovalSuspendsWhenAtMostOneEntryWhateverTheId) {
  const ConsumerCase cases[] = {
      {"server, one other consumer", true, true, 1, {"s.Suspend"}, {}},
      {"no server, one other consumer", false, false, 1, {}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingHost localHost;
    std::vector<std::string> localJournal;
    InputPlugin p;
    p.Initialize(&localHost);
    if (c.haveServer) {
      auto* s = new FakeServer("s", &localJournal);
      s->SetSocketOpen(true);
      p.SetServer(s);
    }
    p.AddConsumer(9);
    localJournal.clear();
    localHost.Clear();
    p.RemoveConsumer(3);  // not registered
    EXPECT_EQ(localJournal, c.expectedJournal);
    EXPECT_EQ(localHost.Statuses(), c.expectedStatuses);
    EXPECT_EQ(p.ConsumerCount(), 1u) << "the registered consumer stays";
    // On an empty list the removal suspends again and removes nothing.
    p.RemoveConsumer(9);
    localJournal.clear();
    localHost.Clear();
    p.RemoveConsumer(9);
    EXPECT_EQ(localJournal, c.expectedJournal);
    EXPECT_EQ(localHost.Statuses(), c.expectedStatuses);
    p.Uninitialize();
  }
}

TEST_F(InputPluginTest, ResumeAfterSuspendStartsWithoutInitialize) {
  AttachServer(false);
  plugin.AddConsumer(1);
  static_cast<FakeServer*>(plugin.server())->SetSocketOpen(true);  // the worker opened it
  plugin.RemoveConsumer(1);
  plugin.AddConsumer(1);
  EXPECT_EQ(journal, (std::vector<std::string>{"s.Initialize", "s.Start", "s.Suspend", "s.Start"}));
}

TEST_F(InputPluginTest, StatusIsOneOnlyWhileListening) {
  EXPECT_EQ(host.LastStatus(), -1);
  plugin.PublishStatus();
  EXPECT_EQ(host.LastStatus(), 0) << "no server";
  FakeServer* server = AttachServer(true);
  for (auto [state, expected] : {std::pair{kServerClosed, 0}, std::pair{kServerListening, 1},
                                 std::pair{kServerSuspended, 0}}) {
    server->SetState(state);
    plugin.PublishStatus();
    auto calls = host.Calls(testing::RecordedCall::Kind::kStatus);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().status, expected);
    EXPECT_EQ(calls.back().property, 2);
    EXPECT_EQ(calls.back().size, 4);
  }
}

TEST_F(InputPluginTest, NullDataZeroCountOrNoConsumerDeliverNothingAndTakeNoLock) {
  plugin.AddConsumer(1);
  std::atomic<bool> inDeliver{false}, release{false};
  host.SetDeliverHook([&](const InputDataRecord&) {
    inDeliver = true;
    while (!release) std::this_thread::yield();
  });
  const uint8_t b = 'q';
  std::thread holder([&] { plugin.DeliverData(&b, 1); });  // holds the plug-in lock inside Deliver
  while (!inDeliver) std::this_thread::yield();
  host.SetDeliverHook(nullptr);
  // These return while the lock is held elsewhere; a lock would block them.
  plugin.DeliverData(nullptr, 4);
  plugin.DeliverData(&b, 0);
  release = true;
  holder.join();
  EXPECT_EQ(host.Deliveries().size(), 1u);

  InputPlugin empty;
  empty.Initialize(&host);
  empty.DeliverData(&b, 1);
  EXPECT_EQ(host.Deliveries().size(), 1u);
  plugin.Initialize(&host);  // keep CurrentPlugin on the fixture's object
}

TEST_F(InputPluginTest, ConcurrentDeliveriesNeverOverlapAndRemovalWaitsForThem) {
  plugin.AddConsumer(1);
  plugin.AddConsumer(2);
  std::vector<std::thread> senders;
  std::atomic<int> sent{0};
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&, t] {
      uint8_t block[8];
      for (int i = 0; i < 200; ++i) {
        std::memset(block, 'a' + t, sizeof block);
        plugin.DeliverData(block, sizeof block);
        ++sent;
      }
    });
  }
  while (sent < 100) std::this_thread::yield();
  plugin.RemoveConsumer(2);
  const std::size_t atRemoval = host.Deliveries().size();
  for (auto& s : senders) s.join();
  // A removal waits for the delivery in progress, so nothing reaches
  // consumer 2 after it returned; before it, every block went to 1 then 2
  // with nothing of another block in between.
  auto deliveries = host.Deliveries();
  for (std::size_t i = 0; i < deliveries.size(); ++i) {
    if (deliveries[i].consumer != 2) continue;
    EXPECT_LT(i, atRemoval);
    ASSERT_GT(i, 0u);
    EXPECT_EQ(deliveries[i - 1].consumer, 1);
    EXPECT_EQ(deliveries[i - 1].bytes, deliveries[i].bytes);
  }
  EXPECT_EQ(deliveries.size(), 800u + std::count_if(deliveries.begin(), deliveries.end(),
                                                    [](const auto& d) { return d.consumer == 2; }));
}

TEST_F(InputPluginTest, LogAndCurrentPluginRouting) {
  plugin.Log(kLogError, nullptr);
  EXPECT_TRUE(host.Logs().empty());
  LogCurrent(kLogInfo, LF_TEXT("via current"));
  ASSERT_EQ(host.LogLines(), std::vector<std::string>{"3 via current"});
  {
    RecordingHost other;
    InputPlugin second;
    second.Initialize(&other);
    LogCurrent(kLogError, LF_TEXT("to the last initialised"));
    EXPECT_EQ(other.LogLines(), std::vector<std::string>{"1 to the last initialised"});
  }
  EXPECT_EQ(CurrentPlugin.load(), nullptr) << "destroying the current object clears the pointer";
  LogCurrent(kLogInfo, LF_TEXT("dropped"));
  EXPECT_EQ(host.Logs().size(), 1u);
  plugin.Initialize(&host);
  {
    InputPlugin bystander;  // never initialised: its destruction leaves CurrentPlugin alone
  }
  EXPECT_EQ(CurrentPlugin.load(), &plugin);
}

TEST_F(InputPluginTest, FeedbackNeedsHostAndRecord) {
  FeedbackParams params{};
  params.Flags = kFeedbackLed;
  plugin.PlayFeedback(nullptr);
  plugin.PlayFeedback(&params);
  ASSERT_EQ(host.Feedbacks().size(), 1u);
  EXPECT_EQ(host.Feedbacks()[0].feedback.Flags, 2u);
  InputPlugin noHost;
  noHost.PlayFeedback(&params);
  noHost.PublishStatus();
  noHost.Log(kLogInfo, LF_TEXT("x"));
  EXPECT_EQ(host.Calls().size(), 1u);
}

TEST_F(InputPluginTest, UninitializeStopsServerBeforeDeletingItOnce) {
  AttachServer(true);
  plugin.Uninitialize();
  EXPECT_EQ(journal, (std::vector<std::string>{"s.Uninitialize", "s.destroy"}));
  EXPECT_EQ(plugin.server(), nullptr);
  plugin.Uninitialize();
  EXPECT_EQ(journal.size(), 2u);
}

TEST(InputPluginLifetime, DestructorUninitializesAServerStillHeld) {
  RecordingHost host;
  std::vector<std::string> journal;
  {
    InputPlugin plugin;
    plugin.Initialize(&host);
    auto* s = new FakeServer("s", &journal);
    plugin.SetServer(s);
  }
  EXPECT_EQ(journal, (std::vector<std::string>{"s.Uninitialize", "s.destroy"}));
}

}  // namespace
}  // namespace lanfeed
