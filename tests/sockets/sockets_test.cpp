// The sockets service against real sockets on 127.0.0.1. Every blocking call
// is preceded by a bounded wait or runs on a thread joined with a time limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket_test_hooks.h"
#include "platform/sockets.h"
#include "platform/internal/sockets_internal.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace lanfeed {
namespace {

constexpr int64_t kBoundMs = 5000;  // upper bound for anything that should happen at once

struct Outcome {
  intptr_t result;
  int32_t error;
};

// Runs `call` and pairs its result with the calling thread's last error.
template <typename Call>
Outcome Capture(Call call) {
  SetSocketLastError(0);
  const intptr_t result = static_cast<intptr_t>(call());
  return {result, SocketLastError()};
}

// SocketRecvWithin as the tables of calls that fail with -1 and the last
// error see it: the count when a receive was made, -1 when the call failed
// with the last error set to the result's error; any other outcome gives a
// value no such table expects (-2 time-out, -3 failed receive, -4 an error
// that differs from the last error).
intptr_t ReceiveWithinAsCall(SocketHandle s, void* buffer, int32_t length, int64_t timeout_ms) {
  const SocketReceiveResult result = SocketRecvWithin(s, buffer, length, nullptr, timeout_ms);
  switch (result.outcome) {
    case SocketReceiveResult::kReceived: return result.count;
    case SocketReceiveResult::kTimedOut: return -2;
    case SocketReceiveResult::kReceiveFailed: return -3;
    case SocketReceiveResult::kCallFailed: return result.error == SocketLastError() ? -1 : -4;
  }
  return -5;
}

class SocketsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSocketFaults();
    ASSERT_EQ(SocketsStartup(), 0);
  }
  void TearDown() override {
    for (SocketHandle s : opened_) SocketClose(s);  // already closed ones just fail
    SocketsCleanup();
    ClearSocketFaults();
  }

 public:  // the helpers are also used by lambdas in table-driven cases
  SocketHandle Open(int32_t type) {
    const SocketHandle s =
        SocketCreate(kAfInet, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
    EXPECT_NE(s, kInvalidSocket) << "error " << SocketLastError();
    opened_.push_back(s);
    return s;
  }

  // A socket bound to 127.0.0.1 on a port the system picks; `port` receives it.
  SocketHandle Bound(int32_t type, uint16_t* port = nullptr) {
    const SocketHandle s = Open(type);
    EXPECT_EQ(SocketBind(s, MakeSocketAddress(kInaddrLoopback, 0)), 0) << SocketLastError();
    const int32_t local = SocketLocalPort(s);
    EXPECT_GT(local, 0) << SocketLastError();
    if (port != nullptr) *port = static_cast<uint16_t>(local);
    return s;
  }

  SocketHandle Listener(uint16_t* port) {
    const SocketHandle s = Bound(kSockStream, port);
    EXPECT_EQ(SocketListen(s, kSomaxconn), 0) << SocketLastError();
    return s;
  }

  SocketHandle Connected(uint16_t port) {
    const SocketHandle s = Open(kSockStream);
    EXPECT_EQ(SocketConnect(s, MakeSocketAddress(kInaddrLoopback, port)), 0) << SocketLastError();
    return s;
  }

  // Accepts a connection that is known to be pending.
  SocketHandle AcceptPending(SocketHandle listener, SocketAddress* peer = nullptr) {
    EXPECT_EQ(SocketWaitReadable(listener, kBoundMs), 1);
    const SocketHandle s = SocketAccept(listener, peer);
    EXPECT_NE(s, kInvalidSocket) << SocketLastError();
    opened_.push_back(s);
    return s;
  }

  void SendDatagram(const std::string& bytes, uint16_t port) {
    if (sender_ == kInvalidSocket) sender_ = Bound(kSockDgram, &sender_port_);
    ASSERT_EQ(SocketSendTo(sender_, bytes.data(), static_cast<int32_t>(bytes.size()),
                           MakeSocketAddress(kInaddrLoopback, port)),
              static_cast<int32_t>(bytes.size()))
        << SocketLastError();
  }

  std::vector<SocketHandle> opened_;
  SocketHandle sender_ = kInvalidSocket;
  uint16_t sender_port_ = 0;
};

