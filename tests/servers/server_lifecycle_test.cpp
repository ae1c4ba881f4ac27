// What both servers share: creation by protocol, the sockets library's
// life, the worker protocol (open failures and their retry, restart after
// Uninitialize) and the failure lines of each step.
// The log texts are pinned word for word, their misspellings included: they
// are a contract with stored logs (plugin/servers/socket_error_text.h).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "plugin/servers/tcp_server.h"
#include "plugin/servers/udp_server.h"
#include "server_test_support.h"
#include "tests/support/failing_allocation.h"

namespace lanfeed::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

bool LibraryRunning() {
  SocketHandle s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  if (s == kInvalidSocket) return false;
  SocketClose(s);
  return true;
}

TEST(CreateSocketServer, ProtocolZeroIsUdpAnyOtherTcp) {
  const std::pair<int32_t, bool> cases[] = {{0, true}, {1, false}, {7, false}, {-1, false}};
  for (const auto& [protocol, udp] : cases) {
    SocketServer* server = CreateSocketServer(protocol);
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(dynamic_cast<UdpServer*>(server) != nullptr, udp) << protocol;
    EXPECT_EQ(dynamic_cast<TcpServer*>(server) != nullptr, !udp) << protocol;
    EXPECT_EQ(server->State(), kServerClosed);
    EXPECT_FALSE(server->IsSocketOpen());
    delete server;
  }
}

class ServerLifecycleTest : public ServerTest, public ::testing::WithParamInterface<int32_t> {
 protected:
  int32_t protocol() const { return GetParam(); }
  int32_t type() const { return protocol() == kProtocolUdp ? kSockDgram : kSockStream; }
  const char* name() const { return protocol() == kProtocolUdp ? "UDP" : "TCP"; }
  SocketServer* ConfigureFree() { return Configure(protocol(), FreePort(type())); }
  std::string Ready() const {
    return protocol() == kProtocolUdp ? "3 Successfully bind to the UDP socket. Port : " + std::to_string(port)
                                      : "3 Start listening on the TCP socket. Port : " + std::to_string(port);
  }
};

TEST_P(ServerLifecycleTest, LibraryIsReleasedOncePerSuccessfulInitialize) {
  // A server that was never initialised releases nothing.
  ConfigureFree();
  plugin.Uninitialize();
  EXPECT_TRUE(LibraryRunning());

  // Nor does one whose Initialize failed; the first consumer then starts
  // nothing.
  SocketServer* server = ConfigureFree();
  InjectSocketFault(SocketOp::kStartup, kWsaVernotsupported);
  AddConsumer();
  const std::string failed = protocol() == kProtocolUdp
      ? "1 Failed to initialize the UDP server socket. Error : Winsock.dll version out of range.."
      : "1 Failed to initialize TCP server socket. Error: Winsock.dll version out of range..";
  EXPECT_EQ(host.LogLines(), std::vector<std::string>{failed});
  server->Uninitialize();
  EXPECT_TRUE(LibraryRunning());

  // Two successful starts are released by one Uninitialize, and only once.
  EXPECT_EQ(server->Initialize(), 1);
  EXPECT_EQ(server->Initialize(), 1);
  server->Uninitialize();
  server->Uninitialize();
  EXPECT_TRUE(LibraryRunning());
  SocketsCleanup();  // the test's own start: the library must stop now
  EXPECT_FALSE(LibraryRunning());
  EXPECT_EQ(SocketLastError(), kWsaNotinitialised);
  ASSERT_EQ(SocketsStartup(), 0);
}

TEST_P(ServerLifecycleTest, EventsThatCannotBeCreatedFailInitializeAndStartNothing) {
  SocketServer* server = ConfigureFree();
  const int threads = CountThreads();
  ASSERT_GE(threads, 0);
  const std::string failed = protocol() == kProtocolUdp
      ? "Failed to initialize the UDP server socket. Error : No buffer space available.."
      : "Failed to initialize TCP server socket. Error: No buffer space available..";
  // Fail each allocation of Initialize in turn (the events among them) until
  // one runs through.
  std::size_t failures = 0;
  int32_t result = 0;
  for (long nth = 1; nth < 64; ++nth) {
    bool fired;
    {
      FailingAllocation failing(nth);
      result = server->Initialize();
      fired = failing.fired();
    }
    if (!fired) break;
    ++failures;
    EXPECT_EQ(result, 0) << nth;
    EXPECT_EQ(host.CountLogs(failed), failures) << nth;
    server->Start();  // no worker that could never be stopped
    EXPECT_EQ(CountThreads(), threads) << nth;
    server->Uninitialize();
  }
  EXPECT_GE(failures, 2u) << "two events are created";
  ASSERT_EQ(result, 1);
  server->Start();
  ASSERT_TRUE(WaitLog(Ready()));
  server->Uninitialize();
  // Every failed Initialize undid its library start.
  SocketsCleanup();
  EXPECT_FALSE(LibraryRunning());
  ASSERT_EQ(SocketsStartup(), 0);
}

struct OpenFault {
  int32_t protocol;
  SocketOp op;
  int32_t code;
  const char* line;  // %P stands for the port
};

void PrintTo(const OpenFault& fault, std::ostream* out) { *out << fault.line; }

class OpenFaultTest : public ServerTest, public ::testing::WithParamInterface<OpenFault> {};

