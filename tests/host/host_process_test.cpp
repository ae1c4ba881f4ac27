// lanfeed-host as a separate process, on every system: writing the default
// configuration, refusing a malformed one or a bad command line, serving TCP
// and UDP in each output mode until a stop, a taken port, a closed or
// blocked stdout. The POSIX-only cases (SIGHUP, the Debian package) are in
// host_process_posix_test.cpp.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <regex>
#include <string>
#include <thread>

#include "host/config_tree.h"
#include "host/default_config.h"
#include "host/json_lines.h"
#include "tests/config/device_read_cases.h"
#include "tests/host/child_process.h"
#include "tests/host/host_process_support.h"

namespace lanfeed::testing {
namespace {

std::string RandomBytes(std::size_t count, uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; i += 8) {
    uint64_t word = generator();
    std::memcpy(&bytes[i], &word, std::min<std::size_t>(8, count - i));
  }
  return bytes;
}

// FNV-1a, to name a large byte string in a failure message.
uint64_t Fingerprint(std::string_view bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : bytes) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return hash;
}

// Joins its thread when it goes. Declared before the child whose output
// the thread waits on, so that the child is gone (and the thread's blocked
// call has failed) first.
struct JoiningThread {
  std::thread thread;
  ~JoiningThread() {
    if (thread.joinable()) thread.join();
  }
};

TEST_F(LanFeedHostProcess, WritesAnEditableDefaultConfiguration) {
  // A name outside every ANSI code page: on Windows the path must reach the
  // file system as UTF-16, from the command line to the file.
  TempFolder folder;
  std::string file = folder.File("d\xC3\xA9" "faut-\xE8\xA8\xAD\xE5\xAE\x9A.xml");
  ChildProcess child;
  StartHost(&child, {"--write-default-config", file});
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
  EXPECT_EQ(child.out().find("log "), std::string::npos) << "nothing was started: " << Dump(child);
  ASSERT_TRUE(std::filesystem::exists(PathOf(file))) << "no file under the UTF-8 name\n" << Dump(child);

  std::string text = ReadText(file);
  EXPECT_NE(text.find("\n    <Port type=\"integer\" min=\"1\" max=\"65635\" default=\"58627\">58627</Port>\n"),
            std::string::npos)
      << "indented, one setting a line, value in place:\n" << text;

  host::ConfigTree tree;
  host::XmlError xmlError;
  ASSERT_TRUE(tree.LoadFile(file, &xmlError)) << xmlError.message;
  pugi::xml_node root = tree.root()->element();
  EXPECT_STREQ(root.attribute("lib").value(), "LanFeed.dll");
  EXPECT_STREQ(root.attribute("id").value(), "LANFEED");
  EXPECT_STREQ(root.attribute("desc").value(), "LAN Feed");
  EXPECT_STREQ(root.attribute("version").value(), "1.1");
  ExpectSettings(host::EffectiveSettings(tree.root()), {});
}