// Runs `call` on a thread; Finish() closes nothing itself and gives up after
// kBoundMs so that a call that is never woken fails the test instead of hanging.
class BlockedCall {
 public:
  explicit BlockedCall(std::function<intptr_t()> call) : state_(std::make_shared<State>()) {
    std::shared_ptr<State> state = state_;
    std::promise<void> entering;
    std::future<void> entered = entering.get_future();
    std::thread([state, call = std::move(call), entering = std::move(entering)]() mutable {
      entering.set_value();
      const Outcome outcome = Capture(call);
      state->done.set_value(outcome);
    }).detach();
    entered.wait();
    // The call starts right after the signal; give it time to block.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }

  // The call's outcome, or nothing when it did not return in time.
  bool Finish(Outcome* outcome) {
    std::future<Outcome> done = state_->done.get_future();
    if (done.wait_for(std::chrono::milliseconds(kBoundMs)) != std::future_status::ready) return false;
    *outcome = done.get();
    return true;
  }

 private:
  struct State {
    std::promise<Outcome> done;
  };
  std::shared_ptr<State> state_;
};

TEST(SocketsLibraryTest, CallsFailWithNotInitialisedOutsideStartupAndCleanup) {
  ClearSocketFaults();
  Outcome created = Capture([] { return SocketCreate(kAfInet, kSockDgram, kIpprotoUdp); });
  EXPECT_EQ(created.result, kInvalidSocket);
  EXPECT_EQ(created.error, kWsaNotinitialised);
  EXPECT_EQ(Capture([] { return SocketWaitReadable(1, 0); }).error, kWsaNotinitialised);
  EXPECT_EQ(Capture([] { return SocketClose(1); }).error, kWsaNotinitialised);

  // Two startups need two cleanups.
  ASSERT_EQ(SocketsStartup(), 0);
  ASSERT_EQ(SocketsStartup(), 0);
  SocketsCleanup();
  SocketHandle s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  EXPECT_NE(s, kInvalidSocket) << SocketLastError();
  EXPECT_EQ(SocketClose(s), 0);
  SocketsCleanup();
  created = Capture([] { return SocketCreate(kAfInet, kSockDgram, kIpprotoUdp); });
  EXPECT_EQ(created.result, kInvalidSocket);
  EXPECT_EQ(created.error, kWsaNotinitialised);

  // A cleanup too many must not leave the count below zero.
  SocketsCleanup();
  ASSERT_EQ(SocketsStartup(), 0);
  s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  EXPECT_NE(s, kInvalidSocket) << SocketLastError();
  SocketClose(s);
  SocketsCleanup();
  EXPECT_EQ(Capture([] { return SocketCreate(kAfInet, kSockDgram, kIpprotoUdp); }).error, kWsaNotinitialised);
}

TEST(SocketsLibraryTest, LastCleanupClosesOpenSockets) {
  ClearSocketFaults();
  ASSERT_EQ(SocketsStartup(), 0);
  const SocketHandle s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_EQ(SocketBind(s, MakeSocketAddress(kInaddrLoopback, 0)), 0);
  BlockedCall blocked([s] { return SocketWaitReadable(s, 2 * kBoundMs); });
  SocketsCleanup();
  Outcome outcome{};
  ASSERT_TRUE(blocked.Finish(&outcome)) << "not woken by the last cleanup";
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.error, kWsaEintr);
  ASSERT_EQ(SocketsStartup(), 0);
  EXPECT_EQ(Capture([&] { return SocketWaitReadable(s, 0); }).error, kWsaEnotsock);
  EXPECT_EQ(Capture([&] { return SocketClose(s); }).error, kWsaEnotsock);
  SocketsCleanup();
}

TEST_F(SocketsTest, LastErrorIsKeptPerThread) {
  EXPECT_EQ(Capture([] { return SocketClose(kInvalidSocket); }).error, kWsaEnotsock);
  std::thread([] { SetSocketLastError(kWsaEconnreset); }).join();
  EXPECT_EQ(SocketLastError(), kWsaEnotsock);
}

TEST_F(SocketsTest, FailuresReportWindowsSocketsNumbers) {
  uint16_t tcp_port = 0;
  uint16_t udp_port = 0;
  Listener(&tcp_port);
  Bound(kSockDgram, &udp_port);
  uint16_t bound_only_port = 0;
  Bound(kSockStream, &bound_only_port);

  struct Case {
    const char* name;
    std::function<intptr_t()> call;
    int32_t error;
  };
  const Case cases[] = {
      {"second stream socket on a listening port",
       [&] { return SocketBind(Open(kSockStream), MakeSocketAddress(kInaddrAny, tcp_port)); }, kWsaEaddrinuse},
      {"second stream socket on a bound port",
       [&] { return SocketBind(Open(kSockStream), MakeSocketAddress(kInaddrLoopback, bound_only_port)); },
       kWsaEaddrinuse},
      {"second datagram socket on a bound port",
       [&] { return SocketBind(Open(kSockDgram), MakeSocketAddress(kInaddrLoopback, udp_port)); }, kWsaEaddrinuse},
      {"bind twice", [&] { return SocketBind(Bound(kSockDgram), MakeSocketAddress(kInaddrLoopback, 0)); },
       kWsaEinval},
      {"listen before bind", [&] { return SocketListen(Open(kSockStream), 5); }, kWsaEinval},
      {"listen on a datagram socket", [&] { return SocketListen(Bound(kSockDgram), 5); }, kWsaEopnotsupp},
      {"accept without listen", [&] { return SocketAccept(Bound(kSockStream), nullptr); }, kWsaEinval},
      {"receive on a listening socket",
       [&] {
         char byte;
         return SocketRecv(Listener(nullptr), &byte, 1);
       },
       kWsaEnotconn},
      {"receive from an unbound datagram socket",
       [&] {
         char byte;
         return SocketRecvFrom(Open(kSockDgram), &byte, 1, nullptr);
       },
       kWsaEinval},
      {"local port of an unbound socket", [&] { return SocketLocalPort(Open(kSockDgram)); }, kWsaEinval},
      {"unknown address family", [] { return SocketCreate(99, kSockStream, 0); }, kWsaEafnosupport},
  };
  for (const Case& c : cases) {
    const Outcome outcome = Capture(c.call);
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.error, c.error) << c.name;
  }
}

TEST_F(SocketsTest, StreamConnectionCarriesBytesAndPeerClose) {
  uint16_t port = 0;
  const SocketHandle listener = Listener(&port);
  const SocketHandle client = Connected(port);
  SocketAddress peer{};
  const SocketHandle server = AcceptPending(listener, &peer);
  char text[kAddressTextCapacity];
  AddressToText(peer, text);
  EXPECT_STREQ(text, "127.0.0.1");
  EXPECT_EQ(HostToNetShort(static_cast<uint16_t>(SocketLocalPort(client))), peer.port);

  ASSERT_EQ(SocketSend(client, "hello", 5), 5);
  char buffer[16] = {};
  ASSERT_EQ(SocketWaitReadable(server, kBoundMs), 1);
  EXPECT_EQ(SocketRecv(server, buffer, sizeof buffer), 5);
  EXPECT_STREQ(buffer, "hello");

  EXPECT_EQ(SocketClose(client), 0);
  ASSERT_EQ(SocketWaitReadable(server, kBoundMs), 1);
  EXPECT_EQ(SocketRecv(server, buffer, sizeof buffer), 0);
}

