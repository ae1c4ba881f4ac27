// lanfeed-host as a separate process: writing the default configuration,
// refusing a malformed one or a bad command line, serving TCP and UDP in
// each output mode until a stop, a taken port, a closed or blocked stdout,
// reloading on SIGHUP, and running from its Debian package.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "host/config_tree.h"
#include "host/default_config.h"
#include "host/materialise_defaults.h"
#include "plugin/config/config_template.h"
#include "tests/config/device_read_cases.h"
#include "tests/host/child_process.h"

namespace lanfeed::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kStartTimeout = 15s;
constexpr auto kStepTimeout = 10s;

const std::string kHostBinary = LANFEED_HOST_BINARY;
const std::string kPluginFile = LANFEED_PLUGIN_FILE;

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "lanfeed-host-XXXXXX";
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    EXPECT_FALSE(path_.empty()) << "cannot create a temporary folder";
  }
  ~TempFolder() {
    for (const auto& file : files_) std::remove(file.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  std::string File(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A port on which nothing listens right now, for `type` (TCP or UDP).
int FreePort(int type) {
  int s = socket(AF_INET, type, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = 0;
  socklen_t size = sizeof(address);
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(s);
  return port;
}

// True when a new TCP listener can take `port` on all addresses again.
bool TcpPortIsFree(int port) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  int on = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));  // connections in TIME_WAIT do not count
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(static_cast<uint16_t>(port));
  bool free = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(s, 1) == 0;
  close(s);
  return free;
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// The materialised default configuration with another protocol and port.
std::string ConfigurationFor(int protocol, int port) {
  host::ConfigTree tree;
  EXPECT_EQ(WriteDefaultConfig(tree.root()), 0);
  host::MaterialiseDefaults(tree.root()->element());
  pugi::xml_node device = tree.root()->element().child("Device");
  device.child("Protocol").text().set(protocol);
  device.child("Port").text().set(port);
  return tree.ToXml();
}

std::string Dump(const ChildProcess& child) {
  std::string out = child.out().size() > 4096 ? child.out().substr(0, 4096) + "..." : child.out();
  return "stdout:\n" + out + "\nstderr:\n" + child.err();
}

// A connected TCP client of 127.0.0.1:port, or -1.
int ConnectTcp(int port) {
  int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(client);
    return -1;
  }
  return client;
}

bool SendAll(int socket, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

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

// Starts the host with `args` after --plugin; fails the test when it cannot.
void StartHost(ChildProcess* child, std::vector<std::string> args) {
  args.insert(args.begin(), {kHostBinary, "--plugin", kPluginFile});
  std::string error;
  ASSERT_TRUE(child->Start(args, &error)) << error;
}

const char kListeningLine[] = "status property=2 size=4 value=1 (listening)";

// The exit code, or -1 (with a failure) when the child did not exit normally in time.
int ExitCode(ChildProcess* child, std::chrono::milliseconds timeout) {
  int status = 0;
  if (!child->WaitForExit(timeout, &status)) {
    ADD_FAILURE() << "no exit in time\n" << Dump(*child);
    return -1;
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << "status " << status << "\n" << Dump(*child);
    return -1;
  }
  return WEXITSTATUS(status);
}

TEST(LanFeedHostProcess, WritesAnEditableDefaultConfiguration) {
  TempFolder folder;
  std::string file = folder.File("default.xml");
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile, "--write-default-config", file}, &error)) << error;
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << Dump(child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << Dump(child);
  EXPECT_EQ(child.out().find("log "), std::string::npos) << "nothing was started: " << Dump(child);

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

TEST(LanFeedHostProcess, RefusesMalformedConfigurationWithItsPosition) {
  TempFolder folder;
  std::string file = folder.File("broken.xml");
  WriteText(file, "<Plugin>\n  <Device>\n    <Port>5000</Prt>\n  </Device>\n</Plugin>\n");
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile, "--config", file}, &error)) << error;
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << Dump(child);
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(child.err().find(file + ":3:17: not well-formed XML"), std::string::npos) << Dump(child);
  EXPECT_EQ(child.out(), "") << "nothing may start";
}

