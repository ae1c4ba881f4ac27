// The TCP server and its client connections, driven through the plug-in
// object with real sockets on 127.0.0.1.
// The log texts are pinned word for word, their misspellings included: they
// are a contract with stored logs (plugin/servers/socket_error_text.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "platform/text.h"
#include "plugin/servers/tcp_server.h"
#include "server_test_support.h"

namespace lanfeed::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class TcpServerTest : public ServerTest {
 protected:
  // Configures a TCP server on a free port, starts it and waits until it
  // listens.
  TcpServer* Serve(int32_t timeout = 60) {
    auto* server = static_cast<TcpServer*>(Configure(kProtocolTcp, FreePort(kSockStream), timeout));
    EXPECT_NE(server, nullptr);
    AddConsumer();
    EXPECT_TRUE(WaitLog(Info(Listening())));
    return server;
  }
  std::string Listening() const { return "Start listening on the TCP socket. Port : " + std::to_string(port); }
  std::string Connected() const { return "TCP client connected to Port : " + std::to_string(port) + " from 127.0.0.1"; }
  static std::string ClosedLine() { return "TCP client connection closed from 127.0.0.1."; }
  static std::string TimeOutLine() { return "TCP Connection from 127.0.0.1 is time out. Closing the connection."; }
  static std::string SuspendedLine() {
    return "Received data from TCP client:127.0.0.1. Data reading is suspended. Not dispatching data.";
  }
};

TEST_F(TcpServerTest, ConcurrentClientsDeliverWholeBlocksOneAtATime) {
  Serve();
  // A slow host makes readers queue up for the delivery lock.
  host.SetDeliverHook([](const InputDataRecord&) { std::this_thread::sleep_for(milliseconds(2)); });
  TestClient a(port), b(port);
  ASSERT_TRUE(a.connected() && b.connected());
  ASSERT_TRUE(WaitLog(Info(Connected()), 2));

  std::string sent[2];
  for (int i = 0; i < 300; ++i) {
    sent[0] += "a" + std::to_string(i) + ";";
    sent[1] += "b" + std::to_string(i) + ";";
  }
  std::thread senders[2];
  TestClient* clients[2] = {&a, &b};
  for (int c = 0; c < 2; ++c) {
    senders[c] = std::thread([&, c] {
      for (std::size_t at = 0; at < sent[c].size(); at += 40) clients[c]->Send(sent[c].substr(at, 40));
    });
  }
  for (auto& t : senders) t.join();
  ASSERT_TRUE(host.WaitForDeliveredBytes(sent[0].size() + sent[1].size()));

  ExpectFeedbackBeforeEachDelivery();
  // Each reader's blocks, joined in delivery order, are exactly its client's bytes.
  std::map<std::thread::id, std::string> byReader;
  for (const auto& d : host.Deliveries()) {
    EXPECT_EQ(d.consumer, kConsumer);
    EXPECT_LE(d.length, 8192u);
    byReader[d.thread] += d.bytes;
  }
  ASSERT_EQ(byReader.size(), 2u);
  for (const auto& [thread, bytes] : byReader) {
    EXPECT_TRUE(bytes == sent[0] || bytes == sent[1]) << bytes.substr(0, 40);
  }
}

TEST_F(TcpServerTest, LargeSendArrivesAsSeveralOrderedBlocks) {
  Serve();
  TestClient client(port);
  std::string data;
  for (int i = 0; data.size() < 3 * 8192 + 100; ++i) data += std::to_string(i) + ",";
  ASSERT_TRUE(client.Send(data));
  ASSERT_TRUE(host.WaitForDeliveredBytes(data.size()));
  const auto deliveries = host.Deliveries();
  EXPECT_GE(deliveries.size(), 4u);
  for (const auto& d : deliveries) EXPECT_LE(d.length, 8192u);
  EXPECT_EQ(host.DeliveredBytes(), data);
  ExpectFeedbackBeforeEachDelivery();
}

TEST_F(TcpServerTest, ClientThatClosesAtOnceIsLoggedAndDropped) {
  auto* server = Serve();
  {
    TestClient client(port);
    ASSERT_TRUE(client.connected());
  }
  ASSERT_TRUE(WaitLog(Info(ClosedLine())));
  auto lines = host.LogLines();
  const int connected = FindLine(lines, Info(Connected()));
  const int already = FindLine(lines, Info("Connection with 127.0.0.1 already closed."), connected);
  ASSERT_GE(connected, 0);
  ASSERT_GT(already, connected);
  EXPECT_GT(FindLine(lines, Info(ClosedLine()), already), already);
  EXPECT_TRUE(host.Deliveries().empty());

  // The next accepted client first removes the dead one.
  EXPECT_EQ(server->ClientCount(), 1u);
  TestClient second(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 2));
  EXPECT_TRUE(Eventually([&] { return server->ClientCount() == 1; }));
  second.Close();
  plugin.Uninitialize();
  EXPECT_EQ(host.CountLogs(ClosedLine()), 2u);  // each connection closed once
}

TEST_F(TcpServerTest, InactivityTimeOutClosesSilentClientOnly) {
  Serve(1);
  TestClient silent(port), chatty(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 2));
  // The chatty client sends every 300 ms for 2.4 s, longer than two time-outs.
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(chatty.Send("x"));
    std::this_thread::sleep_for(milliseconds(300));
  }
  EXPECT_TRUE(silent.WaitClosedByServer(milliseconds(100)));
  EXPECT_FALSE(chatty.WaitClosedByServer(milliseconds(0)));
  EXPECT_EQ(host.CountLogs(TimeOutLine()), 1u);
  EXPECT_EQ(host.CountLogs(ClosedLine()), 1u);
  auto lines = host.LogLines();
  EXPECT_LT(FindLine(lines, Info(TimeOutLine())), FindLine(lines, Info(ClosedLine())));
  EXPECT_EQ(host.DeliveredBytes(), std::string(8, 'x'));
}