TEST_F(LanFeedHostProcess, CheckConfigListsEveryUnusableValueAndARunWarnsOfThem) {
  TempFolder folder;
  const std::string bad = folder.File("bad.xml");
  WriteText(bad,
            "<Plugin>\n"
            "  <Device>\n"
            "    <Protocol>2</Protocol>\n"
            "    <Port>70000</Port>\n"
            "    <TCPTimeout>-5</TCPTimeout>\n"
            "    <Feedback><OnDispatch><Beeper><Freq>abc</Freq></Beeper></OnDispatch></Feedback>\n"
            "    <Colour>1</Colour>\n"
            "  </Device>\n"
            "</Plugin>\n");
  const std::vector<std::string> expected = {
      bad + ":3: Device/Protocol \"2\": out of range (0 UDP, 1 TCP); the plug-in uses 1 (TCP)",
      bad + ":4: Device/Port \"70000\": out of range (0 to 65535); the plug-in uses 58627",
      bad + ":5: Device/TCPTimeout \"-5\": out of range (0 and up); the plug-in uses 60 s",
      bad + ":6: Device/Feedback/OnDispatch/Beeper/Freq \"abc\": not a number; the plug-in uses 0",
      bad + ":7: Device/Colour \"1\": unknown element; the plug-in ignores it",
  };
  {
    ChildProcess check;
    StartHost(&check, {"--check-config", bad});
    EXPECT_EQ(ExitCode(&check, kStepTimeout), 1);
    std::vector<std::string> lines = check.OutLines();
    ASSERT_EQ(lines.size(), expected.size() + 1) << Dump(check);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]);
    EXPECT_EQ(lines.back(), bad + ": the plug-in will serve TCP port 58627, time-out 60 s");
  }
  {
    const std::string defaults = folder.File("default.xml");
    ChildProcess write;
    StartHost(&write, {"--write-default-config", defaults});
    ASSERT_EQ(ExitCode(&write, kStepTimeout), 0) << Dump(write);
    ChildProcess check;
    StartHost(&check, {"--check-config", defaults});
    EXPECT_EQ(ExitCode(&check, kStepTimeout), 0) << Dump(check);
    EXPECT_EQ(check.out(), defaults + ": the plug-in uses every value as written\n" + defaults +
                               ": the plug-in will serve TCP port 58627, time-out 60 s\n");
  }
  // A run warns on stderr and serves all the same; --tcp replaces the
  // protocol and the port, which then are not reported.
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess run;
  StartHost(&run, {"--config", bad, "--tcp", std::to_string(port)});
  ASSERT_TRUE(run.WaitForLine(kListeningLine, kStartTimeout)) << Dump(run);
  // stderr has a writer of its own: the warnings may come after the listening line.
  for (std::size_t i : {2, 3, 4}) {
    EXPECT_TRUE(run.WaitForError("lanfeed-host: warning: " + expected[i] + "\n", kStepTimeout)) << run.err();
  }
  EXPECT_EQ(run.err().find("Device/Port"), std::string::npos) << run.err();
  EXPECT_EQ(run.err().find("Device/Protocol"), std::string::npos) << run.err();
  RequestStop(&run, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&run, kStepTimeout), 0);
}

TEST_F(LanFeedHostProcess, RefusesMalformedConfigurationWithItsPosition) {
  TempFolder folder;
  std::string file = folder.File("broken.xml");
  WriteText(file, "<Plugin>\n  <Device>\n    <Port>5000</Prt>\n  </Device>\n</Plugin>\n");
  ChildProcess child;
  StartHost(&child, {"--config", file});
  EXPECT_NE(ExitCode(&child, kStepTimeout), 0);
  EXPECT_NE(child.err().find(file + ":3:17: not well-formed XML"), std::string::npos) << Dump(child);
  EXPECT_EQ(child.out(), "") << "nothing may start";
}

// Serving TCP from a configuration file until each kind of stop request.
class LanFeedHostStop : public LanFeedHostProcess, public ::testing::WithParamInterface<StopRequest> {};

TEST_P(LanFeedHostStop, ServesTcpFromAConfigurationUntilAsked) {
  const StopRequest request = GetParam();
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("tcp.xml");
  WriteText(file, ConfigurationFor(1, port));

  ChildProcess child;
  StartHost(&child, {"--config", file});
  ASSERT_TRUE(child.WaitForLine(kListeningLine, kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("\"LAN Feed\" version 1.1 kind 10"), std::string::npos) << Dump(child);
  EXPECT_NE(child.out().find("TCP port " + std::to_string(port) + ", time-out 60 s"), std::string::npos)
      << Dump(child);

  {
    TcpClient client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.Send("hello\n\x01\""));
    const std::string kDelivery = "deliver consumer=1 length=8 data=\"hello\\n\\x01\\\"\"";
    EXPECT_TRUE(child.WaitForLine(kDelivery, kStepTimeout)) << Dump(child);
    std::vector<std::string> lines = child.OutLines();
    auto delivery = std::find(lines.begin(), lines.end(), kDelivery);
    ASSERT_NE(delivery, lines.begin());
    ASSERT_NE(delivery, lines.end());
    EXPECT_EQ(*(delivery - 1),
              "feedback flags=0x1 beeper=on time=300 freq=3000 volume=0 led=off time=0 color=0 wave=off "
              "path=(none) vibrator=off time=0")
        << "feedback comes right before the delivery";
  }

  // A client still connected at the stop: the plug-in writes error lines
  // for it and for its listener as it stops, which the host asked for.
  TcpClient connected(port);
  ASSERT_TRUE(connected.connected());
  ASSERT_TRUE(connected.Send("x"));
  ASSERT_TRUE(child.WaitForLine("deliver consumer=1 length=1 data=\"x\"", kStepTimeout)) << Dump(child);

  std::string reason;
  if (!child.RequestStop(request, &reason)) GTEST_SKIP() << reason;
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << "after " << ChildProcess::StopName(request);
  EXPECT_TRUE(HasLine(child, StoppingLine(request))) << Dump(child);
  EXPECT_TRUE(HasLine(child, "stopped")) << Dump(child);
  EXPECT_NE(child.out().find("log 1 "), std::string::npos) << "the stop's own error lines\n" << Dump(child);
  EXPECT_TRUE(std::regex_search(child.err(), std::regex("stopped: delivered 2 blocks \\(9 bytes\\), 2 feedback requests, "
                                                        "0 error lines \\([1-9][0-9]* more while the host stopped or moved the server\\)\n")))
      << Dump(child);
  EXPECT_TRUE(TcpPortIsFree(port)) << "port " << port << " still taken after the host stopped";
}