TEST(LanFeedHostProcess, ServesTcpUntilSigterm) {
  int port = FreePort(SOCK_STREAM);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("tcp.xml");
  WriteText(file, ConfigurationFor(1, port));

  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile, "--config", file}, &error)) << error;
  ASSERT_TRUE(child.WaitForLine("status property=2 size=4 value=1 (listening)", kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("\"LAN Feed\" version 1.1 kind 10"), std::string::npos) << Dump(child);
  EXPECT_NE(child.out().find("TCP port " + std::to_string(port) + ", time-out 60 s"), std::string::npos)
      << Dump(child);

  int client = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << std::strerror(errno);
  const char kMessage[] = "hello\n\x01\"";
  ASSERT_EQ(send(client, kMessage, sizeof(kMessage) - 1, 0), static_cast<ssize_t>(sizeof(kMessage) - 1));
  const std::string kDelivery = "deliver consumer=1 length=8 data=\"hello\\x0a\\x01\\\"\"";
  EXPECT_TRUE(child.WaitForLine(kDelivery, kStepTimeout)) << Dump(child);
  close(client);

  std::vector<std::string> lines = child.OutLines();
  auto delivery = std::find(lines.begin(), lines.end(), kDelivery);
  ASSERT_NE(delivery, lines.begin());
  ASSERT_NE(delivery, lines.end());
  EXPECT_EQ(*(delivery - 1),
            "feedback flags=0x1 beeper=on time=300 freq=3000 volume=0 led=off time=0 color=0 wave=off path=(none) "
            "vibrator=off time=0")
      << "feedback comes right before the delivery";

  child.Signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << "no exit after SIGTERM\n" << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << Dump(child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << Dump(child);
  EXPECT_NE(child.out().find("\nstopping on SIGTERM\n"), std::string::npos) << Dump(child);
  EXPECT_NE(child.out().find("\nstopped\n"), std::string::npos) << Dump(child);
  EXPECT_TRUE(TcpPortIsFree(port)) << "port " << port << " still taken after the host stopped";
}

TEST(LanFeedHostProcess, ServesUdpUntilSigint) {
  int port = FreePort(SOCK_DGRAM);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("udp.xml");
  WriteText(file, ConfigurationFor(0, port));

  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile, "--config", file}, &error)) << error;
  ASSERT_TRUE(child.WaitForLine("status property=2 size=4 value=1 (listening)", kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("UDP port " + std::to_string(port)), std::string::npos) << Dump(child);

  int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = Loopback(port);
  const std::string kDatagram(300, 'u');
  const std::string kDelivery = "deliver consumer=1 length=300 data=\"" + std::string(200, 'u') + "... (100 more bytes)\"";
  // A datagram can be lost; send again (a bounded number of times) until one arrives.
  bool delivered = false;
  for (int attempt = 0; attempt < 5 && !delivered; ++attempt) {
    sendto(sender, kDatagram.data(), kDatagram.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    delivered = child.WaitForLine(kDelivery, 2s);
  }
  close(sender);
  EXPECT_TRUE(delivered) << Dump(child);

  child.Signal(SIGINT);
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << "no exit after SIGINT\n" << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << Dump(child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << Dump(child);
  EXPECT_NE(child.out().find("\nstopping on SIGINT\n"), std::string::npos) << Dump(child);
}

TEST(LanFeedHostProcess, RunsOnTheDefaultsWithoutConfiguration) {
  // Only checks what the host says it will do; the default port may be taken
  // on the machine that runs the tests (--keep-retrying then keeps the host
  // up), so nothing connects to it.
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile, "--keep-retrying"}, &error)) << error;
  ASSERT_TRUE(child.WaitForLineStartingWith("plug-in ", kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("configuration: defaults; TCP port 58627, time-out 60 s"), std::string::npos)
      << Dump(child);
  child.Signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << Dump(child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << Dump(child);
}

TEST(LanFeedHostProcess, RawOutputIsExactlyTheBytesOfTwoConnections) {
  int port = FreePort(SOCK_STREAM);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);

  // One connection after the other, each read back whole before the next
  // starts, so the expected output is their concatenation.
  constexpr std::size_t kHalf = 2 * 1024 * 1024;
  const std::string sent = RandomBytes(2 * kHalf, 20240501);
  for (int connection = 0; connection < 2; ++connection) {
    std::string_view part = std::string_view(sent).substr(connection * kHalf, kHalf);
    std::atomic<bool> sentAll{false};
    std::thread sender([&] {
      int client = ConnectTcp(port);
      sentAll = client >= 0 && SendAll(client, part);
      if (client >= 0) close(client);
    });
    bool arrived = child.WaitForOutput([&](const std::string& out) { return out.size() >= (connection + 1) * kHalf; },
                                       60s);
    sender.join();
    ASSERT_TRUE(sentAll) << "connection " << connection;
    ASSERT_TRUE(arrived) << child.out().size() << " bytes arrived\n" << child.err();
  }
  child.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << child.err();
  ASSERT_EQ(child.out().size(), sent.size()) << child.err();
  EXPECT_EQ(Fingerprint(child.out()), Fingerprint(sent)) << "stdout holds other bytes than were sent";
  EXPECT_NE(child.err().find("feedback flags=0x1 beeper=on"), std::string::npos) << "events go to stderr";
  EXPECT_NE(child.err().find("(" + std::to_string(sent.size()) + " bytes)"), std::string::npos)
      << "the stop summary counts every byte\n" << child.err();
}