TEST_F(TcpServerTest, PendingTimeOutChangeDefersTheTimeOut) {
  // Applied 1 s; 2 s configured but not yet applied: waits of 2 s end
  // without closing, since a changed time-out is pending.
  Serve(1);
  Reconfigure(2);
  TestClient client(port);
  ASSERT_TRUE(WaitLog(Info(Connected())));
  EXPECT_FALSE(client.WaitClosedByServer(milliseconds(2600)));
  EXPECT_EQ(host.CountLogs(TimeOutLine()), 0u);

  // Start applies the 2 s; the next full wait then closes the client.
  RemoveConsumer();
  AddConsumer();
  EXPECT_TRUE(client.WaitClosedByServer(seconds(5)));
  EXPECT_EQ(host.CountLogs(TimeOutLine()), 1u);
}

TEST_F(TcpServerTest, StartClosesClientsWhenTimeOutBecomesFinite) {
  auto* server = Serve(0);
  TestClient client(port);
  ASSERT_TRUE(Eventually([&] { return server->ClientCount() == 1; }));
  RemoveConsumer();
  Reconfigure(30);
  AddConsumer();
  EXPECT_EQ(host.CountLogs("TCP connection timeout change from INFINITE to 30 seconds. "
                           "Closeing all the existing connections."),
            1u);
  EXPECT_GE(FindLine(host.LogLines(), Error("TCP connection timeout change from INFINITE to 30 seconds. "
                                            "Closeing all the existing connections.")),
            0);
  EXPECT_TRUE(client.WaitClosedByServer(seconds(2)));
  EXPECT_EQ(host.CountLogs(ClosedLine()), 1u);
}

