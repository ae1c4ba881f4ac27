// The worker protocol and the state and status rules both servers share,
// driven on the server object itself: closing without a socket, suspending a
// server that never opened, a second Start on a closed socket, the reopen
// after the serve loop's socket is closed under it, the stop event winning
// over the start event at Uninitialize, a resumed server whose socket could
// not be bound not claiming to listen, the pauses after repeated reopen codes
// and failed event waits, and delivery enabled before Listening is reported.
// The log texts are pinned word for word, their misspellings included: they
// are a contract with stored logs (plugin/servers/socket_error_text.h).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server_test_support.h"

namespace lanfeed::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class WorkerProtocolTest : public ServerTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  bool udp() const { return GetParam() == kProtocolUdp; }
  std::string P() const { return std::to_string(port); }
  SocketServer* ConfigureFree() { return Configure(GetParam(), FreePort(udp() ? kSockDgram : kSockStream)); }
  std::string Created() const {
    return std::string("Successfully initialized ") + (udp() ? "UDP" : "TCP") + " Socket. Port " + P() + ".";
  }
  std::string Ready() const {
    return udp() ? "Successfully bind to the UDP socket. Port : " + P()
                 : "Start listening on the TCP socket. Port : " + P();
  }
  std::string Closed() const {
    return std::string("Listening ") + (udp() ? "UDP" : "TCP") + " socket closed. Port : " + P() + ".";
  }
  std::string StopLinePrefix() const {
    return udp() ? "1 Stop waiting for incomming data on UDP Port " + P() + ". Error : "
                 : "1 Stopped waiting for incomming connections on port : " + P() + ". Error : ";
  }
  std::string Waiting() const {
    return udp() ? "UDP server waiting for incomming data on Port : " + P() + "."
                 : "TCP server waiting to accept a client connection on Port : " + P() + ".";
  }
  // Serves on a free port until the worker blocks in its serve loop's wait
  // (the loop logs its waiting line just before it).
  SocketServer* ServeAndBlock() {
    SocketServer* server = ConfigureFree();
    AddConsumer();
    EXPECT_TRUE(WaitLog(Info(Waiting())));
    EXPECT_TRUE(WaitStatus(1));
    std::this_thread::sleep_for(milliseconds(200));
    return server;
  }
  bool SendOne(const std::string& bytes) {
    if (udp()) return sender.Send(port, bytes);
    client = std::make_unique<TestClient>(port);
    return client->Send(bytes);
  }
  UdpSender sender;
  std::unique_ptr<TestClient> client;
};

TEST_P(WorkerProtocolTest, CloseSocketWithoutSocketPublishesClosed) {
  SocketServer* server = ConfigureFree();
  EXPECT_EQ(server->CloseSocket(), 1);
  EXPECT_EQ(server->State(), kServerClosed);
  EXPECT_EQ(host.Statuses(), std::vector<int32_t>{0});
  // TCP logs its closed line in every case; UDP only when a socket was open.
  const std::vector<std::string> expected =
      udp() ? std::vector<std::string>{} : std::vector<std::string>{Info(Closed())};
  EXPECT_EQ(host.LogLines(), expected);
}

TEST_P(WorkerProtocolTest, SuspendOfANeverOpenedServerIsSuspendedAndNotListening) {
  SocketServer* server = ConfigureFree();
  server->Suspend();
  EXPECT_EQ(server->State(), kServerSuspended);
  EXPECT_FALSE(server->IsDispatchEnabled());
  EXPECT_EQ(host.Statuses(), std::vector<int32_t>{0});
  EXPECT_TRUE(host.LogLines().empty());
}