TEST_F(SocketsTest, WaitReadableReportsWhatIsPending) {
  uint16_t port = 0;
  const SocketHandle quiet = Bound(kSockDgram, &port);
  EXPECT_EQ(SocketWaitReadable(quiet, 0), 0);
  EXPECT_EQ(SocketWaitReadable(quiet, 30), 0);
  SendDatagram("x", port);
  EXPECT_EQ(SocketWaitReadable(quiet, kBoundMs), 1);
  EXPECT_EQ(SocketWaitReadable(quiet, std::numeric_limits<int64_t>::max()), 1);

  uint16_t tcp_port = 0;
  const SocketHandle listener = Listener(&tcp_port);
  EXPECT_EQ(SocketWaitReadable(listener, 0), 0);
  Connected(tcp_port);
  EXPECT_EQ(SocketWaitReadable(listener, kBoundMs), 1);

  // A stream socket that neither listens nor is connected has nothing to
  // report (Linux alone would call it hung up).
  EXPECT_EQ(SocketWaitReadable(Open(kSockStream), 30), 0);
  EXPECT_EQ(SocketWaitReadable(Bound(kSockStream), 30), 0);
  EXPECT_EQ(SocketWaitReadable(Open(kSockDgram), 30), 0);
}

TEST_F(SocketsTest, DatagramsAreWholeOrRefused) {
  uint16_t port = 0;
  const SocketHandle receiver = Bound(kSockDgram, &port);
  struct Case {
    size_t sent;
    int32_t capacity;
    int32_t result;
    int32_t error;
  };
  const Case cases[] = {
      {0, 16, 0, 0},
      {1, 16, 1, 0},
      {8192, 8192, 8192, 0},
      {8193, 8192, -1, kWsaEmsgsize},
      {17, 16, -1, kWsaEmsgsize},
  };
  std::vector<char> buffer(8192);
  // Each case through the blocking receive after a wait, and through the
  // receive that waits itself (with nothing pending yet at its start).
  for (const bool within : {false, true}) {
    for (const Case& c : cases) {
      const std::string payload(c.sent, 'a' + static_cast<char>(c.sent % 26));
      SocketAddress from{};
      Outcome outcome{};
      if (within) {
        std::thread sender([&] {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
          SendDatagram(payload, port);
          SendDatagram("next", port);
        });
        SetSocketLastError(0);
        const SocketReceiveResult received =
            SocketRecvWithin(receiver, buffer.data(), c.capacity, &from, kBoundMs);
        sender.join();
        EXPECT_NE(received.outcome, SocketReceiveResult::kTimedOut) << c.sent << " bytes";
        EXPECT_NE(received.outcome, SocketReceiveResult::kCallFailed) << c.sent << " bytes";
        EXPECT_EQ(SocketLastError(), received.error) << c.sent << " bytes";
        const bool made = received.outcome == SocketReceiveResult::kReceived;
        outcome = {made ? received.count : -1, received.error};
      } else {
        SendDatagram(payload, port);
        SendDatagram("next", port);
        ASSERT_EQ(SocketWaitReadable(receiver, kBoundMs), 1);
        outcome = Capture([&] { return SocketRecvFrom(receiver, buffer.data(), c.capacity, &from); });
      }
      EXPECT_EQ(outcome.result, c.result) << c.sent << " bytes, within " << within;
      if (c.result >= 0) {
        EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(c.result)), payload);
        EXPECT_EQ(from.port, HostToNetShort(sender_port_));
        EXPECT_EQ(Ipv4Of(from), HostToNetLong(kInaddrLoopback));
      } else {
        EXPECT_EQ(outcome.error, c.error) << c.sent << " bytes";
      }
      // The refused datagram is gone; the next one arrives intact.
      ASSERT_EQ(SocketWaitReadable(receiver, kBoundMs), 1);
      ASSERT_EQ(SocketRecvFrom(receiver, buffer.data(), 16, nullptr), 4) << SocketLastError();
      EXPECT_EQ(std::string(buffer.data(), 4), "next");
    }
  }
}

TEST_F(SocketsTest, ReceiveWithinWaitsOnlyWhenNothingHasArrived) {
  uint16_t port = 0;
  const SocketHandle listener = Listener(&port);
  const SocketHandle client = Connected(port);
  const SocketHandle server = AcceptPending(listener);
  char buffer[16] = {};
  const auto expect = [](const SocketReceiveResult& result, SocketReceiveResult::Outcome outcome, int32_t count,
                         int32_t error) {
    EXPECT_EQ(result.outcome, outcome);
    EXPECT_EQ(result.count, count);
    EXPECT_EQ(result.error, error);
  };

  // Nothing pending: no wait with a time-out of 0; otherwise the whole time-out.
  expect(SocketRecvWithin(server, buffer, sizeof buffer, nullptr, 0), SocketReceiveResult::kTimedOut, 0, 0);
  const auto began = std::chrono::steady_clock::now();
  expect(SocketRecvWithin(server, buffer, sizeof buffer, nullptr, 60), SocketReceiveResult::kTimedOut, 0, 0);
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(55));

  // Bytes that come during the wait end it and are received. The result
  // carries no error even when an earlier call left one, and the last error
  // stays as it was.
  SetSocketLastError(kWsaEmsgsize);
  std::thread sender([client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SocketSend(client, "late", 4);
  });
  expect(SocketRecvWithin(server, buffer, sizeof buffer, nullptr, kBoundMs), SocketReceiveResult::kReceived, 4, 0);
  sender.join();
  EXPECT_EQ(std::string(buffer, 4), "late");
  EXPECT_EQ(SocketLastError(), kWsaEmsgsize);

  // Bytes already there are received even when the time-out is 0.
  ASSERT_EQ(SocketSend(client, "there", 5), 5);
  ASSERT_EQ(SocketWaitReadable(server, kBoundMs), 1);
  expect(SocketRecvWithin(server, buffer, sizeof buffer, nullptr, 0), SocketReceiveResult::kReceived, 5, 0);

  // The peer's close is a receive of 0; checks before the receive report a
  // failed receive, not a failed call, and set the last error too.
  ASSERT_EQ(SocketClose(client), 0);
  expect(SocketRecvWithin(server, buffer, sizeof buffer, nullptr, kBoundMs), SocketReceiveResult::kReceived, 0, 0);
  SetSocketLastError(0);
  expect(SocketRecvWithin(Listener(nullptr), buffer, 1, nullptr, 0), SocketReceiveResult::kReceiveFailed, 0,
         kWsaEnotconn);
  EXPECT_EQ(SocketLastError(), kWsaEnotconn);
}