TEST_P(OpenFaultTest, FailedOpenIsLoggedNotServedAndStopsPromptly) {
  const OpenFault& fault = GetParam();
  Configure(fault.protocol, FreePort(fault.protocol == kProtocolUdp ? kSockDgram : kSockStream));
  std::string expected = fault.line;
  expected.replace(expected.find("%P"), 2, std::to_string(port));
  InjectSocketFault(fault.op, fault.code);
  AddConsumer();
  ASSERT_TRUE(WaitLog(expected));
  EXPECT_TRUE(WaitStatus(0));
  EXPECT_NE(plugin.server()->State(), kServerListening);
  // The worker is now in its 5 s retry wait, which the stop event ends.
  const uint64_t before = MonotonicMs();
  plugin.Uninitialize();
  EXPECT_LT(MonotonicMs() - before, 4000u);
  const auto lines = host.LogLines();
  EXPECT_EQ(CountLinesStartingWith(lines, "3 TCP server waiting"), 0u);
  EXPECT_EQ(CountLinesStartingWith(lines, "3 UDP server waiting"), 0u);
  EXPECT_EQ(host.CountLogs(expected.substr(2)), 1u);
}

const OpenFault kOpenFaults[] = {
    {kProtocolTcp, SocketOp::kSocket, kWsaEmfile, "1 Failed to initialized TCP Socket. Port %P. Error : Too many open files."},
    {kProtocolTcp, SocketOp::kBind, kWsaEacces, "1 Failed to bind the TCP socket. Port : %P Error : Permission denied.."},
    {kProtocolTcp, SocketOp::kListen, kWsaEnobufs, "1 Failed to listen on the TCP socket. Port : %P Error : No buffer space available.."},
    {kProtocolUdp, SocketOp::kSocket, kWsaEnobufs, "1 Failed to initialized UDP Socket. Port %P. Error : No buffer space available."},
    {kProtocolUdp, SocketOp::kBind, kWsaEaddrnotavail, "1 Failed to bind the UDP socket. Port : %P Error : Cannot assign requested address.."},
};
std::string OpenFaultName(const ::testing::TestParamInfo<OpenFault>& info) {
  static const char* const kNames[] = {"TcpSocket", "TcpBind", "TcpListen", "UdpSocket", "UdpBind"};
  return kNames[info.index];
}
INSTANTIATE_TEST_SUITE_P(Steps, OpenFaultTest, ::testing::ValuesIn(kOpenFaults), OpenFaultName);

// The one test that waits out the real retry interval; the others that need
// a retry use UseFastOpenRetry.
TEST_P(ServerLifecycleTest, FailedSocketCreationIsRetriedAfterFiveSeconds) {
  ConfigureFree();
  InjectSocketFault(SocketOp::kSocket, kWsaEmfile);
  AddConsumer();
  ASSERT_TRUE(WaitLogPrefix(std::string("1 Failed to initialized ") + name() + " Socket. Port "));
  const uint64_t failed = MonotonicMs();
  ASSERT_TRUE(WaitLog(Ready(), 1, seconds(8)));
  EXPECT_GE(MonotonicMs() - failed, 4000u);  // not retried at once
  EXPECT_TRUE(WaitStatus(1));
}

TEST_P(ServerLifecycleTest, UninitializedServerComesBackToLife) {
  SocketServer* server = ConfigureFree();
  AddConsumer();
  ASSERT_TRUE(WaitLog(Ready()));
  server->Uninitialize();
  EXPECT_FALSE(server->IsSocketOpen());
  EXPECT_EQ(server->State(), kServerClosed);
  ASSERT_EQ(server->Initialize(), 1);
  server->Start();
  ASSERT_TRUE(WaitLog(Ready(), 2));
  EXPECT_TRUE(WaitStatus(1));
  if (protocol() == kProtocolUdp) {
    UdpSender sender;
    ASSERT_TRUE(sender.Send(port, "again"));
  } else {
    TestClient client(port);
    ASSERT_TRUE(client.Send("again"));
  }
  EXPECT_TRUE(host.WaitForDeliveredBytes(5));
}

INSTANTIATE_TEST_SUITE_P(Protocols, ServerLifecycleTest, ::testing::Values(kProtocolTcp, kProtocolUdp),
                         [](const auto& info) { return info.param == kProtocolUdp ? "Udp" : "Tcp"; });

TEST_F(ServerTest, FailedListenIsRetriedWithoutBindingAgain) {
  Configure(kProtocolTcp, FreePort(kSockStream));
  UseFastOpenRetry();
  InjectSocketFault(SocketOp::kListen, kWsaEnobufs);
  AddConsumer();
  const std::string p = std::to_string(port);
  ASSERT_TRUE(WaitLog(Info("Start listening on the TCP socket. Port : " + p), 1, seconds(8)));
  const auto lines = host.LogLines();
  const int failed = FindLine(lines, Error("Failed to listen on the TCP socket. Port : " + p +
                                           " Error : No buffer space available.."));
  ASSERT_GE(failed, 0);
  EXPECT_EQ(FindLine(lines, Info("TCP Socket already initialized. Port " + p + "."), failed), failed + 1);
  EXPECT_EQ(host.CountLogs("Successfully bind to the TCP socket. Port : " + p), 1u);
  EXPECT_EQ(CountLinesStartingWith(lines, "1 Failed to bind"), 0u);
  TestClient client(port);
  ASSERT_TRUE(client.Send("ok"));
  EXPECT_TRUE(host.WaitForDeliveredBytes(2));
}

}  // namespace
}  // namespace lanfeed::testing