TEST_P(WorkerProtocolTest, SecondStartOnAClosedSocketStartsNoSecondWorker) {
  SocketServer* server = ConfigureFree();
  ASSERT_EQ(server->Initialize(), 1);
  InjectSocketFault(SocketOp::kSocket, kWsaEmfile);
  server->Start();
  ASSERT_TRUE(WaitLogPrefix(std::string("1 Failed to initialized ") + (udp() ? "UDP" : "TCP")));
  ASSERT_TRUE(Eventually([&] { return host.Statuses() == std::vector<int32_t>{0}; }));
  EXPECT_FALSE(server->IsSocketOpen());
  const int threads = CountThreads();
  ASSERT_GE(threads, 0);
  server->Start();  // the worker is in its retry wait; this only sets the start event again
  EXPECT_EQ(CountThreads(), threads);
  EXPECT_TRUE(server->IsDispatchEnabled());
  EXPECT_EQ(host.Statuses(), std::vector<int32_t>{0}) << "Start on a closed socket publishes nothing itself";
  // The retry comes after the 5 s wait, not at once.
  EXPECT_EQ(host.CountLogs(Created()), 0u);
}

TEST_P(WorkerProtocolTest, SocketClosedUnderTheServeLoopIsReopenedAtOnce) {
  SocketServer* server = ServeAndBlock();
  UseFastOpenRetry();  // for a bind that races the release of the old port
  EXPECT_EQ(server->CloseSocket(), 1);
  // The serve loop ends with 10004; the worker closes the socket and opens a
  // new one after a short pause, without the retry wait.
  ASSERT_TRUE(WaitLog(StopLinePrefix() + "Socket is closed or a process is terminated." + (udp() ? "." : "")));
  ASSERT_TRUE(WaitLog(Info(Created()), 2, seconds(4)));
  // The new socket is served once bound (a bind that races the release of
  // the old socket's port is retried by the worker).
  ASSERT_TRUE(WaitLog(Info(Ready()), 2, seconds(8)));
  // TCP: once from the test's close, once from the worker's (no socket);
  // UDP: only the close that found a socket.
  EXPECT_EQ(host.CountLogs(Closed()), udp() ? 1u : 2u);
  ASSERT_TRUE(SendOne("again"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(5));
}

TEST_P(WorkerProtocolTest, UninitializeWhileServingEndsTheWorkerWithoutReopening) {
  SocketServer* server = ServeAndBlock();
  server->Uninitialize();
  const auto lines = host.LogLines();
  EXPECT_EQ(host.CountLogs(Created()), 1u) << "the stop event wins over the start event";
  EXPECT_EQ(CountLinesStartingWith(lines, StopLinePrefix()), 1u);
  EXPECT_EQ(host.CountLogs(Closed()), udp() ? 1u : 2u);
  EXPECT_EQ(server->State(), kServerClosed);
  EXPECT_EQ(host.LastStatus(), 0);
}

TEST_P(WorkerProtocolTest, StartOnASocketThatCannotBindReportsNotListeningUntilServed) {
  const int32_t taken = FreePort(udp() ? kSockDgram : kSockStream);
  PortHolder holder(udp() ? kSockDgram : kSockStream, taken);
  ASSERT_TRUE(holder.holding());
  SocketServer* server = Configure(GetParam(), taken);
  UseFastOpenRetry();
  AddConsumer();
  ASSERT_TRUE(WaitLog(Error(std::string("Failed to bind the ") + (udp() ? "UDP" : "TCP") + " socket. Port : " +
                            P() + " Error : Address already in use..")));
  ASSERT_TRUE(WaitStatus(0));
  // The socket is open but serves nothing: a resumed consumer must not be
  // told that the server listens.
  RemoveConsumer();
  AddConsumer();
  EXPECT_EQ(host.LastStatus(), 0);
  EXPECT_NE(server->State(), kServerListening);
  EXPECT_TRUE(server->IsDispatchEnabled());

  holder.Release();
  ASSERT_TRUE(WaitLog(Info(Ready()), 1, seconds(8)));
  EXPECT_TRUE(WaitStatus(1));
  EXPECT_EQ(server->State(), kServerListening);
  ASSERT_TRUE(SendOne("served"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(6));
}

TEST_P(WorkerProtocolTest, RepeatedReopenCodesBackOffAndStoppingEndsThePause) {
  SocketServer* server = ServeAndBlock();
  // From now on every wait on the served socket fails with 10050, as when
  // the network is down; closing the socket wakes the blocked serve loop.
  InjectSocketFault(SocketOp::kWait, kWsaEnetdown, 100000);
  EXPECT_EQ(server->CloseSocket(), 1);
  // Pauses of 100, 200, 400 and 800 ms before the reopens: at most five
  // sockets in 1.5 s, not one per wait.
  std::this_thread::sleep_for(milliseconds(1500));
  const std::size_t opened = host.CountLogs(Created());
  EXPECT_GE(opened, 3u);
  EXPECT_LE(opened, 6u);
  EXPECT_GE(host.CountLogs(Closed()), opened - 1) << "every socket is closed before the next one opens";

  // Once the fifth serve loop has failed the worker pauses 1.6 s; stopping
  // ends that pause at once.
  ASSERT_TRUE(WaitLogPrefix(StopLinePrefix(), 5, seconds(5)));
  const uint64_t before = MonotonicMs();
  server->Uninitialize();
  EXPECT_LT(MonotonicMs() - before, 1000u);
  EXPECT_EQ(server->State(), kServerClosed);
  EXPECT_FALSE(server->IsSocketOpen());
}

TEST_P(WorkerProtocolTest, WorkerWhoseEventWaitFailsEndsOnUninitialize) {
  // The TCP worker ends at its first failed wait; the UDP worker waits
  // again, and must stop retrying once Uninitialize has begun.
  SocketServer* server = ConfigureFree();
  ASSERT_EQ(server->Initialize(), 1);
  FailEventWaitsForTesting(1000000);
  server->Start();
  std::this_thread::sleep_for(milliseconds(300));
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    server->Uninitialize();
    done = true;
  });
  const bool ended = Eventually([&] { return done.load(); }, seconds(5));
  FailEventWaitsForTesting(0);  // lets a worker that never saw the stop end, so the test can finish
  stopper.join();
  EXPECT_TRUE(ended) << "Uninitialize waited for a worker that could not see the stop event";
  EXPECT_EQ(host.CountLogs(Created()), 0u) << "a failed wait opens nothing";
}