TEST_F(SocketsTest, CloseWakesEveryKindOfBlockedCall) {
  struct Case {
    const char* name;
    std::function<SocketHandle(SocketsTest&)> target;
    std::function<intptr_t(SocketHandle)> call;
  };
  const auto udp = [](SocketsTest& t) { return t.Bound(kSockDgram); };
  const auto listener = [](SocketsTest& t) { return t.Listener(nullptr); };
  const auto connection = [](SocketsTest& t) {
    uint16_t port = 0;
    const SocketHandle l = t.Listener(&port);
    t.Connected(port);
    return t.AcceptPending(l);
  };
  const Case cases[] = {
      {"wait on a datagram socket", udp, [](SocketHandle s) { return SocketWaitReadable(s, 2 * kBoundMs); }},
      {"wait on a listening socket", listener, [](SocketHandle s) { return SocketWaitReadable(s, 2 * kBoundMs); }},
      {"wait on a connection", connection, [](SocketHandle s) { return SocketWaitReadable(s, 2 * kBoundMs); }},
      {"accept", listener, [](SocketHandle s) { return SocketAccept(s, nullptr); }},
      {"receive a datagram",
       udp,
       [](SocketHandle s) {
         char buffer[8];
         return SocketRecvFrom(s, buffer, sizeof buffer, nullptr);
       }},
      {"receive on a connection",
       connection,
       [](SocketHandle s) {
         char buffer[8];
         return SocketRecv(s, buffer, sizeof buffer);
       }},
      {"receive on a connection within a time-out",
       connection,
       [](SocketHandle s) {
         char buffer[8];
         return ReceiveWithinAsCall(s, buffer, sizeof buffer, 2 * kBoundMs);
       }},
      {"receive a datagram without a time-out",
       udp,
       [](SocketHandle s) {
         char buffer[8];
         return ReceiveWithinAsCall(s, buffer, sizeof buffer, -1);
       }},
  };
  for (const Case& c : cases) {
    const SocketHandle s = c.target(*this);
    BlockedCall blocked([&c, s] { return c.call(s); });
    ASSERT_EQ(SocketClose(s), 0) << c.name;
    Outcome outcome{};
    ASSERT_TRUE(blocked.Finish(&outcome)) << c.name << ": not woken by the close";
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.error, kWsaEintr) << c.name;
  }
}

TEST_F(SocketsTest, ClosedHandleFailsWithoutTouchingAnySocket) {
  const SocketHandle closed_stream = Listener(nullptr);
  const SocketHandle closed_datagram = Bound(kSockDgram);
  ASSERT_EQ(SocketClose(closed_stream), 0);
  ASSERT_EQ(SocketClose(closed_datagram), 0);

  char buffer[8];
  const SocketAddress loopback = MakeSocketAddress(kInaddrLoopback, 9);
  const std::function<intptr_t(SocketHandle)> calls[] = {
      [&](SocketHandle s) { return SocketBind(s, loopback); },
      [](SocketHandle s) { return SocketListen(s, 1); },
      [](SocketHandle s) { return SocketAccept(s, nullptr); },
      [](SocketHandle s) { return SocketWaitReadable(s, 0); },
      [&](SocketHandle s) { return SocketRecv(s, buffer, sizeof buffer); },
      [&](SocketHandle s) { return SocketRecvFrom(s, buffer, sizeof buffer, nullptr); },
      [&](SocketHandle s) { return ReceiveWithinAsCall(s, buffer, sizeof buffer, 0); },
      [&](SocketHandle s) { return SocketConnect(s, loopback); },
      [](SocketHandle s) { return SocketSend(s, "x", 1); },
      [&](SocketHandle s) { return SocketSendTo(s, "x", 1, loopback); },
      [](SocketHandle s) { return SocketLocalPort(s); },
      [](SocketHandle s) { return SocketClose(s); },
  };
  for (SocketHandle s : {closed_stream, closed_datagram, SocketHandle{0}, kInvalidSocket}) {
    for (size_t i = 0; i < std::size(calls); ++i) {
      const Outcome outcome = Capture([&] { return calls[i](s); });
      EXPECT_EQ(outcome.result, -1) << "call " << i << " on handle " << s;
      EXPECT_EQ(outcome.error, kWsaEnotsock) << "call " << i << " on handle " << s;
    }
  }
}

