// What the tests that run lanfeed-host as a separate process share: where
// the built host is, temporary folders, loopback clients through the
// platform's sockets service, a configuration for a port, and the bounded
// waits for the host's exit.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sockets.h"
#include "tests/host/child_process.h"

namespace lanfeed::testing {

using namespace std::chrono_literals;

inline constexpr auto kStartTimeout = 15s;
inline constexpr auto kStepTimeout = 10s;
inline constexpr char kListeningLine[] = "status property=2 size=4 value=1 (listening)";

// lanfeed-host and the plug-in in the build's bin/ folder (UTF-8 paths).
const std::string& HostBinary();
const std::string& PluginFile();

// The sockets service runs during each test, for the test's own clients.
class LanFeedHostProcess : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(SocketsStartup(), 0); }
  void TearDown() override { SocketsCleanup(); }
};

// UTF-8 text <-> path, on every system (a narrow path on Windows would be
// read in the ANSI code page).
std::filesystem::path PathOf(const std::string& utf8);
std::string Utf8(const std::filesystem::path& path);

// A new folder of its own under the system's temporary folder, removed with
// everything in it afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The UTF-8 path of `name` (UTF-8) in the folder.
  std::string File(const std::string& name) const;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);

// A port on which nothing listens right now, for `type` (kSockStream or kSockDgram).
int FreePort(int32_t type);
// True when a new TCP listener can take `port` on all addresses again.
bool TcpPortIsFree(int port);

// A connected TCP client of 127.0.0.1:port; closed by the destructor.
class TcpClient {
 public:
  explicit TcpClient(int port);
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;
  bool connected() const { return socket_ != kInvalidSocket; }
  // Sends all of `bytes`, blocking while the peer does not take them.
  bool Send(std::string_view bytes);
  void Close();

 private:
  SocketHandle socket_ = kInvalidSocket;
};

// Sends datagrams to 127.0.0.1; closed by the destructor.
class UdpSender {
 public:
  UdpSender();
  ~UdpSender();
  UdpSender(const UdpSender&) = delete;
  UdpSender& operator=(const UdpSender&) = delete;
  bool Send(int port, std::string_view bytes);

 private:
  SocketHandle socket_ = kInvalidSocket;
};

// The materialised default configuration with another protocol and port.
std::string ConfigurationFor(int protocol, int port);

// stdout (its first 4 KiB) and stderr, for failure messages.
std::string Dump(const ChildProcess& child);

// Starts the host with `args` after --plugin; fails the test when it cannot.
void StartHost(ChildProcess* child, std::vector<std::string> args);

// Test names and messages show a request by its name.
inline void PrintTo(StopRequest request, std::ostream* out) { *out << ChildProcess::StopName(request); }

// True when stdout holds a whole line equal to `line` (time stamps left out).
bool HasLine(const ChildProcess& child, const std::string& line);

// Sends `request`; fails the test when it cannot be delivered.
void RequestStop(ChildProcess* child, StopRequest request);
// The host's line for a stop on `request`: "stopping on SIGINT", ...
std::string StoppingLine(StopRequest request);

// The exit code, or -1 (with a failure) when the child did not exit by
// itself in time.
int ExitCode(ChildProcess* child, std::chrono::milliseconds timeout);

}  // namespace lanfeed::testing