TEST_F(TcpServerTest, FiniteTimeOutChangeKeepsClients) {
  Serve(60);
  TestClient client(port);
  ASSERT_TRUE(WaitLog(Info(Connected())));
  RemoveConsumer();
  Reconfigure(30);
  AddConsumer();
  ASSERT_TRUE(client.Send("still here"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(10));
  EXPECT_EQ(host.DeliveredBytes(), "still here");
  EXPECT_EQ(host.CountLogs(ClosedLine()), 0u);
  EXPECT_EQ(CountLinesStartingWith(host.LogLines(), "1 TCP connection timeout change"), 0u);
}

TEST_F(TcpServerTest, SuspendDropsDataAndResumeDeliversWithoutReconnecting) {
  Serve();
  TestClient client(port);
  ASSERT_TRUE(client.Send("one"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(3));
  EXPECT_EQ(host.LastStatus(), 1);

  RemoveConsumer();
  EXPECT_EQ(host.LastStatus(), 0);
  ASSERT_TRUE(client.Send("two"));
  ASSERT_TRUE(WaitLog(Info(SuspendedLine())));
  const std::size_t feedbacks = host.Feedbacks().size();

  AddConsumer();
  EXPECT_EQ(host.LastStatus(), 1);
  ASSERT_TRUE(client.Send("three"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(8));
  EXPECT_EQ(host.DeliveredBytes(), "onethree");
  EXPECT_EQ(host.Feedbacks().size(), feedbacks + 1);
  EXPECT_EQ(host.CountLogs(SuspendedLine()), 1u);
  EXPECT_EQ(host.CountLogs(Connected()), 1u);
  EXPECT_EQ(host.CountLogs(Listening()), 1u);
  ExpectFeedbackBeforeEachDelivery();
}

TEST_F(TcpServerTest, TakenPortIsRetriedUntilItFrees) {
  const int32_t taken = FreePort(kSockStream);
  PortHolder holder(kSockStream, taken);
  ASSERT_TRUE(holder.holding());
  Configure(kProtocolTcp, taken);
  UseFastOpenRetry();
  AddConsumer();
  const std::string p = std::to_string(taken);
  ASSERT_TRUE(WaitLog(Error("Failed to bind the TCP socket. Port : " + p + " Error : Address already in use..")));
  auto lines = host.LogLines();
  EXPECT_EQ(FindLine(lines, Info("Successfully initialized TCP Socket. Port " + p + ".")) + 1,
            FindLine(lines, Error("Failed to bind the TCP socket. Port : " + p +
                                  " Error : Address already in use..")));
  EXPECT_TRUE(WaitStatus(0));
  EXPECT_EQ(CountLinesStartingWith(lines, "3 TCP server waiting"), 0u);  // nothing served

  holder.Release();
  ASSERT_TRUE(WaitLog(Info(Listening()), 1, seconds(8)));
  lines = host.LogLines();
  EXPECT_GE(FindLine(lines, Info("TCP Socket already initialized. Port " + p + ".")), 0);
  EXPECT_EQ(host.CountLogs("Successfully initialized TCP Socket. Port " + p + "."), 1u);
  EXPECT_TRUE(WaitStatus(1));
  TestClient client(taken);
  ASSERT_TRUE(client.Send("served"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(6));
}

TEST_F(TcpServerTest, UninitializeWithBlockedReadersLeavesNothingBehind) {
  const int descriptors = CountOpenDescriptors();
  const int threads = CountThreads();
  ASSERT_GE(threads, 0);
  Serve();
  TestClient a(port), b(port), c(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 3));
  plugin.Uninitialize();
  EXPECT_EQ(host.CountLogs(ClosedLine()), 3u);
  EXPECT_GE(FindLine(host.LogLines(), Info("Listening TCP socket closed. Port : " + std::to_string(port) + ".")), 0);
  EXPECT_EQ(CountLinesStartingWith(host.LogLines(),
                                   "1 Stopped waiting for incomming connections on port : " +
                                       std::to_string(port) + ". Error : "),
            1u);
  EXPECT_EQ(host.LastStatus(), 0);
  for (TestClient* client : {&a, &b, &c}) EXPECT_TRUE(client->WaitClosedByServer(seconds(2)));
  a.Close();
  b.Close();
  c.Close();
  EXPECT_TRUE(Eventually([&] { return CountThreads() == threads; }));
  if (descriptors < 0) GTEST_SKIP() << kDescriptorsNotCounted;
  EXPECT_TRUE(Eventually([&] { return CountOpenDescriptors() == descriptors; }));
}

// Short-lived clients connect, send one byte and close, many at a time,
// while one client streams: every socket the server opens and closes reuses
// the system's numbers and the sockets layer's table entries under the
// streaming reader. Nothing may be lost, doubled or reordered, and nothing
// may be left behind.
TEST_F(TcpServerTest, ShortLivedClientsChurnWhileOneClientStreams) {
  const int descriptors = CountOpenDescriptors();
  const int threads = CountThreads();
  Serve();
  TestClient streamer(port);
  ASSERT_TRUE(streamer.connected());
  ASSERT_TRUE(WaitLog(Info(Connected())));

  // A fixed pseudo-random sequence, sent in pieces of 1 to 16384 bytes for
  // as long as the churn lasts (at least 1 MiB, at most 8 MiB).
  uint32_t state = 0x2545F491;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  constexpr int kChurners = 2;
  constexpr int kBatches = 25;
  constexpr int kBatch = 8;  // clients open at once per churner: the layer's table grows
  const auto letter = [](int churner, int batch, int client) {
    return static_cast<char>('A' + ((churner * kBatches + batch) * kBatch + client) % 26);
  };
  std::atomic<int> failed{0};
  std::atomic<int> churning{kChurners};
  std::string stream;
  std::thread streaming([&] {
    while (stream.size() < (8u << 20) && (stream.size() < (1u << 20) || churning.load() > 0)) {
      std::string piece(1 + next() % 16384, '\0');
      for (char& byte : piece) byte = static_cast<char>(next());
      if (!streamer.Send(piece)) failed.fetch_add(1);
      stream += piece;
    }
  });
  std::vector<std::thread> churners;
  for (int c = 0; c < kChurners; ++c) {
    churners.emplace_back([&, c] {
      for (int b = 0; b < kBatches; ++b) {
        std::vector<std::unique_ptr<TestClient>> batch;
        for (int i = 0; i < kBatch; ++i) batch.push_back(std::make_unique<TestClient>(port));
        for (int i = 0; i < kBatch; ++i) {
          if (!batch[i]->connected() || !batch[i]->Send(std::string(1, letter(c, b, i)))) failed.fetch_add(1);
        }
      }  // each batch closes its clients here
      churning.fetch_sub(1);
    });
  }
  for (std::thread& churner : churners) churner.join();
  streaming.join();
  ASSERT_EQ(failed.load(), 0);
  const std::size_t churned = kChurners * kBatches * kBatch;
  ASSERT_TRUE(host.WaitForDeliveredBytes(stream.size() + churned, seconds(20)));
  ASSERT_TRUE(WaitLog(Info("Connection with 127.0.0.1 already closed."), churned, seconds(10)));

  // The streaming reader lives throughout, so its thread is the one that
  // delivered more than one byte; every other reader delivered one.
  std::map<std::thread::id, std::size_t> bytesByThread;
  for (const auto& d : host.Deliveries()) bytesByThread[d.thread] += d.length;
  std::thread::id streamReader;
  std::size_t most = 0;
  for (const auto& [thread, bytes] : bytesByThread) {
    if (bytes > most) {
      most = bytes;
      streamReader = thread;
    }
  }
  std::string streamed;
  std::map<char, int> churnReceived, churnSent;
  for (const auto& d : host.Deliveries()) {
    if (d.thread == streamReader) {
      streamed += d.bytes;
    } else {
      EXPECT_EQ(d.length, 1u);
      for (const char byte : d.bytes) ++churnReceived[byte];
    }
  }
  for (int c = 0; c < kChurners; ++c) {
    for (int b = 0; b < kBatches; ++b) {
      for (int i = 0; i < kBatch; ++i) ++churnSent[letter(c, b, i)];
    }
  }
  EXPECT_EQ(streamed.size(), stream.size());
  EXPECT_TRUE(streamed == stream) << "the stream arrived altered";
  EXPECT_EQ(churnReceived, churnSent);
  EXPECT_EQ(host.CountLogs(Connected()), churned + 1);
  ExpectFeedbackBeforeEachDelivery();

  streamer.Close();
  plugin.Uninitialize();
  EXPECT_TRUE(Eventually([&] { return CountOpenDescriptors() == descriptors; }))
      << descriptors << " descriptors before, " << CountOpenDescriptors() << " after";
  EXPECT_TRUE(Eventually([&] { return CountThreads() == threads; }))
      << threads << " threads before, " << CountThreads() << " after";
  // Everything else has been checked by now.
  if (descriptors < 0) GTEST_SKIP() << "open handles uncounted: this system does not report the process's handle count";
  if (threads < 0) GTEST_SKIP() << "threads uncounted: this system does not list the process's threads";
}

// Passes every call on to a RecordingHost; a closed line takes a while to
// reach it, as with a slow log, so a reader that logs as soon as its socket
// is closed would get in first.
class SlowClosedLineHost final : public HostServices {
 public:
  explicit SlowClosedLineHost(RecordingHost& inner) : inner_(inner) {}
  int32_t Deliver(const InputDataRecord* record) override { return inner_.Deliver(record); }
  int32_t ShowFeedback(const FeedbackParams* params) override { return inner_.ShowFeedback(params); }
  int32_t WriteLog(int32_t level, const WChar* text) override {
    if (ToUtf8(text) == "TCP client connection closed from 127.0.0.1.") {
      std::this_thread::sleep_for(milliseconds(50));
    }
    return inner_.WriteLog(level, text);
  }
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override {
    return inner_.SetStatusProperty(property, size, value);
  }

 private:
  RecordingHost& inner_;
};

TEST_F(TcpServerTest, ServerSideCloseLogsClosedLineBeforeTheReadersError) {
  SlowClosedLineHost slow(host);
  plugin.Initialize(&slow);
  Serve();
  TestClient a(port), b(port);
  ASSERT_TRUE(a.Send("a") && b.Send("b"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(2));
  std::this_thread::sleep_for(milliseconds(100));  // both readers wait in select again
  plugin.Uninitialize();
  plugin.Initialize(&host);
  // The read-error line of a reader woken by the close (10004) follows a
  // closed line not yet paired with one.
  const std::string woken =
      "1 Error reading data from 127.0.0.1. Error : Socket is closed or a process is terminated.. "
      "Closing the connection.";
  const auto lines = host.LogLines();
  int unpaired = 0;
  for (const auto& line : lines) {
    if (line == Info(ClosedLine())) ++unpaired;
    if (line == woken) {
      EXPECT_GT(unpaired, 0) << ::testing::PrintToString(lines);
      --unpaired;
    }
  }
  EXPECT_EQ(host.CountLogs(ClosedLine()), 2u);
  EXPECT_GE(FindLine(lines, woken), 0);
}

TEST_F(TcpServerTest, ClosingWhileReadersWaitToDeliverDoesNotDeadlock) {
  Serve();
  // a's delivery blocks in the host, holding the delivery lock, while
  // Uninitialize starts closing the clients and queues for that lock; then
  // b's reader queues for it too, to deliver its block. When a's delivery
  // ends, closing must not wait for b's reader while b waits for the lock.
  std::atomic<bool> release{false};
  std::atomic<int> entered{0};
  host.SetDeliverHook([&](const InputDataRecord&) {
    if (entered.fetch_add(1) == 0) Eventually([&] { return release.load(); });
  });
  TestClient a(port), b(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 2));
  ASSERT_TRUE(a.Send("first"));
  ASSERT_TRUE(Eventually([&] { return entered.load() == 1; }));
  std::thread helper([&] {
    std::this_thread::sleep_for(milliseconds(100));
    b.Send("second");
    std::this_thread::sleep_for(milliseconds(200));
    release.store(true);
  });
  plugin.Uninitialize();
  helper.join();
  EXPECT_EQ(host.CountLogs(ClosedLine()), 2u);
  ExpectFeedbackBeforeEachDelivery();
}

TEST_F(TcpServerTest, FailedAcceptIsLoggedOnceAndTheClientServedNext) {
  Serve();
  InjectSocketFault(SocketOp::kAccept, kWsaEmfile);
  TestClient client(port);
  ASSERT_TRUE(WaitLog(Info(Connected())));
  EXPECT_EQ(host.CountLogs("Error establising TCP client connection with port : " + std::to_string(port) +
                           ". Error : Too many open files."),
            1u);
  EXPECT_GE(FindLine(host.LogLines(), Error("Error establising TCP client connection with port : " +
                                            std::to_string(port) + ". Error : Too many open files.")),
            0);
  ASSERT_TRUE(client.Send("ok"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(2));
}

TEST_F(TcpServerTest, LastingAcceptFailureReapsDeadClientsAndBacksOff) {
  auto* server = Serve();
  const std::string failed = "1 Error establising TCP client connection with port : " + std::to_string(port) +
                             ". Error : Too many open files.";
  TestClient gone(port);
  ASSERT_TRUE(WaitLog(Info(Connected())));
  gone.Close();
  ASSERT_TRUE(WaitLog(Info(ClosedLine())));
  ASSERT_EQ(server->ClientCount(), 1u) << "a dead client stays listed until the next walk";

  // Every accept fails while a connection waits in the backlog.
  InjectSocketFault(SocketOp::kAccept, kWsaEmfile, 1000);
  TestClient pending(port);
  ASSERT_TRUE(WaitLogPrefix(failed));
  EXPECT_TRUE(Eventually([&] { return server->ClientCount() == 0; })) << "a failed accept reaps dead clients";
  // Pauses of 100, 200, 400 and 800 ms: five attempts in 1.5 s, not fifteen.
  std::this_thread::sleep_for(milliseconds(1500));
  const std::size_t attempts = CountLinesStartingWith(host.LogLines(), failed);
  EXPECT_GE(attempts, 2u);
  EXPECT_LE(attempts, 6u);

  ClearSocketFaults();
  ASSERT_TRUE(WaitLog(Info(Connected()), 2, seconds(8)));
  // The successful accept starts the back-off afresh: the next failures come
  // 100 and 200 ms apart, not after 3.2 s and more.
  const std::size_t before = CountLinesStartingWith(host.LogLines(), failed);
  InjectSocketFault(SocketOp::kAccept, kWsaEmfile, 1000);
  TestClient third(port);
  const uint64_t began = MonotonicMs();
  EXPECT_TRUE(WaitLogPrefix(failed, before + 3, seconds(4)));
  EXPECT_LT(MonotonicMs() - began, 2500u);
  ClearSocketFaults();
  ASSERT_TRUE(WaitLog(Info(Connected()), 3, seconds(8)));
  ASSERT_TRUE(third.Send("ok"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(2));
}

TEST_F(TcpServerTest, ClientWhoseReaderCannotStartIsClosedAndUnlisted) {
  auto* server = Serve();
  FailThreadStartsForTesting(1);
  TestClient refused(port);
  ASSERT_TRUE(WaitLog(Info(Connected())));
  EXPECT_TRUE(refused.WaitClosedByServer(seconds(5)));
  EXPECT_EQ(host.CountLogs(ClosedLine()), 1u);
  EXPECT_TRUE(Eventually([&] { return server->ClientCount() == 0; }));
  // The next client gets its reader.
  TestClient served(port);
  ASSERT_TRUE(served.Send("next"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(4));
  EXPECT_EQ(server->ClientCount(), 1u);
}

TEST_F(TcpServerTest, ThousandClientsShutDownWithEveryReaderJoinedAndEverySocketClosed) {
  constexpr int kClients = 1000;
#if defined(__linux__)
  // Two descriptors per socket on each side, and some to spare.
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlim_t needed = 4 * kClients + 256;
  if (limit.rlim_cur < needed) {
    if (limit.rlim_max < needed) GTEST_SKIP() << "needs " << needed << " descriptors, the hard limit is " << limit.rlim_max;
    limit.rlim_cur = needed;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
#endif
  const int descriptors = CountOpenDescriptors();
  const int threads = CountThreads();
  ASSERT_GE(threads, 0);
  auto* server = Serve(0);
  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<TestClient>(port));
    ASSERT_TRUE(clients.back()->connected()) << i;
  }

  ASSERT_TRUE(Eventually([&] { return server->ClientCount() == static_cast<std::size_t>(kClients); }, seconds(60)));
  ASSERT_TRUE(Eventually([&] { return CountThreads() >= threads + kClients; }, seconds(60)));

  plugin.Uninitialize();
  EXPECT_EQ(host.CountLogs(ClosedLine()), static_cast<std::size_t>(kClients));
  EXPECT_TRUE(Eventually([&] { return CountThreads() == threads; })) << "every reader has been joined";
  for (auto& client : clients) EXPECT_TRUE(client->WaitClosedByServer(seconds(5)));
  clients.clear();
  if (descriptors < 0) GTEST_SKIP() << kDescriptorsNotCounted;
  EXPECT_TRUE(Eventually([&] { return CountOpenDescriptors() == descriptors; }));
}

#if defined(__linux__)
TEST_F(TcpServerTest, LastingAcceptFailurePausesBetweenAttempts) {
  Serve();
  SocketHandle client = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  ASSERT_NE(client, kInvalidSocket);
  // No descriptor can be allocated: every accept fails with 10024 until the
  // limit is restored, while the pending connection keeps the socket readable.
  const int lowestFree = dup(0);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit low = saved;
  low.rlim_cur = static_cast<rlim_t>(lowestFree);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const bool connected = SocketConnect(client, MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port))) == 0;
  std::this_thread::sleep_for(milliseconds(500));
  setrlimit(RLIMIT_NOFILE, &saved);
  ASSERT_TRUE(connected);

  const std::string failed = "1 Error establising TCP client connection with port : " + std::to_string(port) +
                             ". Error : Too many open files.";
  EXPECT_TRUE(WaitLog(Info(Connected())));
  const std::size_t failures = CountLinesStartingWith(host.LogLines(), failed);
  EXPECT_GE(failures, 1u);
  EXPECT_LE(failures, 12u);  // about one per 100 ms, not a busy loop
  SocketClose(client);
}
#endif

// ---------------------------------------------------------------------------
// Framing: records cut from each connection's stream by the configured rule.

namespace framing {

struct Rule {
  int32_t mode;
  std::string delimiter;  // the bytes
  int32_t length;
};

class TcpFramingTest : public TcpServerTest {
 protected:
  void SetRule(const Rule& rule) {
    settings.Framing = rule.mode;
    settings.FrameDelimiterLength = static_cast<int32_t>(rule.delimiter.size());
    std::copy(rule.delimiter.begin(), rule.delimiter.end(), settings.FrameDelimiter);
    settings.FrameLength = rule.length;
  }
  // The deliveries' bytes, in order.
  std::vector<std::string> Records() const {
    std::vector<std::string> records;
    for (const auto& d : host.Deliveries()) records.push_back(d.bytes);
    return records;
  }
  // Index among all calls of the first delivery of `bytes`, and of the first
  // log line `line` ("level text") at or after `from`; -1 when missing.
  int DeliveryIndex(const std::string& bytes) const {
    const auto calls = host.Calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].kind == RecordedCall::Kind::kDeliver && calls[i].bytes == bytes) return static_cast<int>(i);
    }
    return -1;
  }
  int LogIndex(const std::string& line, int from) const {
    const auto calls = host.Calls();
    for (std::size_t i = from < 0 ? calls.size() : static_cast<std::size_t>(from); i < calls.size(); ++i) {
      if (calls[i].kind == RecordedCall::Kind::kLog && std::to_string(calls[i].level) + " " + calls[i].text == line) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
};

// Each case runs on its own connection; the rule changes between cases on the
// running server, without a restart.
TEST_F(TcpFramingTest, RecordsFollowTheConfiguredRuleWhateverTheSends) {
  struct Case {
    const char* name;
    Rule rule;
    std::vector<std::string> sends;
    std::vector<std::string> records;
  };
  const std::string longLine(20 * 1024, 'L');
  std::vector<Case> cases = {
      {"line",
       {kFramingLine, "", 0},
       {"ab", "c\nde", "f\ng\nh\n", "x\r\ny\r\n", longLine + "\n"},
       {"abc\n", "def\n", "g\n", "h\n", "x\r\n", "y\r\n", std::string(8192, 'L'), std::string(8192, 'L'),
        std::string(20 * 1024 - 2 * 8192, 'L') + "\n"}},
      {"STX/ETX", {kFramingDelimiter, "\x03", 0}, {"\x02" "A1\x03\x02" "B", "2", "2\x03"}, {"\x02" "A1\x03", "\x02" "B22\x03"}},
      {"CRLF split between sends", {kFramingDelimiter, "\r\n", 0}, {"a\r", "\nb\r\r", "\n"}, {"a\r\n", "b\r\r\n"}},
      {"fixed 10", {kFramingFixed, "", 10}, {}, {}},
  };
  // Fixed: 1000 bytes in sends of 1 to 37 bytes make 100 records.
  uint32_t state = 0x9E3779B9;
  std::string stream;
  for (int i = 0; stream.size() < 1000; ++i) stream += static_cast<char>('a' + i % 26);
  for (std::size_t at = 0; at < stream.size();) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t size = std::min<std::size_t>(1 + state % 37, stream.size() - at);
    cases.back().sends.push_back(stream.substr(at, size));
    at += size;
  }
  for (std::size_t at = 0; at < stream.size(); at += 10) cases.back().records.push_back(stream.substr(at, 10));

  SetRule(cases[0].rule);
  Serve();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetRule(c.rule);
    plugin.ApplySettings(settings);
    host.Clear();
    std::size_t total = 0;
    for (const auto& record : c.records) total += record.size();
    {
      TestClient client(port);
      ASSERT_TRUE(client.connected());
      for (const auto& piece : c.sends) {
        ASSERT_TRUE(client.Send(piece));
        std::this_thread::sleep_for(milliseconds(5));  // most sends arrive as blocks of their own
      }
      ASSERT_TRUE(host.WaitForDeliveredBytes(total));
    }
    ASSERT_TRUE(WaitLog(Info(ClosedLine())));
    EXPECT_EQ(Records(), c.records);
    ExpectFeedbackBeforeEachDelivery();
  }
}

TEST_F(TcpFramingTest, HeldMessageIsTheLastRecordBeforeTheClosedLine) {
  SetRule({kFramingLine, "", 0});
  Serve(1);
  const std::string closed = Info(ClosedLine());
  {
    // The client goes silent: the time-out line, the message, the closed line.
    TestClient client(port);
    ASSERT_TRUE(client.Send("x\npartial"));
    ASSERT_TRUE(WaitLog(closed, 1, seconds(5)));
    const int message = DeliveryIndex("partial");
    ASSERT_GE(message, 0) << ::testing::PrintToString(Records());
    EXPECT_LT(LogIndex(Info(TimeOutLine()), 0), message);
    EXPECT_GT(LogIndex(closed, message), message);
  }
  host.Clear();
  {
    // The client closes its end.
    TestClient client(port);
    ASSERT_TRUE(client.Send("y\nrest"));
    ASSERT_TRUE(host.WaitForDeliveredBytes(2));
    client.Close();
    ASSERT_TRUE(WaitLog(closed));
    const int message = DeliveryIndex("rest");
    ASSERT_GE(message, 0) << ::testing::PrintToString(Records());
    EXPECT_LT(LogIndex(Info("Connection with 127.0.0.1 already closed."), 0), message);
    EXPECT_GT(LogIndex(closed, message), message);
  }
  host.Clear();
  {
    // The server stops while the reader waits: the message, the closed
    // line, then the reader's error line.
    TestClient client(port);
    ASSERT_TRUE(client.Send("z\nheld"));
    ASSERT_TRUE(host.WaitForDeliveredBytes(2));
    std::this_thread::sleep_for(milliseconds(100));  // the reader waits in select again
    plugin.Uninitialize();
    const int message = DeliveryIndex("held");
    ASSERT_GE(message, 0) << ::testing::PrintToString(Records());
    const int closedAt = LogIndex(closed, message);
    EXPECT_GT(closedAt, message);
    EXPECT_EQ(host.CountLogs(ClosedLine()), 1u);
    EXPECT_GT(LogIndex("1 Error reading data from 127.0.0.1. Error : Socket is closed or a process is terminated.. "
                       "Closing the connection.",
                       closedAt),
              closedAt);
  }
  ExpectFeedbackBeforeEachDelivery();
}

TEST_F(TcpFramingTest, TwoConnectionsSendingByteByByteNeverMix) {
  SetRule({kFramingLine, "", 0});
  Serve();
  TestClient a(port), b(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 2));
  std::string sent[2];
  for (int i = 0; i < 40; ++i) {
    sent[0] += "a" + std::to_string(i) + "\n";
    sent[1] += "B" + std::to_string(1000 + i) + "\n";
  }
  for (std::size_t at = 0; at < std::max(sent[0].size(), sent[1].size()); ++at) {
    if (at < sent[0].size()) ASSERT_TRUE(a.Send(sent[0].substr(at, 1)));
    if (at < sent[1].size()) ASSERT_TRUE(b.Send(sent[1].substr(at, 1)));
  }
  ASSERT_TRUE(host.WaitForDeliveredBytes(sent[0].size() + sent[1].size()));
  std::map<std::thread::id, std::string> byReader;
  for (const auto& d : host.Deliveries()) {
    ASSERT_FALSE(d.bytes.empty());
    EXPECT_EQ(d.bytes.find('\n'), d.bytes.size() - 1) << "not one whole line: " << d.bytes;
    EXPECT_EQ(d.bytes.find_first_of(d.bytes[0] == 'a' ? "B" : "a"), std::string::npos) << d.bytes;
    byReader[d.thread] += d.bytes;
  }
  ASSERT_EQ(byReader.size(), 2u);
  for (const auto& [thread, bytes] : byReader) EXPECT_TRUE(bytes == sent[0] || bytes == sent[1]) << bytes;
  ExpectFeedbackBeforeEachDelivery();
}