INSTANTIATE_TEST_SUITE_P(Requests, LanFeedHostStop, ::testing::Values(StopRequest::kInterrupt, StopRequest::kTerminate),
                         [](const ::testing::TestParamInfo<StopRequest>& info) {
                           std::string name = ChildProcess::StopName(info.param);
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

TEST_F(LanFeedHostProcess, ServesUdpUntilInterrupted) {
  int port = FreePort(kSockDgram);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("udp.xml");
  WriteText(file, ConfigurationFor(0, port));

  ChildProcess child;
  StartHost(&child, {"--config", file});
  ASSERT_TRUE(child.WaitForLine(kListeningLine, kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("UDP port " + std::to_string(port)), std::string::npos) << Dump(child);

  const std::string kDatagram(300, 'u');
  const std::string kDelivery = "deliver consumer=1 length=300 data=\"" + std::string(200, 'u') + "... (100 more bytes)\"";
  // A datagram can be lost; send again (a bounded number of times) until one arrives.
  bool delivered = false;
  UdpSender sender;
  for (int attempt = 0; attempt < 5 && !delivered; ++attempt) {
    sender.Send(port, kDatagram);
    delivered = child.WaitForLine(kDelivery, 2s);
  }
  EXPECT_TRUE(delivered) << Dump(child);

  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
  EXPECT_TRUE(HasLine(child, StoppingLine(StopRequest::kInterrupt))) << Dump(child);
}

TEST_F(LanFeedHostProcess, RunsOnTheDefaultsWithThePluginBesideItself) {
  // Only checks what the host says it will do; the default port may be taken
  // on the machine that runs the tests (--keep-retrying then keeps the host
  // up), so nothing connects to it. No --plugin: the host finds the plug-in
  // in its own folder (bin/), not in ../lib/lanfeed/.
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({HostBinary(), "--keep-retrying"}, &error)) << error;
  ASSERT_TRUE(child.WaitForLineStartingWith("plug-in ", kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("configuration: defaults; TCP port 58627, time-out 60 s"), std::string::npos)
      << Dump(child);
  const std::string plugin = Utf8(PathOf(PluginFile()).filename());
  EXPECT_TRUE(child.out().find("/bin/" + plugin + ")") != std::string::npos ||
              child.out().find("\\bin\\" + plugin + ")") != std::string::npos)
      << Dump(child);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
}

TEST_F(LanFeedHostProcess, RawOutputIsExactlyTheBytesOfTwoConnections) {
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);

  // One connection after the other, each read back whole before the next
  // starts, so the expected output is their concatenation.
  constexpr std::size_t kHalf = 2 * 1024 * 1024;
  const std::string sent = RandomBytes(2 * kHalf, 20240501);
  for (std::size_t connection = 0; connection < 2; ++connection) {
    std::string_view part = std::string_view(sent).substr(connection * kHalf, kHalf);
    std::atomic<bool> sentAll{false};
    std::thread sender([&] {
      TcpClient client(port);
      sentAll = client.connected() && client.Send(part);
    });
    bool arrived = child.WaitForOutput([&](const std::string& out) { return out.size() >= (connection + 1) * kHalf; },
                                       60s);
    sender.join();
    ASSERT_TRUE(sentAll) << "connection " << connection;
    ASSERT_TRUE(arrived) << child.out().size() << " bytes arrived\n" << child.err();
  }
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << child.err();
  ASSERT_EQ(child.out().size(), sent.size()) << child.err();
  EXPECT_EQ(Fingerprint(child.out()), Fingerprint(sent)) << "stdout holds other bytes than were sent";
  EXPECT_NE(child.err().find("feedback flags=0x1 beeper=on"), std::string::npos) << "events go to stderr";
  EXPECT_NE(child.err().find("(" + std::to_string(sent.size()) + " bytes)"), std::string::npos)
      << "the stop summary counts every byte\n" << child.err();
}

TEST_F(LanFeedHostProcess, PeerOptionsRefuseAndServeThroughTheHost) {
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--bind", "127.0.0.1", "--allow", "127.0.0.2/32",
                     "--max-clients", "1", "--max-clients-per-peer", "1", "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);
  const auto connect = [&](uint32_t source, uint32_t target) {
    SocketHandle s = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
    EXPECT_EQ(SocketBind(s, MakeSocketAddress(source, 0)), 0);
    if (SocketConnect(s, MakeSocketAddress(target, static_cast<uint16_t>(port))) != 0) {
      SocketClose(s);
      return kInvalidSocket;
    }
    return s;
  };
  // Bound to 127.0.0.1: nothing answers on 127.0.0.2.
  EXPECT_EQ(connect(0x7F000002, 0x7F000002), kInvalidSocket);
  // From 127.0.0.1: not on the allow-list.
  SocketHandle outsider = connect(0x7F000001, 0x7F000001);
  ASSERT_NE(outsider, kInvalidSocket);
  EXPECT_TRUE(child.WaitForOutput(
      [](const std::string& out) {
        return out.find("Refused TCP client connection to Port : ") != std::string::npos &&
               out.find(" from 127.0.0.1. Not an allowed peer.") != std::string::npos;
      },
      kStepTimeout))
      << Dump(child);
  SocketClose(outsider);
  // From 127.0.0.2: served; a second one is over the limit.
  SocketHandle insider = connect(0x7F000002, 0x7F000001);
  ASSERT_NE(insider, kInvalidSocket);
  ASSERT_EQ(SocketSend(insider, "ok\n", 3), 3);
  EXPECT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"data\":\"ok\\n\"") != std::string::npos; }, kStepTimeout))
      << Dump(child);
  SocketHandle second = connect(0x7F000002, 0x7F000001);
  EXPECT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("from 127.0.0.2. Too many clients.") != std::string::npos; },
      kStepTimeout))
      << Dump(child);
  SocketClose(second);
  SocketClose(insider);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << child.err();
  EXPECT_EQ(child.out().find("\"event\":\"deliver\""), child.out().rfind("\"event\":\"deliver\"")) << "one delivery";
}