TEST_F(SocketsTest, HandleNumbersAreNeverReused) {
  uint16_t port = 0;
  const SocketHandle old_socket = Bound(kSockDgram);
  ASSERT_EQ(SocketClose(old_socket), 0);
  // The system hands out the freed descriptor (or SOCKET) again at once.
  const SocketHandle newer = Bound(kSockDgram, &port);
  std::vector<SocketHandle> others;
  for (int i = 0; i < 20; ++i) others.push_back(Open(i % 2 == 0 ? kSockDgram : kSockStream));
  EXPECT_NE(newer, old_socket);
  for (SocketHandle s : others) EXPECT_NE(s, old_socket);

  // The stale handle must not read the newer socket's datagram.
  SendDatagram("mine", port);
  ASSERT_EQ(SocketWaitReadable(newer, kBoundMs), 1);
  char buffer[8];
  EXPECT_EQ(Capture([&] { return SocketRecvFrom(old_socket, buffer, sizeof buffer, nullptr); }).error, kWsaEnotsock);
  EXPECT_EQ(Capture([&] { return SocketClose(old_socket); }).error, kWsaEnotsock);
  EXPECT_EQ(SocketRecvFrom(newer, buffer, sizeof buffer, nullptr), 4);
}

TEST_F(SocketsTest, WokenCallNeverReachesSocketOpenedAfterTheClose) {
  for (int round = 0; round < 10; ++round) {
    const SocketHandle first = Bound(kSockDgram);
    BlockedCall blocked([first] {
      char buffer[8];
      return SocketRecvFrom(first, buffer, sizeof buffer, nullptr);
    });
    ASSERT_EQ(SocketClose(first), 0);
    uint16_t port = 0;
    const SocketHandle second = Bound(kSockDgram, &port);
    SendDatagram("data", port);
    Outcome outcome{};
    ASSERT_TRUE(blocked.Finish(&outcome)) << "round " << round;
    // 10038 when the call only started after the close; either way it failed.
    EXPECT_EQ(outcome.result, -1);
    EXPECT_TRUE(outcome.error == kWsaEintr || outcome.error == kWsaEnotsock) << outcome.error;
    ASSERT_EQ(SocketWaitReadable(second, kBoundMs), 1) << "round " << round;
    char buffer[8];
    EXPECT_EQ(SocketRecvFrom(second, buffer, sizeof buffer, nullptr), 4);
  }
}

// Holds the calls on one handle in the sockets layer's seam, after their
// look-up and before their wait, until released.
class CallHold {
 public:
  explicit CallHold(SocketHandle target) {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.target = target;
    state.held = false;
    state.released = false;
    SetSocketCallHook(&CallHold::Hook);
  }
  ~CallHold() {
    Release();
    SetSocketCallHook(nullptr);
  }

  bool WaitHeld() {
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    return state.changed.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return state.held; });
  }
  void Release() {
    State& state = Shared();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.released = true;
    state.changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    SocketHandle target = kInvalidSocket;
    bool held = false;
    bool released = false;
  };
  static State& Shared() {
    static State state;
    return state;
  }
  static void Hook(SocketHandle s) {
    State& state = Shared();
    std::unique_lock<std::mutex> lock(state.mutex);
    if (s != state.target || state.released) return;
    state.held = true;
    state.changed.notify_all();
    state.changed.wait_for(lock, std::chrono::milliseconds(kBoundMs), [&] { return state.released; });
  }
};

// The last cleanup while a call still holds its socket (between its look-up
// and its wait) closes the socket but must not stop the system's library
// under that call: WSACleanup would close the native socket, whose value the
// system could hand to a newer socket that the call's release then closes.
// The library stops once the call lets go.
TEST(SocketsLibraryTest, LastCleanupKeepsTheSystemLibraryUntilTheLastCallLetsGo) {
  ClearSocketFaults();
  const int32_t before = sockets_internal::NativeStartCount();
  ASSERT_EQ(SocketsStartup(), 0);
  const SocketHandle s = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  ASSERT_NE(s, kInvalidSocket);
  ASSERT_EQ(SocketBind(s, MakeSocketAddress(kInaddrLoopback, 0)), 0);
  {
    CallHold hold(s);
    BlockedCall blocked([s] { return SocketWaitReadable(s, 2 * kBoundMs); });
    ASSERT_TRUE(hold.WaitHeld());
    SocketsCleanup();
    EXPECT_EQ(sockets_internal::NativeStartCount(), before + 1) << "stopped under a call";
    // A startup and cleanup meanwhile leave it running as well.
    ASSERT_EQ(SocketsStartup(), 0);
    EXPECT_EQ(sockets_internal::NativeStartCount(), before + 2);
    SocketsCleanup();
    EXPECT_EQ(sockets_internal::NativeStartCount(), before + 2) << "stopped under a call";
    hold.Release();
    Outcome outcome{};
    ASSERT_TRUE(blocked.Finish(&outcome));
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.error, kWsaEintr);
  }
  EXPECT_EQ(sockets_internal::NativeStartCount(), before) << "a cleanup still owed after the call let go";
  EXPECT_EQ(Capture([] { return SocketCreate(kAfInet, kSockDgram, kIpprotoUdp); }).error, kWsaNotinitialised);

  // Without a call holding a socket every cleanup stops its startup at once.
  ASSERT_EQ(SocketsStartup(), 0);
  const SocketHandle open = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
  ASSERT_NE(open, kInvalidSocket);
  SocketsCleanup();
  EXPECT_EQ(sockets_internal::NativeStartCount(), before);
}

#ifdef _WIN32
// Windows serves one waiter per direction on a socket (platform/sockets.h);
// the backend counts a second receiver that waits beside the first, and a
// close still wakes both.
TEST_F(SocketsTest, ASecondReceiveWaiterOnOneSocketIsCounted) {
  const int32_t before = sockets_internal::NativeWaiterClashes();
  const SocketHandle s = Bound(kSockDgram);
  auto receive = [s] {
    char buffer[8];
    return SocketRecvFrom(s, buffer, sizeof buffer, nullptr);
  };
  BlockedCall first(receive);
  EXPECT_EQ(sockets_internal::NativeWaiterClashes(), before);
  BlockedCall second(receive);
  EXPECT_EQ(sockets_internal::NativeWaiterClashes(), before + 1);
  ASSERT_EQ(SocketClose(s), 0);
  for (BlockedCall* call : {&first, &second}) {
    Outcome outcome{};
    ASSERT_TRUE(call->Finish(&outcome));
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.error, kWsaEintr);
  }
}
#endif