TEST_F(TcpFramingTest, SuspensionDropsTheHeldMessage) {
  SetRule({kFramingLine, "", 0});
  Serve();
  TestClient client(port);
  // Nothing arrives while suspended: the message held from before is
  // dropped all the same.
  ASSERT_TRUE(client.Send("1\nbefore"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(2));
  RemoveConsumer();
  AddConsumer();
  ASSERT_TRUE(client.Send("-after\n"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(2 + 7));
  // Bytes arrive while suspended: they are dropped with the message held.
  ASSERT_TRUE(client.Send("2\nheld"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(2 + 7 + 2));
  RemoveConsumer();
  ASSERT_TRUE(client.Send("-while\nsuspended"));
  ASSERT_TRUE(WaitLog(Info(SuspendedLine())));
  AddConsumer();
  ASSERT_TRUE(client.Send("-later\n3\n"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(2 + 7 + 2 + 7 + 2));
  EXPECT_EQ(Records(), (std::vector<std::string>{"1\n", "-after\n", "2\n", "-later\n", "3\n"}));
}

}  // namespace framing

// Where the server listens and who may connect: BindAddress, AllowedPeers,
// MaxClients and MaxClientsPerPeer, with clients on several loopback
// addresses.
namespace peers {

class TcpPeerRulesTest : public TcpServerTest {
 protected:
  static NetAddress V4(uint32_t host) {
    NetAddress address{};
    address.family = kNetIpv4;
    for (int i = 0; i < 4; ++i) address.bytes[i] = static_cast<uint8_t>(host >> (24 - 8 * i));
    return address;
  }
  static NetAddress Parsed(const std::string& text) {
    NetAddress address{};
    EXPECT_TRUE(ParseNetAddress(text.data(), text.size(), &address)) << text;
    return address;
  }
  void AllowOnly(const std::string& prefix) {
    settings.AllowedPeerCount = 1;
    ASSERT_TRUE(ParseNetPrefix(prefix.data(), prefix.size(), &settings.AllowedPeers[0])) << prefix;
  }
  // Configures a TCP server on `address` and a free port of ::1, started.
  void ServeOn(const std::string& address) {
    settings.BindAddress = Parsed(address);
    ASSERT_NE(Configure(kProtocolTcp, FreePort(kSockStream, kAfInet6)), nullptr);
    AddConsumer();
    ASSERT_TRUE(WaitLog(Info(Listening())));
  }
  void Allow(uint32_t host) {
    settings.AllowedPeerCount = 1;
    settings.AllowedPeers[0] = NetPrefix{V4(host), 32};
  }
  std::string Refused(const std::string& from, const std::string& why) const {
    return Error("Refused TCP client connection to Port : " + std::to_string(port) + " from " + from + ". " + why);
  }
  std::string ConnectedFrom(const std::string& from) const {
    return Info("TCP client connected to Port : " + std::to_string(port) + " from " + from);
  }
  // The refusals that the refusal lines starting with `line` stand for.
  std::size_t RefusalsLogged(const std::string& line) const {
    std::size_t total = 0;
    const std::string counted = " The line stands for ";
    for (const auto& l : host.LogLines()) {
      if (l.rfind(line, 0) != 0) continue;
      const std::size_t at = l.find(counted);
      total += at == std::string::npos ? 1 : std::stoul(l.substr(at + counted.size()));
    }
    return total;
  }
};

TEST_F(TcpPeerRulesTest, BoundServerAnswersOnlyItsAddressAndMovesWithIt) {
  settings.BindAddress = V4(kLoopback1);
  auto* first = Serve();
  {
    TestClient other(port, kLoopback2, 0);
    EXPECT_FALSE(other.connected()) << "127.0.0.2 reached a server bound to 127.0.0.1";
    TestClient bound(port, kLoopback1, 0);
    ASSERT_TRUE(bound.connected());
    ASSERT_TRUE(bound.Send("one"));
    ASSERT_TRUE(host.WaitForDeliveredBytes(3));
  }
  // A new address moves the server like a new port: a new, idle server.
  settings.BindAddress = V4(kLoopback2);
  plugin.ApplySettings(settings);
  ASSERT_NE(plugin.server(), first);
  RemoveConsumer();
  AddConsumer();
  ASSERT_TRUE(WaitLog(Info(Listening()), 2));
  TestClient old(port, kLoopback1, 0);
  EXPECT_FALSE(old.connected());
  TestClient moved(port, kLoopback2, 0);
  ASSERT_TRUE(moved.connected());
  ASSERT_TRUE(moved.Send("two"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(6));
  EXPECT_EQ(host.DeliveredBytes(), "onetwo");
  // The same address again keeps the server.
  auto* kept = plugin.server();
  plugin.ApplySettings(settings);
  EXPECT_EQ(plugin.server(), kept);
}

TEST_F(TcpPeerRulesTest, PeerOutsideTheAllowListIsClosedUnreadWithoutAThread) {
  Allow(kLoopback2);
  auto* server = Serve();
  const int threadsBefore = CountThreads();
  {
    TestClient outsider(port, kLoopback1, kLoopback1);
    ASSERT_TRUE(outsider.connected());
    ASSERT_TRUE(outsider.Send("must not arrive"));
    EXPECT_TRUE(outsider.WaitClosedByServer(seconds(5)));
    ASSERT_TRUE(WaitLog(Refused("127.0.0.1", "Not an allowed peer.")));
    EXPECT_EQ(CountThreads(), threadsBefore) << "a reader thread for a refused client";
    EXPECT_EQ(server->ClientCount(), 0u);
  }
  TestClient insider(port, kLoopback1, kLoopback2);
  ASSERT_TRUE(insider.connected());
  ASSERT_TRUE(insider.Send("welcome"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(7));
  EXPECT_TRUE(WaitLog(ConnectedFrom("127.0.0.2")));
  EXPECT_EQ(CountThreads(), threadsBefore + 1);
  EXPECT_EQ(host.DeliveredBytes(), "welcome");
  EXPECT_EQ(host.Feedbacks().size(), 1u);
  EXPECT_EQ(host.CountLogs("TCP client connected to Port : " + std::to_string(port) + " from 127.0.0.1"), 0u);

  // A new allow-list applies to the next connection, without a restart.
  settings.AllowedPeerCount = 0;
  plugin.ApplySettings(settings);
  ASSERT_EQ(plugin.server(), server);
  TestClient now(port, kLoopback1, kLoopback1);
  ASSERT_TRUE(now.Send("!"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(8));
  EXPECT_FALSE(insider.WaitClosedByServer(milliseconds(0)));
}

TEST_F(TcpPeerRulesTest, ClientsOverTheLimitsAreClosedAndTheOthersKeepGoing) {
  settings.MaxClients = 3;
  auto* server = Serve();
  std::vector<std::unique_ptr<TestClient>> served;
  for (int i = 0; i < 3; ++i) {
    served.push_back(std::make_unique<TestClient>(port));
    ASSERT_TRUE(WaitLog(Info(Connected()), i + 1));
  }
  TestClient fourth(port), fifth(port);
  EXPECT_TRUE(fourth.WaitClosedByServer(seconds(5)));
  EXPECT_TRUE(fifth.WaitClosedByServer(seconds(5)));
  EXPECT_TRUE(Eventually([&] { return RefusalsLogged(Refused("127.0.0.1", "Too many clients.")) == 2; }));
  EXPECT_EQ(host.CountLogs("TCP client connected to Port : " + std::to_string(port) + " from 127.0.0.1"), 3u);
  for (auto& c : served) ASSERT_TRUE(c->Send("s"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(3));
  for (auto& c : served) EXPECT_FALSE(c->WaitClosedByServer(milliseconds(0)));

  // One leaves: the next one is served.
  served[0]->Close();
  ASSERT_TRUE(WaitLog(Info(ClosedLine())));
  TestClient next(port);
  ASSERT_TRUE(WaitLog(Info(Connected()), 4));
  ASSERT_TRUE(next.Send("n"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(4));
  EXPECT_FALSE(next.WaitClosedByServer(milliseconds(100)));
  EXPECT_EQ(server->LiveClientCount(), 3u);

  // Per peer: 127.0.0.1 holds three, so it gets none more, while
  // 127.0.0.2 is served.
  settings.MaxClients = 0;
  settings.MaxClientsPerPeer = 3;
  plugin.ApplySettings(settings);
  TestClient sameAddress(port);
  EXPECT_TRUE(sameAddress.WaitClosedByServer(seconds(5)));
  ASSERT_TRUE(WaitLog(Refused("127.0.0.1", "Too many clients from this peer.")));
  TestClient otherAddress(port, kLoopback1, kLoopback2);
  ASSERT_TRUE(otherAddress.Send("o"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(5));
}

TEST_F(TcpPeerRulesTest, FloodOfRefusalsWritesAFewLinesThatCountEveryOne) {
  Allow(kLoopback2);
  Serve();
  const auto began = std::chrono::steady_clock::now();
  constexpr int kFlood = 2000;
  int connected = 0;
  for (int i = 0; i < kFlood && std::chrono::steady_clock::now() - began < seconds(60); ++i) {
    TestClient refused(port);
    if (refused.connected()) ++connected;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
  ASSERT_EQ(connected, kFlood);
  const std::string line = Refused("127.0.0.1", "Not an allowed peer.");
  // The last count is written about a second after the last refusal.
  EXPECT_TRUE(Eventually([&] { return RefusalsLogged(line) == kFlood; }, std::chrono::seconds(10)))
      << RefusalsLogged(line);
  const std::size_t lines = CountLinesStartingWith(host.LogLines(), line);
  EXPECT_LE(lines, static_cast<std::size_t>(elapsed.count()) + 3) << "in " << elapsed.count() << " s";
  EXPECT_GE(lines, 2u);
  EXPECT_TRUE(host.Deliveries().empty());
  EXPECT_TRUE(host.Feedbacks().empty());
}

TEST_F(TcpPeerRulesTest, Ipv6LoopbackIsServedAndItsPeersNamedInTheirUsualText) {
  std::string why;
  if (!Ipv6LoopbackAvailable(kSockStream, &why)) GTEST_SKIP() << why;
  const auto senders = RecordSenders(host);
  ServeOn("::1");
  {
    TestClient v4(port, kLoopback1, 0);
    EXPECT_FALSE(v4.connected()) << "127.0.0.1 reached a server bound to ::1";
    TestClient v6(Ipv6Loopback(static_cast<uint16_t>(port)));
    ASSERT_TRUE(v6.connected());
    ASSERT_TRUE(v6.Send("six"));
    ASSERT_TRUE(host.WaitForDeliveredBytes(3));
    EXPECT_TRUE(WaitLog(ConnectedFrom("::1")));
  }
  EXPECT_TRUE(WaitLog(Info("TCP client connection closed from ::1.")));
  {
    const std::vector<std::string> texts = senders->Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("[::1]:", 0), 0u) << texts[0];
    EXPECT_GT(std::stoi(texts[0].substr(6)), 0) << texts[0];
  }

  // IPv6 prefixes in the allow-list: another one refuses ::1, its own admits it.
  AllowOnly("fd00::/8");
  plugin.ApplySettings(settings);
  {
    TestClient outsider(Ipv6Loopback(static_cast<uint16_t>(port)));
    ASSERT_TRUE(outsider.connected());
    ASSERT_TRUE(outsider.Send("not this"));
    EXPECT_TRUE(outsider.WaitClosedByServer(seconds(5)));
    EXPECT_TRUE(WaitLog(Refused("::1", "Not an allowed peer.")));
  }
  AllowOnly("::1/128");
  plugin.ApplySettings(settings);
  TestClient insider(Ipv6Loopback(static_cast<uint16_t>(port)));
  ASSERT_TRUE(insider.Send("!"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(4));
  EXPECT_EQ(host.DeliveredBytes(), "six!");
}

// "::" serves IPv4 peers too (dual-stack), under their IPv4 text, and the
// allow-list's IPv4 entries apply to them.
TEST_F(TcpPeerRulesTest, EveryIpv6AddressServesIpv4PeersAsTheIpv4AddressesTheyAre) {
  std::string why;
  if (!Ipv6LoopbackAvailable(kSockStream, &why)) GTEST_SKIP() << why;
  AllowOnly("127.0.0.1/32");
  ServeOn("::");
  TestClient v4(port, kLoopback1, kLoopback1);
  ASSERT_TRUE(v4.connected());
  ASSERT_TRUE(v4.Send("four"));
  ASSERT_TRUE(host.WaitForDeliveredBytes(4));
  EXPECT_TRUE(WaitLog(ConnectedFrom("127.0.0.1")));
  TestClient v6(Ipv6Loopback(static_cast<uint16_t>(port)));
  ASSERT_TRUE(v6.connected());
  EXPECT_TRUE(v6.WaitClosedByServer(seconds(5)));
  EXPECT_TRUE(WaitLog(Refused("::1", "Not an allowed peer.")));
  EXPECT_EQ(host.DeliveredBytes(), "four");
}

}  // namespace peers

}  // namespace
}  // namespace lanfeed::testing