TEST_F(LanFeedHostProcess, Ipv6SessionNamesItsSenderInBrackets) {
  const SocketHandle probe = SocketCreate(kAfInet6, kSockStream, kIpprotoTcp);
  if (probe == kInvalidSocket) GTEST_SKIP() << "this system has no IPv6 sockets";
  const bool hasLoopback = SocketBind(probe, Ipv6Loopback(0)) == 0;
  const int port = hasLoopback ? SocketLocalPort(probe) : 0;
  SocketClose(probe);
  if (!hasLoopback) GTEST_SKIP() << "this machine has no ::1";
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--bind", "::1", "--allow", "::1", "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);
  const SocketHandle client = SocketCreate(kAfInet6, kSockStream, kIpprotoTcp);
  ASSERT_EQ(SocketConnect(client, Ipv6Loopback(static_cast<uint16_t>(port))), 0) << SocketLastError();
  const std::string peer = "\"peer\":\"[::1]:" + std::to_string(SocketLocalPort(client)) + "\"";
  ASSERT_EQ(SocketSend(client, "six\n", 4), 4);
  EXPECT_TRUE(child.WaitForOutput(
      [&](const std::string& out) {
        return out.find(peer) != std::string::npos && out.find("\"data\":\"six\\n\"") != std::string::npos &&
               out.find("TCP client connected to Port : " + std::to_string(port) + " from ::1") != std::string::npos;
      },
      kStepTimeout))
      << Dump(child);
  SocketClose(client);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << child.err();
}