// The system reuses a closed socket's number at once (Winsock its SOCKET
// values, POSIX its descriptors). A call held after its look-up while its
// socket is closed and newer sockets are opened must fail with 10004 when it
// goes on, and leave the newer sockets' data alone.
TEST_F(SocketsTest, CloseOfACallAboutToWaitNeverLetsItReachANewerSocket) {
  struct Case {
    const char* name;
    int32_t type;   // of the socket the call is held on
    bool listener;  // a listening stream socket, else a connection or a bound datagram socket
    std::function<intptr_t(SocketHandle)> call;
  };
  const Case cases[] = {
      {"receive on a connection", kSockStream, false,
       [](SocketHandle s) {
         char buffer[8];
         return SocketRecv(s, buffer, sizeof buffer);
       }},
      {"receive on a connection within a time-out", kSockStream, false,
       [](SocketHandle s) {
         char buffer[8];
         return ReceiveWithinAsCall(s, buffer, sizeof buffer, 2 * kBoundMs);
       }},
      {"receive a datagram", kSockDgram, false,
       [](SocketHandle s) {
         char buffer[8];
         return SocketRecvFrom(s, buffer, sizeof buffer, nullptr);
       }},
      {"wait on a datagram socket", kSockDgram, false, [](SocketHandle s) { return SocketWaitReadable(s, 2 * kBoundMs); }},
      {"accept", kSockStream, true, [](SocketHandle s) { return SocketAccept(s, nullptr); }},
  };
  uint16_t port = 0;
  const SocketHandle listener = Listener(&port);
  for (const Case& c : cases) {
    SocketHandle target = kInvalidSocket;
    if (c.listener) {
      target = Listener(nullptr);
    } else if (c.type == kSockStream) {
      Connected(port);
      target = AcceptPending(listener);
    } else {
      target = Bound(kSockDgram);
    }
    // Clients of the newer connections connect first, so that the sockets
    // the system creates right after the close are the ones with data.
    constexpr int kNewer = 3;
    std::vector<SocketHandle> clients;
    if (!c.listener && c.type == kSockStream) {
      for (int i = 0; i < kNewer; ++i) clients.push_back(Connected(port));
    }
    CallHold hold(target);
    BlockedCall blocked([&c, target] { return c.call(target); });
    ASSERT_TRUE(hold.WaitHeld()) << c.name;
    ASSERT_EQ(SocketClose(target), 0) << c.name;

    // Newer sockets of the same kind, each with something to read.
    std::vector<SocketHandle> newer;
    for (int i = 0; i < kNewer; ++i) {
      if (c.listener) {
        uint16_t newer_port = 0;
        newer.push_back(Listener(&newer_port));
        Connected(newer_port);
      } else if (c.type == kSockStream) {
        newer.push_back(AcceptPending(listener));
        ASSERT_EQ(SocketSend(clients[i], "mine", 4), 4);
      } else {
        uint16_t newer_port = 0;
        newer.push_back(Bound(kSockDgram, &newer_port));
        SendDatagram("mine", newer_port);
      }
    }
    hold.Release();
    Outcome outcome{};
    ASSERT_TRUE(blocked.Finish(&outcome)) << c.name << ": the held call did not end";
    EXPECT_EQ(outcome.result, -1) << c.name;
    EXPECT_EQ(outcome.error, kWsaEintr) << c.name;
    for (const SocketHandle s : newer) {
      if (c.listener) {
        EXPECT_EQ(SocketWaitReadable(s, kBoundMs), 1) << c.name << ": pending connection lost";
        continue;
      }
      char buffer[8] = {};
      const SocketReceiveResult received = SocketRecvWithin(s, buffer, sizeof buffer, nullptr, kBoundMs);
      EXPECT_EQ(received.outcome, SocketReceiveResult::kReceived) << c.name;
      EXPECT_EQ(received.count, 4) << c.name << ": bytes lost";
    }
  }
}