TEST(LanFeedHostProcess, JsonLinesCarryTextAsTextAndOtherBytesAsBase64) {
  int port = FreePort(SOCK_DGRAM);
  ASSERT_NE(port, 0);
  ChildProcess child;
  StartHost(&child, {"--udp", std::to_string(port), "--output", "jsonl"});
  ASSERT_TRUE(child.WaitForOutput(
      [](const std::string& out) { return out.find("\"property\":2,\"value\":1}\n") != std::string::npos; },
      kStartTimeout))
      << Dump(child);

  const std::string kText = "h\xC3\xA9llo \"json\"\n\t\\ \xF0\x9F\x93\xA6";  // UTF-8, quotes, controls
  const std::string kBinary("\xFF\x00\x80" "abc", 6);                          // not UTF-8
  int sender = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = Loopback(port);
  auto delivered = [&](const std::string& fragment) { return child.out().find(fragment) != std::string::npos; };
  for (int attempt = 0; attempt < 5 && !(delivered("\"data_base64\"") && delivered("\"data\"")); ++attempt) {
    for (const std::string* datagram : {&kText, &kBinary}) {
      sendto(sender, datagram->data(), datagram->size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }
    child.WaitForOutput([&](const std::string&) { return delivered("\"data_base64\"") && delivered("\"data\""); },
                        2s);
  }
  close(sender);
  child.Signal(SIGINT);
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
      if (event.contains("data")) {
        EXPECT_EQ(event["data"], kText);
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

TEST(LanFeedHostProcess, TakenPortEndsTheHostUnlessItKeepsRetrying) {
  // Another listener holds the port on all addresses, as the host's would
  // (and only this process: no child inherits it).
  int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t size = sizeof(any);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof(any)), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&any), &size), 0);
  const int port = ntohs(any.sin_port);
  const std::string bindFailure =
      "Failed to bind the TCP socket. Port : " + std::to_string(port) + " Error : Address already in use..";

  auto began = std::chrono::steady_clock::now();
  ChildProcess once;
  StartHost(&once, {"--tcp", std::to_string(port)});
  EXPECT_EQ(ExitCode(&once, kStepTimeout), 1);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
  EXPECT_TRUE(took < 2s) << "a taken port ends the host at once, not after " << took.count() << " ms";
  EXPECT_NE(once.err().find("lanfeed-host: cannot serve TCP port " + std::to_string(port) + ": " + bindFailure),
            std::string::npos)
      << Dump(once);
  EXPECT_NE(once.err().find("lanfeed-host: stopped: "), std::string::npos) << Dump(once);

  ChildProcess retrying;
  StartHost(&retrying, {"--tcp", std::to_string(port), "--keep-retrying"});
  ASSERT_TRUE(retrying.WaitForLine("log 1 " + bindFailure, kStartTimeout)) << Dump(retrying);
  close(holder);  // the next attempt, about 5 s after the first, succeeds
  ASSERT_TRUE(retrying.WaitForLine(kListeningLine, kStartTimeout)) << Dump(retrying);
  int client = ConnectTcp(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(SendAll(client, "late\n"));
  EXPECT_TRUE(retrying.WaitForLine("deliver consumer=1 length=5 data=\"late\\x0a\"", kStepTimeout)) << Dump(retrying);
  close(client);
  retrying.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(&retrying, kStepTimeout), 0) << Dump(retrying);
}