TEST_F(LanFeedHostProcess, FramedLinesFromTwoClientsNameTheirSenders) {
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--framing", "line", "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);

  // Two clients, each bound to a port of its own, their lines split across sends.
  SocketHandle clients[2];
  std::string senders[2];
  for (int i = 0; i < 2; ++i) {
    clients[i] = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
    ASSERT_EQ(SocketBind(clients[i], MakeSocketAddress(kInaddrLoopback, 0)), 0);
    senders[i] = "127.0.0.1:" + std::to_string(SocketLocalPort(clients[i]));
    ASSERT_EQ(SocketConnect(clients[i], MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port))), 0);
  }
  const auto send = [&](int client, const std::string& bytes) {
    EXPECT_EQ(SocketSend(clients[client], bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
    std::this_thread::sleep_for(20ms);
  };
  send(0, "a1\na");
  send(1, "b1\nb2\n");
  send(0, "2\n");
  const auto deliveries = [](const std::string& out) {
    std::size_t count = 0;
    for (std::size_t at = out.find("\"event\":\"deliver\""); at != std::string::npos;
         at = out.find("\"event\":\"deliver\"", at + 1)) {
      ++count;
    }
    return count;
  };
  EXPECT_TRUE(child.WaitForOutput([&](const std::string& out) { return deliveries(out) == 4; }, kStepTimeout))
      << Dump(child);
  for (SocketHandle client : clients) SocketClose(client);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);

  std::vector<std::string> records;
  for (const std::string& line : child.OutLines()) {
    const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
    if (event.is_discarded() || event.value("event", std::string()) != "deliver") continue;
    records.push_back(event.value("data", std::string()) + " from " + event.value("peer", std::string("(none)")));
  }
  std::vector<std::string> fromA, fromB;
  for (const std::string& record : records) (record[0] == 'a' ? fromA : fromB).push_back(record);
  EXPECT_EQ(fromA, (std::vector<std::string>{"a1\n from " + senders[0], "a2\n from " + senders[0]})) << Dump(child);
  EXPECT_EQ(fromB, (std::vector<std::string>{"b1\n from " + senders[1], "b2\n from " + senders[1]})) << Dump(child);
}

TEST_F(LanFeedHostProcess, JsonLinesCarryTextAsTextAndOtherBytesAsBase64) {
  int port = FreePort(kSockDgram);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--udp", std::to_string(port), "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);

  const std::string kText = "h\xC3\xA9llo \"json\"\n\t\\ \xF0\x9F\x93\xA6";  // UTF-8, quotes, controls
  const std::string kBinary("\xFF\x00\x80" "abc", 6);                          // not UTF-8
  UdpSender sender;
  auto delivered = [&](const std::string& fragment) { return child.out().find(fragment) != std::string::npos; };
  // Both arrived: the binary datagram's line and a line with data (text
  // lines carry data_base64 as well).
  auto both = [&] { return delivered("\"data_base64\":\"/wCAYWJj\"") && delivered("\"data\":"); };
  for (int attempt = 0; attempt < 5 && !both(); ++attempt) {
    for (const std::string* datagram : {&kText, &kBinary}) sender.Send(port, *datagram);
    child.WaitForOutput([&](const std::string&) { return both(); }, 2s);
  }
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);

  const std::regex kTime(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z)");
  bool sawText = false;
  bool sawBinary = false;
  std::string previousEvent;
  for (const std::string& line : child.OutLines()) {
    nlohmann::json event;
    try {
      event = nlohmann::json::parse(line);
    } catch (const nlohmann::json::exception& failure) {
      ADD_FAILURE() << failure.what() << " in: " << line;
      continue;
    }
    ASSERT_TRUE(event.is_object()) << line;
    EXPECT_TRUE(std::regex_match(event.value("time", std::string()), kTime)) << line;
    std::string kind = event.value("event", std::string());
    EXPECT_TRUE(kind == "deliver" || kind == "feedback" || kind == "log" || kind == "status") << line;
    if (kind == "deliver") {
      EXPECT_EQ(previousEvent, "feedback") << "feedback comes right before each delivery";
      EXPECT_EQ(event.value("consumer", -1), 1);
      // data_base64 always; data as well for UTF-8 text.
      if (event.contains("data")) {
        EXPECT_EQ(event["data"], kText);
        EXPECT_EQ(event.value("data_base64", std::string()), host::Base64(kText)) << line;
        EXPECT_EQ(event["length"], kText.size());
        sawText = true;
      } else {
        EXPECT_EQ(event.value("data_base64", std::string()), "/wCAYWJj") << line;
        EXPECT_EQ(event["length"], kBinary.size());
        sawBinary = true;
      }
    }
    if (kind == "feedback") {
      EXPECT_EQ(event.value("beeper_freq", 0), 3000) << line;
      EXPECT_TRUE(event.contains("wave_file") && event["wave_file"].is_null()) << line;
    }
    previousEvent = kind;
  }
  EXPECT_TRUE(sawText) << Dump(child);
  EXPECT_TRUE(sawBinary) << Dump(child);
  EXPECT_NE(child.err().find("lanfeed-host: stopped: delivered "), std::string::npos) << child.err();
}