// Stale handles keep failing with 10038 while other threads open and close
// sockets, which reuses the table's entries and slots under them.
TEST_F(SocketsTest, StaleHandlesFailWhileEntriesAreReused) {
  std::vector<SocketHandle> stale;
  for (int i = 0; i < 16; ++i) stale.push_back(Open(i % 2 == 0 ? kSockDgram : kSockStream));
  for (const SocketHandle s : stale) ASSERT_EQ(SocketClose(s), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> reached{0};
  std::vector<std::thread> lookers;
  for (int t = 0; t < 2; ++t) {
    lookers.emplace_back([&] {
      while (!stop.load()) {
        for (const SocketHandle s : stale) {
          SetSocketLastError(0);
          // An unbound socket would answer 10022: a newer socket was reached.
          if (SocketLocalPort(s) != -1 || SocketLastError() != kWsaEnotsock) reached.fetch_add(1);
        }
      }
    });
  }
  for (int i = 0; i < 1000; ++i) {
    const SocketHandle s = SocketCreate(kAfInet, i % 2 == 0 ? kSockDgram : kSockStream, 0);
    ASSERT_NE(s, kInvalidSocket) << SocketLastError();
    ASSERT_EQ(SocketClose(s), 0);
  }
  stop.store(true);
  for (std::thread& looker : lookers) looker.join();
  EXPECT_EQ(reached.load(), 0);
}

TEST_F(SocketsTest, ListenerRebindsItsPortRightAfterClientsDisconnect) {
  uint16_t port = 0;
  const SocketHandle listener = Listener(&port);
  const SocketHandle client = Connected(port);
  const SocketHandle accepted = AcceptPending(listener);
  // The server side closes first, so its end of the connection lingers on the
  // listening port.
  ASSERT_EQ(SocketClose(accepted), 0);
  ASSERT_EQ(SocketWaitReadable(client, kBoundMs), 1);
  ASSERT_EQ(SocketClose(client), 0);
  ASSERT_EQ(SocketClose(listener), 0);

  const SocketHandle restarted = Open(kSockStream);
  ASSERT_EQ(SocketBind(restarted, MakeSocketAddress(kInaddrAny, port)), 0) << SocketLastError();
  ASSERT_EQ(SocketListen(restarted, kSomaxconn), 0) << SocketLastError();
  Connected(port);
  AcceptPending(restarted);
}

TEST_F(SocketsTest, InjectedFaultFailsOneCallWithItsCode) {
  uint16_t port = 0;
  const SocketHandle listener = Listener(&port);
  Connected(port);
  ASSERT_EQ(SocketWaitReadable(listener, kBoundMs), 1);
  const SocketHandle unbound = Open(kSockStream);

  struct Case {
    SocketOp op;
    int32_t code;
    std::function<intptr_t()> call;
    intptr_t failure;
  };
  const Case cases[] = {
      {SocketOp::kStartup, kWsaSysnotready, [] { return SocketsStartup(); }, kWsaSysnotready},
      {SocketOp::kSocket, kWsaEmfile, [] { return SocketCreate(kAfInet, kSockDgram, kIpprotoUdp); }, -1},
      {SocketOp::kBind, kWsaEaddrinuse, [&] { return SocketBind(unbound, MakeSocketAddress(kInaddrLoopback, 0)); },
       -1},
      {SocketOp::kListen, kWsaEnobufs, [&] { return SocketListen(unbound, kSomaxconn); }, -1},
      {SocketOp::kAccept, kWsaEconnaborted, [&] { return SocketAccept(listener, nullptr); }, -1},
  };
  for (const Case& c : cases) {
    InjectSocketFault(c.op, c.code);
    const Outcome failed = Capture(c.call);
    EXPECT_EQ(failed.result, c.failure) << static_cast<int>(c.op);
    EXPECT_EQ(failed.error, c.code) << static_cast<int>(c.op);
    // The fault did not reach the system: the same call now succeeds.
    const Outcome next = Capture(c.call);
    EXPECT_GE(next.result, 0) << static_cast<int>(c.op) << " error " << next.error;
    if (c.op == SocketOp::kStartup && next.result == 0) SocketsCleanup();
    if (c.op == SocketOp::kSocket || c.op == SocketOp::kAccept) opened_.push_back(next.result);
  }

  InjectSocketFault(SocketOp::kSocket, kWsaEmfile);
  ClearSocketFaults();
  EXPECT_NE(Open(kSockDgram), kInvalidSocket);
}

#ifndef _WIN32
// Descriptors above FD_SETSIZE (1024) must work; a select-based wait would
// write past its descriptor set.
TEST_F(SocketsTest, DescriptorsAboveTenTwentyThreeWork) {
  constexpr int kHigh = 1100;
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < kHigh + 64) GTEST_SKIP() << "descriptor limit too low";
  const rlimit saved = limit;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < kHigh + 64) limit.rlim_cur = kHigh + 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  // Occupy every descriptor below kHigh, so the sockets get higher numbers.
  std::vector<int> fillers;
  for (int fd = dup(0); fd >= 0 && fd < kHigh; fd = dup(0)) fillers.push_back(fd);
  ASSERT_FALSE(fillers.empty());
  fillers.push_back(dup(0));
  ASSERT_GE(fillers.back(), kHigh);

  uint16_t port = 0;
  const SocketHandle receiver = Bound(kSockDgram, &port);
  SendDatagram("high", port);
  EXPECT_EQ(SocketWaitReadable(receiver, kBoundMs), 1);
  char buffer[8];
  EXPECT_EQ(SocketRecvFrom(receiver, buffer, sizeof buffer, nullptr), 4);
  uint16_t tcp_port = 0;
  const SocketHandle listener = Listener(&tcp_port);
  Connected(tcp_port);
  AcceptPending(listener);
  BlockedCall blocked([receiver] { return SocketWaitReadable(receiver, 2 * kBoundMs); });
  ASSERT_EQ(SocketClose(receiver), 0);
  Outcome outcome{};
  ASSERT_TRUE(blocked.Finish(&outcome));
  EXPECT_EQ(outcome.error, kWsaEintr);

  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
}
#endif