// Keeps sending small blocks on a connection until told to stop, the
// connection fails, or about 10 s have passed.
class TrickleSender {
 public:
  explicit TrickleSender(int port)
      : thread_([this, port] {
          int client = ConnectTcp(port);
          const std::string block(1000, 'x');
          for (int i = 0; client >= 0 && i < 1000 && !stop_; ++i) {
            if (!SendAll(client, block)) break;
            std::this_thread::sleep_for(10ms);
          }
          if (client >= 0) close(client);
        }) {}
  ~TrickleSender() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(LanFeedHostProcess, ClosedStdoutEndsTheHost) {
  // As `lanfeed-host --output raw | head -c 100`.
  int port = FreePort(SOCK_STREAM);
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

TEST(LanFeedHostProcess, StdoutThatNeverReadsDoesNotHoldUpSigterm) {
  int port = FreePort(SOCK_STREAM);
  ASSERT_NE(port, 0);
  ChildProcess child;
  child.StopReadingStdout();
  StartHost(&child, {"--tcp", std::to_string(port), "--output", "raw"});
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);

  // Send until nothing more goes: stdout's pipe, the host's queue and the
  // socket buffers are full, and a delivery is waiting for stdout.
  int client = ConnectTcp(port);
  ASSERT_GE(client, 0);
  fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
  const std::string block(65536, 'b');
  std::size_t sent = 0;
  int refused = 0;
  for (int attempt = 0; attempt < 2000 && refused < 50; ++attempt) {
    ssize_t n = send(client, block.data(), block.size(), MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      refused = 0;
    } else {
      ++refused;
      child.ReadFor(10ms);
    }
  }
  ASSERT_GE(refused, 50) << "the host kept taking data with stdout blocked: " << sent << " bytes";

  auto signalled = std::chrono::steady_clock::now();
  child.Signal(SIGTERM);
  int code = ExitCode(&child, kStepTimeout);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled);
  close(client);
  EXPECT_EQ(code, 1) << "output was lost";
  EXPECT_TRUE(took < 2s) << "SIGTERM must end the host within 2 s, not " << took.count() << " ms";
  EXPECT_TRUE(std::regex_search(child.err(), std::regex("lanfeed-host: [1-9][0-9]* bytes could not be written to stdout")))
      << child.err();
  EXPECT_TRUE(TcpPortIsFree(port));
}

TEST(LanFeedHostProcess, SighupAppliesTheNewFeedbackOnTheSameConnection) {
  int port = FreePort(SOCK_STREAM);
  ASSERT_NE(port, 0);
  TempFolder folder;
  std::string file = folder.File("reload.xml");
  WriteText(file, ConfigurationFor(1, port));
  ChildProcess child;
  StartHost(&child, {"--config", file});
  ASSERT_TRUE(child.WaitForLine(kListeningLine, kStartTimeout)) << Dump(child);
  int client = ConnectTcp(port);
  ASSERT_GE(client, 0);

  // The feedback line right before the delivery of `word`.
  auto feedbackOf = [&](const std::string& word) -> std::string {
    std::string delivery = "deliver consumer=1 length=" + std::to_string(word.size()) + " data=\"" + word + "\"";
    if (!SendAll(client, word) || !child.WaitForLine(delivery, kStepTimeout)) return "(not delivered)";
    std::vector<std::string> lines = child.OutLines();
    auto at = std::find(lines.begin(), lines.end(), delivery);
    return at == lines.begin() ? "(none)" : *(at - 1);
  };
  EXPECT_NE(feedbackOf("one").find(" freq=3000 "), std::string::npos) << Dump(child);

  std::string changed = ConfigurationFor(1, port);
  std::size_t freq = changed.find(">3000</Freq>");
  ASSERT_NE(freq, std::string::npos) << changed;
  changed.replace(freq, 5, ">4321");
  WriteText(file, changed);
  child.Signal(SIGHUP);
  ASSERT_TRUE(child.WaitForLineStartingWith("re-read " + file + " on SIGHUP: TCP port " + std::to_string(port),
                                            kStepTimeout))
      << Dump(child);
  EXPECT_NE(feedbackOf("two").find(" freq=4321 "), std::string::npos) << Dump(child);

  WriteText(file, "<Plugin><Device>");
  child.Signal(SIGHUP);
  EXPECT_TRUE(child.WaitForError("lanfeed-host: SIGHUP: " + file, kStepTimeout)) << Dump(child);
  EXPECT_NE(child.err().find("; the running configuration stays"), std::string::npos) << child.err();
  EXPECT_NE(feedbackOf("three").find(" freq=4321 "), std::string::npos) << Dump(child);

  EXPECT_EQ(child.out().find("TCP client connection closed"), std::string::npos) << "the client stays connected";
  close(client);
  child.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << Dump(child);
}