// Decodes standard base64; nothing for text that is not.
std::optional<std::string> FromBase64(const std::string& text) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    uint32_t value = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      char c = text[i + k];
      std::size_t digit = kAlphabet.find(c);
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++padding;
        digit = 0;
      } else if (digit == std::string::npos || padding > 0) {
        return std::nullopt;
      }
      value = value << 6 | static_cast<uint32_t>(digit);
    }
    for (int k = 0; k < 3 - padding; ++k) bytes += static_cast<char>((value >> (16 - 8 * k)) & 0xFF);
  }
  return bytes;
}

TEST_F(LanFeedHostProcess, JsonLinesCarryEveryBlockAsBase64WhereverAReceiveSplitsTheText) {
  // 600 KB of a three-byte character: TCP receives split it anywhere.
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);
  std::string received;
  std::size_t parsed = 0;  // bytes of stdout read as lines so far
  int deliveries = 0;
  int withData = 0;
  auto takeLines = [&](const std::string& out) {
    for (std::size_t end; (end = out.find('\n', parsed)) != std::string::npos; parsed = end + 1) {
      nlohmann::json event = nlohmann::json::parse(out.substr(parsed, end - parsed), nullptr, false);
      if (!event.is_object() || event.value("event", "") != "deliver") continue;
      ++deliveries;
      std::optional<std::string> bytes = FromBase64(event.value("data_base64", std::string("?")));
      EXPECT_TRUE(bytes.has_value()) << out.substr(parsed, std::min<std::size_t>(end - parsed, 200));
      if (!bytes) continue;
      EXPECT_EQ(event.value("length", std::size_t{0}), bytes->size());
      if (event.contains("data")) {
        EXPECT_EQ(event["data"].get<std::string>(), *bytes);
        ++withData;
      }
      received += *bytes;
    }
  };
  // First one whole character on a connection of its own: valid UTF-8,
  // so its line carries data as well.
  std::string sent = "\xE2\x82\xAC";
  {
    TcpClient client(port);
    ASSERT_TRUE(client.connected() && client.Send(sent));
    ASSERT_TRUE(child.WaitForOutput([&](const std::string& out) { takeLines(out); return received.size() >= 3; },
                                    kStepTimeout))
        << Dump(child);
  }
  std::string stream;
  for (int i = 0; i < 200000; ++i) stream += "\xE2\x82\xAC";
  sent += stream;
  std::atomic<bool> sentAll{false};
  std::thread sender([&] {
    TcpClient client(port);
    sentAll = client.connected() && client.Send(stream);
  });
  bool arrived = child.WaitForOutput(
      [&](const std::string& out) {
        takeLines(out);
        return received.size() >= sent.size();
      },
      60s);
  sender.join();
  ASSERT_TRUE(sentAll);
  EXPECT_TRUE(arrived) << received.size() << " of " << sent.size() << " bytes";
  EXPECT_TRUE(received == sent) << "the blocks' data_base64 put together are not the bytes sent";
  EXPECT_GT(deliveries, 2);
  EXPECT_GE(withData, 1);
  RequestStop(&child, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);
}