// Passes every call on to a RecordingHost and notes, whenever status 1 is
// published, whether the server already delivers.
class ListeningProbeHost final : public HostServices {
 public:
  ListeningProbeHost(RecordingHost& inner, const SocketServer* server) : inner_(inner), server_(server) {}
  int32_t Deliver(const InputDataRecord* record) override { return inner_.Deliver(record); }
  int32_t ShowFeedback(const FeedbackParams* params) override { return inner_.ShowFeedback(params); }
  int32_t WriteLog(int32_t level, const WChar* text) override { return inner_.WriteLog(level, text); }
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override {
    if (*static_cast<const int32_t*>(value) == 1) deliveringAtListening.push_back(server_->IsDispatchEnabled());
    return inner_.SetStatusProperty(property, size, value);
  }
  std::vector<bool> deliveringAtListening;  // the host's thread only

 private:
  RecordingHost& inner_;
  const SocketServer* server_;
};

TEST_P(WorkerProtocolTest, ResumedServerDeliversOnceItReportsListening) {
  SocketServer* server = ServeAndBlock();
  RemoveConsumer();
  ListeningProbeHost probe(host, server);
  plugin.Initialize(&probe);
  AddConsumer();  // Start on the open socket publishes 1
  plugin.Initialize(&host);
  EXPECT_EQ(probe.deliveringAtListening, std::vector<bool>{true});
  ASSERT_TRUE(SendOne("resumed"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(7));
}

INSTANTIATE_TEST_SUITE_P(Protocols, WorkerProtocolTest, ::testing::Values(kProtocolTcp, kProtocolUdp),
                         [](const auto& info) { return info.param == kProtocolUdp ? "Udp" : "Tcp"; });

}  // namespace
}  // namespace lanfeed::testing