// IPv6 through the same calls: "::1" end to end, "::" taking IPv4 peers as
// mapped addresses, and addresses of the other family refused.
TEST_F(SocketsTest, Ipv6SocketsServeTheirFamilyAndIpv4ThroughEveryAddress) {
  const SocketHandle probe = SocketCreate(kAfInet6, kSockStream, kIpprotoTcp);
  if (probe == kInvalidSocket) GTEST_SKIP() << "this system has no IPv6 sockets (error " << SocketLastError() << ")";
  opened_.push_back(probe);
  if (SocketBind(probe, Ipv6Loopback(0)) != 0) {
    GTEST_SKIP() << "this machine has no ::1 (bind error " << SocketLastError() << ")";
  }
  const auto open6 = [&](int32_t type) {
    const SocketHandle s = SocketCreate(kAfInet6, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
    EXPECT_NE(s, kInvalidSocket) << SocketLastError();
    opened_.push_back(s);
    return s;
  };
  char text[kAddressTextCapacity];

  // A stream on ::1: the peer's address and port as the client has them.
  const SocketHandle listener = open6(kSockStream);
  ASSERT_EQ(SocketBind(listener, Ipv6Loopback(0)), 0) << SocketLastError();
  ASSERT_EQ(SocketListen(listener, kSomaxconn), 0) << SocketLastError();
  const auto port = static_cast<uint16_t>(SocketLocalPort(listener));
  const SocketHandle client = open6(kSockStream);
  ASSERT_EQ(SocketConnect(client, Ipv6Loopback(port)), 0) << SocketLastError();
  SocketAddress peer{};
  const SocketHandle server = AcceptPending(listener, &peer);
  EXPECT_EQ(peer.family, kAfInet6);
  AddressToText(peer, text);
  EXPECT_STREQ(text, "::1");
  EXPECT_EQ(peer.port, HostToNetShort(static_cast<uint16_t>(SocketLocalPort(client))));
  ASSERT_EQ(SocketSend(client, "six", 3), 3);
  char buffer[16] = {};
  ASSERT_EQ(SocketWaitReadable(server, kBoundMs), 1);
  EXPECT_EQ(SocketRecv(server, buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "six");

  // A datagram on ::1, with its sender.
  const SocketHandle receiver = open6(kSockDgram);
  ASSERT_EQ(SocketBind(receiver, Ipv6Loopback(0)), 0) << SocketLastError();
  const auto udpPort = static_cast<uint16_t>(SocketLocalPort(receiver));
  const SocketHandle sender = open6(kSockDgram);
  ASSERT_EQ(SocketSendTo(sender, "dgram", 5, Ipv6Loopback(udpPort)), 5) << SocketLastError();
  ASSERT_EQ(SocketWaitReadable(receiver, kBoundMs), 1);
  SocketAddress from{};
  EXPECT_EQ(SocketRecvFrom(receiver, buffer, sizeof buffer, &from), 5);
  AddressToText(from, text);
  EXPECT_STREQ(text, "::1");
  EXPECT_EQ(from.port, HostToNetShort(static_cast<uint16_t>(SocketLocalPort(sender))));

  // "::" also takes IPv4 clients, reported as mapped addresses.
  const SocketHandle every = open6(kSockStream);
  ASSERT_EQ(SocketBind(every, MakeSocketAddress6({}, 0)), 0) << SocketLastError();
  ASSERT_EQ(SocketListen(every, kSomaxconn), 0);
  const auto everyPort = static_cast<uint16_t>(SocketLocalPort(every));
  Connected(everyPort);
  AcceptPending(every, &peer);
  AddressToText(peer, text);
  EXPECT_STREQ(text, "::ffff:127.0.0.1");

  // Each socket takes addresses of its own family only.
  const SocketHandle v4 = Open(kSockDgram);
  EXPECT_EQ(SocketBind(v4, Ipv6Loopback(0)), -1);
  EXPECT_EQ(SocketLastError(), kWsaEafnosupport);
  EXPECT_EQ(SocketSendTo(v4, "x", 1, Ipv6Loopback(udpPort)), -1);
  EXPECT_EQ(SocketLastError(), kWsaEafnosupport);
  EXPECT_EQ(SocketSendTo(sender, "x", 1, MakeSocketAddress(kInaddrLoopback, udpPort)), -1);
  EXPECT_EQ(SocketLastError(), kWsaEafnosupport);
  EXPECT_EQ(SocketConnect(open6(kSockStream), MakeSocketAddress(kInaddrLoopback, port)), -1);
  EXPECT_EQ(SocketLastError(), kWsaEafnosupport);

  // Stream ports: "::" covers IPv4 as well, so 127.0.0.1 on its port is
  // taken even before it listens; ::1 and 127.0.0.1 are apart.
  const SocketHandle wide = open6(kSockStream);
  ASSERT_EQ(SocketBind(wide, MakeSocketAddress6({}, 0)), 0) << SocketLastError();
  const auto widePort = static_cast<uint16_t>(SocketLocalPort(wide));
  EXPECT_EQ(SocketBind(Open(kSockStream), MakeSocketAddress(kInaddrLoopback, widePort)), -1);
  EXPECT_EQ(SocketLastError(), kWsaEaddrinuse);
  uint16_t v4Port = 0;
  Bound(kSockStream, &v4Port);
  EXPECT_EQ(SocketBind(open6(kSockStream), Ipv6Loopback(v4Port)), 0) << SocketLastError();
}

TEST(SocketAddressTest, ByteOrderAndDottedText) {
  const uint16_t port = HostToNetShort(0x1234);
  EXPECT_EQ(std::memcmp(&port, "\x12\x34", 2), 0);
  const SocketAddress address = MakeSocketAddress(0xC0A80A01, 58627);
  EXPECT_EQ(std::memcmp(&address.address, "\xC0\xA8\x0A\x01", 4), 0);
  EXPECT_EQ(address.port, HostToNetShort(58627));
  EXPECT_EQ(address.family, kAfInet);
  struct Case {
    uint32_t host;
    const char* text;
  };
  for (const Case& c : {Case{0xC0A80A01, "192.168.10.1"}, Case{0, "0.0.0.0"}, Case{0xFFFFFFFF, "255.255.255.255"}}) {
    char text[kAddressTextCapacity];
    AddressToText(MakeSocketAddress(c.host, 0), text);
    EXPECT_STREQ(text, c.text);
  }
  struct Case6 {
    uint8_t bytes[16];
    const char* text;
  };
  const Case6 cases6[] = {
      {{}, "::"},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
      {{0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, "fd00::5"},
      {{0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "1:0:0:1::1"},  // the longer run of zeros
      {{0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8}, "1:2:3:4:5:6:7:8"},
      {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
       "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 1, 2, 3}, "::ffff:10.1.2.3"},
  };
  for (const Case6& c : cases6) {
    char text[kAddressTextCapacity];
    AddressToText(MakeSocketAddress6(c.bytes, 80), text);
    EXPECT_STREQ(text, c.text);
  }
}

}  // namespace
}  // namespace lanfeed