TEST(LanFeedHostProcess, BadOptionValuesAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--tcp", "65536"}, {"--tcp", "-1"},       {"--udp", "port"},           {"--timeout", "1.5"},
      {"--output", "xml"}, {"--tcp", "1", "--udp", "2"}, {"--tcp"},
  };
  for (const auto& args : cases) {
    ChildProcess child;
    StartHost(&child, args);
    EXPECT_EQ(ExitCode(&child, kStepTimeout), 2) << args[0];
    EXPECT_EQ(child.err().rfind("lanfeed-host: --", 0), 0u) << child.err();
    EXPECT_EQ(child.out(), "");
  }
}

TEST(LanFeedHostPackage, RunsFromTheUnpackedDebianPackage) {
  namespace fs = std::filesystem;
  fs::path folder = fs::path(::testing::TempDir()) / ("lanfeed-package-" + std::to_string(getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  struct Cleanup {
    fs::path path;
    ~Cleanup() { fs::remove_all(path); }
  } cleanup{folder};

  ChildProcess cpack;
  std::string error;
  ASSERT_TRUE(cpack.Start({LANFEED_CPACK_COMMAND, "--config", LANFEED_CPACK_CONFIG, "-B", folder.string()}, &error))
      << error;
  ASSERT_EQ(ExitCode(&cpack, 120s), 0) << Dump(cpack);
  fs::path package;
  for (const auto& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("lanfeed_" LANFEED_VERSION "_", 0) == 0 && entry.path().extension() == ".deb") package = entry.path();
  }
  ASSERT_FALSE(package.empty()) << "no lanfeed_" LANFEED_VERSION "_<arch>.deb\n" << Dump(cpack);

  fs::path root = folder / "root";
  ChildProcess unpack;
  ASSERT_TRUE(unpack.Start({"/usr/bin/dpkg-deb", "-x", package.string(), root.string()}, &error)) << error;
  ASSERT_EQ(ExitCode(&unpack, 60s), 0) << Dump(unpack);
  EXPECT_TRUE(fs::exists(root / "usr/lib/lanfeed/LanFeedPlugin.so"));
  EXPECT_TRUE(fs::exists(root / "usr/share/doc/lanfeed/README.md"));

  // Started through a link in another folder, as through PATH: the host
  // finds the plug-in from where it really is.
  fs::create_directories(folder / "links");
  fs::create_symlink(root / "usr/bin/lanfeed-host", folder / "links/lanfeed-host");
  int port = FreePort(SOCK_STREAM);
  ASSERT_NE(port, 0);
  ChildProcess child;
  ASSERT_TRUE(child.Start({(folder / "links/lanfeed-host").string(), "--tcp", std::to_string(port), "--output", "raw"},
                          &error))
      << error;
  ASSERT_TRUE(child.WaitForError(kListeningLine, kStartTimeout)) << Dump(child);
  EXPECT_NE(child.err().find((root / "usr/bin/../lib/lanfeed/LanFeedPlugin.so").string()), std::string::npos)
      << child.err();
  int client = ConnectTcp(port);
  ASSERT_GE(client, 0);
  ASSERT_TRUE(SendAll(client, "from the package\n"));
  EXPECT_TRUE(child.WaitForOutput([](const std::string& out) { return out == "from the package\n"; }, kStepTimeout))
      << Dump(child);
  close(client);
  child.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(&child, kStepTimeout), 0) << Dump(child);
}

}  // namespace
}  // namespace lanfeed::testing
