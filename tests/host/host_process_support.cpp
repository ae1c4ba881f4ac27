#include "tests/host/host_process_support.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "host/config_tree.h"
#include "host/host_os.h"
#include "host/materialise_defaults.h"
#include "plugin/config/config_template.h"

#ifndef LANFEED_BIN_FROM_TESTS
#error "the build defines LANFEED_BIN_FROM_TESTS, the bin/ folder relative to this program's folder"
#endif

namespace lanfeed::testing {

namespace fs = std::filesystem;

namespace {
// The build's bin/ folder, found from this program's own path so that the
// tests run wherever the build tree is (under Wine too, where the build's
// own paths are Unix paths).
fs::path BinFolder() {
  fs::path program = PathOf(host::os::ExecutablePath());
  return (program.parent_path() / LANFEED_BIN_FROM_TESTS).lexically_normal();
}

SocketAddress Loopback(int port) { return MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port)); }
}  // namespace

const std::string& HostBinary() {
  static const std::string path = Utf8(BinFolder() / LANFEED_HOST_FILE_NAME);
  return path;
}

const std::string& PluginFile() {
  static const std::string path = Utf8(BinFolder() / host::os::PluginFileName());
  return path;
}

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8(const fs::path& path) {
  std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

TempFolder::TempFolder() {
  std::random_device random;
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  for (int attempt = 0; attempt < 10 && path_.empty() && !error; ++attempt) {
    fs::path candidate = base / ("lanfeed-host-" + std::to_string(random()) + std::to_string(random()));
    if (fs::create_directory(candidate, error)) path_ = candidate;
  }
  EXPECT_FALSE(path_.empty()) << "cannot create a temporary folder: " << error.message();
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string TempFolder::File(const std::string& name) const { return Utf8(path_ / PathOf(name)); }

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(PathOf(path), std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

int FreePort(int32_t type) {
  SocketHandle s = SocketCreate(kAfInet, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
  if (s == kInvalidSocket) return 0;
  int port = 0;
  if (SocketBind(s, MakeSocketAddress(kInaddrAny, 0)) == 0) port = SocketLocalPort(s);
  SocketClose(s);
  return port > 0 ? port : 0;
}

bool TcpPortIsFree(int port) {
  SocketHandle s = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  if (s == kInvalidSocket) return false;
  bool free = SocketBind(s, MakeSocketAddress(kInaddrAny, static_cast<uint16_t>(port))) == 0 &&
              SocketListen(s, 1) == 0;
  SocketClose(s);
  return free;
}

TcpClient::TcpClient(int port) {
  socket_ = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  if (socket_ != kInvalidSocket && SocketConnect(socket_, Loopback(port)) != 0) Close();
}

bool TcpClient::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    int32_t chunk = static_cast<int32_t>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (SocketSend(socket_, bytes.data(), chunk) != chunk) return false;
    bytes.remove_prefix(static_cast<std::size_t>(chunk));
  }
  return true;
}

void TcpClient::Close() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
  socket_ = kInvalidSocket;
}

UdpSender::UdpSender() : socket_(SocketCreate(kAfInet, kSockDgram, kIpprotoUdp)) {}

UdpSender::~UdpSender() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
}

bool UdpSender::Send(int port, std::string_view bytes) {
  return SocketSendTo(socket_, bytes.data(), static_cast<int32_t>(bytes.size()), Loopback(port)) ==
         static_cast<int32_t>(bytes.size());
}

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

void StartHost(ChildProcess* child, std::vector<std::string> args) {
  args.insert(args.begin(), {HostBinary(), "--plugin", PluginFile()});
  std::string error;
  ASSERT_TRUE(child->Start(args, &error)) << error;
}

void RequestStop(ChildProcess* child, StopRequest request) {
  std::string reason;
  EXPECT_TRUE(child->RequestStop(request, &reason)) << reason;
}

bool HasLine(const ChildProcess& child, const std::string& line) {
  std::vector<std::string> lines = child.OutLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string StoppingLine(StopRequest request) {
  return std::string("stopping on ") + ChildProcess::StopName(request);
}

int ExitCode(ChildProcess* child, std::chrono::milliseconds timeout) {
  ExitStatus status;
  if (!child->WaitForExit(timeout, &status)) {
    ADD_FAILURE() << "no exit in time\n" << Dump(*child);
    return -1;
  }
  if (!status.exited) {
    ADD_FAILURE() << status.text << "\n" << Dump(*child);
    return -1;
  }
  return status.code;
}

}  // namespace lanfeed::testing
