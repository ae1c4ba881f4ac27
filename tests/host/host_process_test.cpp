// lanfeed-host as a separate process: writing the default configuration,
// refusing a malformed one, and serving TCP and UDP until a stop signal.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

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

std::string Dump(const ChildProcess& child) { return "stdout:\n" + child.out() + "stderr:\n" + child.err(); }

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
  // on the machine that runs the tests, so nothing connects to it.
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start({kHostBinary, "--plugin", kPluginFile}, &error)) << error;
  ASSERT_TRUE(child.WaitForLineStartingWith("plug-in ", kStartTimeout)) << Dump(child);
  EXPECT_NE(child.out().find("configuration: defaults; TCP port 58627, time-out 60 s"), std::string::npos)
      << Dump(child);
  child.Signal(SIGTERM);
  int status = 0;
  ASSERT_TRUE(child.WaitForExit(kStepTimeout, &status)) << Dump(child);
  ASSERT_TRUE(WIFEXITED(status)) << Dump(child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << Dump(child);
}

}  // namespace
}  // namespace lanfeed::testing