TEST_F(LanFeedHostProcess, AFloodOfOneErrorLineIsSummedUpAndCountedWhole) {
  // Datagrams larger than the plug-in's 8192-byte buffer: one error line each.
  for (const char* mode : {"text", "jsonl"}) {
    SCOPED_TRACE(mode);
    const bool text = std::string(mode) == "text";
    int port = FreePort(kSockDgram);
    ASSERT_NE(port, 0);
    ChildProcess child;
    StartHost(&child, {"--udp", std::to_string(port), "--output", mode});
    ASSERT_TRUE(child.WaitForOutput(
        [&](const std::string& out) {
          return out.find(text ? kListeningLine : "\"property\":2,\"value\":1}") != std::string::npos;
        },
        kStartTimeout))
        << Dump(child);
    {
      UdpSender sender;
      const std::string datagram(9000, 'x');
      for (int i = 0; i < 10000; ++i) {
        sender.Send(port, datagram);
        if (i % 20 == 19) std::this_thread::sleep_for(std::chrono::microseconds(500));  // few lost to a full buffer
      }
    }
    child.ReadFor(1500ms);  // the last summary comes within a second and a bit
    RequestStop(&child, StopRequest::kInterrupt);
    EXPECT_EQ(ExitCode(&child, kStepTimeout), 0);

    uint64_t written = 0;
    uint64_t summed = 0;
    const std::vector<std::string> lines = child.OutLines();
    for (const std::string& line : lines) {
      if (text) {
        if (line.rfind("log 1 Error reading data from UDP server socket", 0) == 0) ++written;
        if (line.rfind("last line repeated ", 0) == 0) summed += std::stoull(line.substr(19));
      } else {
        nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        std::string kind = event.is_object() ? event.value("event", "") : "";
        if (kind == "log" && event.value("level", 0) == 1 &&
            event.value("text", "").rfind("Error reading data from UDP server socket", 0) == 0) {
          ++written;
        }
        if (kind == "repeated") summed += event.value("count", uint64_t{0});
      }
    }
    std::smatch counted;
    ASSERT_TRUE(std::regex_search(child.err(), counted, std::regex(", ([0-9]+) error lines?")))
        << child.err();
    const uint64_t errorLines = std::stoull(counted[1]);
    EXPECT_GT(errorLines, 1000u) << "most datagrams arrive";
    EXPECT_EQ(written + summed, errorLines) << "every copy is in the count";
    EXPECT_LE(written, 40u);
    EXPECT_LT(lines.size(), 60u) << Dump(child);
    if (text) {
      // Every text line starts with the local time.
      const std::regex kStamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \S.*)");
      std::istringstream out(child.out());
      for (std::string line; std::getline(out, line);) EXPECT_TRUE(std::regex_match(line, kStamped)) << line;
    }
  }
}

TEST_F(LanFeedHostProcess, TakenPortEndsTheHostUnlessItKeepsRetrying) {
  // Another listener holds the port on all addresses, as the host's would
  // (and only this process: no child inherits it).
  SocketHandle holder = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  ASSERT_NE(holder, kInvalidSocket);
  ASSERT_EQ(SocketBind(holder, MakeSocketAddress(kInaddrAny, 0)), 0);
  ASSERT_EQ(SocketListen(holder, 1), 0);
  const int port = SocketLocalPort(holder);
  ASSERT_GT(port, 0);
  const std::string bindFailure =
      "Failed to bind the TCP socket. Port : " + std::to_string(port) + " Error : Address already in use..";

  // Without --keep-retrying the host ends right after the plug-in's error
  // line, not at its next attempt 5 s later.
  ChildProcess once;
  StartHost(&once, {"--tcp", std::to_string(port)});
  EXPECT_TRUE(once.WaitForOutput([](const std::string& out) { return out.find("log 1 ") != std::string::npos; },
                                 kStartTimeout))
      << Dump(once);
  auto reported = std::chrono::steady_clock::now();
  EXPECT_EQ(ExitCode(&once, kStepTimeout), 1);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - reported);
  EXPECT_TRUE(took < 2s) << "a taken port ends the host at once, not after " << took.count() << " ms";
  EXPECT_NE(once.err().find("lanfeed-host: cannot serve TCP port " + std::to_string(port) + ": " + bindFailure),
            std::string::npos)
      << Dump(once);
  EXPECT_NE(once.err().find("lanfeed-host: stopped: "), std::string::npos) << Dump(once);
  EXPECT_NE(once.err().find(", 1 error line\n"), std::string::npos) << "a real failure counts\n" << Dump(once);

  ChildProcess retrying;
  StartHost(&retrying, {"--tcp", std::to_string(port), "--keep-retrying"});
  ASSERT_TRUE(retrying.WaitForLine("log 1 " + bindFailure, kStartTimeout)) << Dump(retrying);
  SocketClose(holder);  // the next attempt, about 5 s after the first, succeeds
  ASSERT_TRUE(retrying.WaitForLine(kListeningLine, kStartTimeout)) << Dump(retrying);
  {
    TcpClient client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.Send("late\n"));
    EXPECT_TRUE(retrying.WaitForLine("deliver consumer=1 length=5 data=\"late\\n\"", kStepTimeout))
        << Dump(retrying);
  }
  RequestStop(&retrying, StopRequest::kInterrupt);
  EXPECT_EQ(ExitCode(&retrying, kStepTimeout), 0);
}

// Keeps sending small blocks on a connection until told to stop, the
// connection fails, or about 10 s have passed.
class TrickleSender {
 public:
  explicit TrickleSender(int port)
      : thread_([this, port] {
          TcpClient client(port);
          const std::string block(1000, 'x');
          for (int i = 0; client.connected() && i < 1000 && !stop_; ++i) {
            if (!client.Send(block)) break;
            std::this_thread::sleep_for(10ms);
          }
        }) {}
  ~TrickleSender() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(LanFeedHostProcess, ClosedStdoutEndsTheHost) {
  // As `lanfeed-host --output raw | head -c 100`.
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  ChildProcess child;
  child.CloseStdoutAfter(100);
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);
  TrickleSender sender(port);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 1) << "the host ends by itself";
  EXPECT_EQ(child.out(), std::string(100, 'x'));
  EXPECT_NE(child.err().find("lanfeed-host: stdout was closed by its reader"), std::string::npos) << child.err();
  EXPECT_NE(child.err().find("lanfeed-host: stopped: "), std::string::npos) << child.err();
}

TEST_F(LanFeedHostProcess, StdoutThatNeverReadsDoesNotHoldUpTheStop) {
  int port = FreePort(kSockStream);
  ASSERT_NE(port, 0);
  JoiningThread sender;
  ChildProcess child;
  child.StopReadingStdout();
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);

  // Send until nothing more goes: stdout's pipe, the host's queue and the
  // socket buffers are full, and a delivery is waiting for stdout. The
  // sender's last send blocks until the host has ended.
  std::atomic<std::size_t> sent{0};
  sender.thread = std::thread([&] {
    TcpClient client(port);
    const std::string block(65536, 'b');
    for (int i = 0; client.connected() && i < 2000 && client.Send(block); ++i) sent += block.size();
  });
  bool stalled = false;
  for (int window = 0; window < 60 && !stalled; ++window) {  // at most 30 s
    std::size_t before = sent;
    child.ReadFor(500ms);
    stalled = before > 0 && sent == before;
  }
  ASSERT_TRUE(stalled) << "the host kept taking data with stdout blocked: " << sent << " bytes";

  auto requested = std::chrono::steady_clock::now();
  RequestStop(&child, StopRequest::kInterrupt);
  int code = ExitCode(&child, kStepTimeout);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - requested);
  EXPECT_EQ(code, 1) << "output was lost";
  EXPECT_TRUE(took < 2s) << "the stop must end the host within 2 s, not " << took.count() << " ms";
  EXPECT_TRUE(std::regex_search(child.err(), std::regex("lanfeed-host: [1-9][0-9]* bytes could not be written to stdout")))
      << child.err();
  EXPECT_TRUE(TcpPortIsFree(port));
}

TEST_F(LanFeedHostProcess, BadOptionValuesAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--tcp", "65536"}, {"--tcp", "-1"},       {"--udp", "port"},           {"--timeout", "1.5"},
      {"--output", "xml"}, {"--tcp", "1", "--udp", "2"}, {"--tcp"},
      // Port 0 would serve on a port that nobody is told.
      {"--tcp", "0"},      {"--udp=0"},
      {"--check-config", "a.xml", "--config", "b.xml"},
  };
  for (const auto& args : cases) {
    ChildProcess child;
    StartHost(&child, args);
    EXPECT_EQ(ExitCode(&child, kStepTimeout), 2) << args[0];
    EXPECT_EQ(child.err().rfind("lanfeed-host: --", 0), 0u) << child.err();
    EXPECT_EQ(child.out(), "");
  }
}

// The version comes from the project's one version (CMakeLists.txt), as the
// package's and the libraries' version records do.
TEST_F(LanFeedHostProcess, VersionIsTheProjectsVersion) {
  ChildProcess child;
  StartHost(&child, {"--version"});
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << child.err();
  EXPECT_EQ(child.out(), "lanfeed-host " LANFEED_VERSION "\n");
}

}  // namespace
}  // namespace lanfeed::testing
