#include "server_test_support.h"

#if defined(__linux__)
#include <dirent.h>
#elif defined(_WIN32)
#include <windows.h>
#include <tlhelp32.h>
#endif

#include <thread>

#include "platform/text.h"

namespace lanfeed::testing {

namespace {
SocketAddress Loopback(int32_t port) {
  return MakeSocketAddress(kInaddrLoopback, static_cast<uint16_t>(port));
}

#if !defined(_WIN32)
int CountDirectoryEntries(const char* path) {
#if defined(__linux__)
  DIR* dir = opendir(path);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - (std::string(path) == "/proc/self/fd" ? 1 : 0);  // the DIR's own
#else
  (void)path;
  return -1;
#endif
}
#endif
}  // namespace

int32_t FreePort(int32_t type, int32_t family) {
  SocketHandle s = SocketCreate(family, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
  if (s == kInvalidSocket) return -1;
  int32_t port = -1;
  if (SocketBind(s, family == kAfInet6 ? Ipv6Loopback(0) : Loopback(0)) == 0) port = SocketLocalPort(s);
  SocketClose(s);
  return port;
}

void SenderRecord::Add(const std::string& text) {
  std::lock_guard<std::mutex> guard(mutex_);
  texts_.push_back(text);
}

std::vector<std::string> SenderRecord::Texts() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return texts_;
}

std::shared_ptr<SenderRecord> RecordSenders(RecordingHost& host) {
  auto record = std::make_shared<SenderRecord>();
  host.SetDeliverHook([record](const InputDataRecord&) {
    char text[kPeerTextCapacity];
    CopyDeliveryPeer(text, sizeof text);
    record->Add(text);
  });
  return record;
}

bool Ipv6LoopbackAvailable(int32_t type, std::string* why) {
  const SocketHandle s = SocketCreate(kAfInet6, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
  if (s == kInvalidSocket) {
    *why = "this system has no IPv6 sockets (error " + std::to_string(SocketLastError()) + ")";
    return false;
  }
  const bool bound = SocketBind(s, Ipv6Loopback(0)) == 0;
  if (!bound) *why = "this machine has no ::1 (bind error " + std::to_string(SocketLastError()) + ")";
  SocketClose(s);
  return bound;
}

TestClient::TestClient(const SocketAddress& target) {
  socket_ = SocketCreate(target.family, kSockStream, kIpprotoTcp);
  connected_ = socket_ != kInvalidSocket && SocketConnect(socket_, target) == 0;
}

TestClient::TestClient(int32_t port) {
  socket_ = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  connected_ = socket_ != kInvalidSocket && SocketConnect(socket_, Loopback(port)) == 0;
}

TestClient::TestClient(int32_t port, uint32_t target, uint32_t source) {
  socket_ = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
  if (socket_ == kInvalidSocket) return;
  if (source != 0 && SocketBind(socket_, MakeSocketAddress(source, 0)) != 0) return;
  connected_ = SocketConnect(socket_, MakeSocketAddress(target, static_cast<uint16_t>(port))) == 0;
}

TestClient::~TestClient() { Close(); }

bool TestClient::Send(const std::string& bytes) {
  return SocketSend(socket_, bytes.data(), static_cast<int32_t>(bytes.size())) ==
         static_cast<int32_t>(bytes.size());
}

bool TestClient::WaitClosedByServer(std::chrono::milliseconds timeout) {
  if (socket_ == kInvalidSocket) return false;
  if (SocketWaitReadable(socket_, timeout.count()) != 1) return false;
  char byte;
  return SocketRecv(socket_, &byte, 1) <= 0;  // the server never sends
}

void TestClient::Close() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
  socket_ = kInvalidSocket;
  connected_ = false;
}

UdpSender::~UdpSender() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
}

bool UdpSender::SendTo(uint32_t target, int32_t port, const std::string& bytes) {
  if (socket_ == kInvalidSocket) {
    socket_ = SocketCreate(kAfInet, kSockDgram, kIpprotoUdp);
    if (source_ != 0 && SocketBind(socket_, MakeSocketAddress(source_, 0)) != 0) return false;
  }
  return SocketSendTo(socket_, bytes.data(), static_cast<int32_t>(bytes.size()),
                      MakeSocketAddress(target, static_cast<uint16_t>(port))) ==
         static_cast<int32_t>(bytes.size());
}

bool UdpSender::SendTo(const SocketAddress& target, const std::string& bytes) {
  if (socket_ == kInvalidSocket) socket_ = SocketCreate(target.family, kSockDgram, kIpprotoUdp);
  return SocketSendTo(socket_, bytes.data(), static_cast<int32_t>(bytes.size()), target) ==
         static_cast<int32_t>(bytes.size());
}

PortHolder::PortHolder(int32_t type, int32_t port) {
  socket_ = SocketCreate(kAfInet, type, type == kSockStream ? kIpprotoTcp : kIpprotoUdp);
  if (socket_ == kInvalidSocket) return;
  bool ok = SocketBind(socket_, MakeSocketAddress(kInaddrAny, static_cast<uint16_t>(port))) == 0;
  if (ok && type == kSockStream) ok = SocketListen(socket_, 4) == 0;
  if (!ok) Release();
}

void PortHolder::Release() {
  if (socket_ != kInvalidSocket) SocketClose(socket_);
  socket_ = kInvalidSocket;
}

#if defined(_WIN32)
int CountOpenDescriptors() {
  // Every process holds some handles; a count of 0 means the system does not
  // tell (Wine's GetProcessHandleCount always reports 0).
  DWORD handles = 0;
  if (!GetProcessHandleCount(GetCurrentProcess(), &handles) || handles == 0) return -1;
  return static_cast<int>(handles);
}
int CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD self = GetCurrentProcessId();
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
  return count;
}
#else
int CountOpenDescriptors() { return CountDirectoryEntries("/proc/self/fd"); }
int CountThreads() {
  // A sanitizer runtime starts a thread of its own with the first thread the
  // process creates; have that happen before counting.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return CountDirectoryEntries("/proc/self/task");
}
#endif

const char* const kDescriptorsNotCounted =
    "descriptors not counted: the system does not report the process's open handles (Wine)";

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string Info(const std::string& text) { return "3 " + text; }
std::string Error(const std::string& text) { return "1 " + text; }

int FindLine(const std::vector<std::string>& lines, const std::string& line, int from) {
  for (int i = from; i < static_cast<int>(lines.size()); ++i) {
    if (lines[i] == line) return i;
  }
  return -1;
}

std::size_t CountLinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::size_t count = 0;
  for (const auto& line : lines) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

void ServerTest::SetUp() {
  ASSERT_EQ(SocketsStartup(), 0);
  plugin.Initialize(&host);
}

void ServerTest::TearDown() {
  plugin.Uninitialize();
  ClearSocketFaults();
  FailThreadStartsForTesting(0);
  FailEventWaitsForTesting(0);
  SocketsCleanup();
  EXPECT_EQ(host.overlappingDeliveries(), 0);
}

SocketServer* ServerTest::Configure(int32_t protocol, int32_t serverPort, int32_t timeout) {
  port = serverPort;
  settings.Enabled = 1;
  settings.Protocol = protocol;
  settings.Port = serverPort;
  settings.TCPTimeout = timeout;
  settings.ResetFeedback();
  settings.Feedback.Flags = kFeedbackBeeper | kFeedbackWaveFile;
  settings.Feedback.BeeperTime = 120;
  static const WChar kWave[] = LF_TEXT("\\Windows\\ding.wav");
  settings.Feedback.WaveFilePath = new WChar[WStrLen(kWave) + 1];
  WStrCopy(settings.Feedback.WaveFilePath, WStrLen(kWave) + 1, kWave);
  plugin.ApplySettings(settings);
  return plugin.server();
}

void ServerTest::UseFastOpenRetry() {
  ASSERT_NE(plugin.server(), nullptr);
  plugin.server()->SetOpenRetryMsForTesting(kFastOpenRetryMs);
}

void ServerTest::Reconfigure(int32_t timeout) {
  settings.TCPTimeout = timeout;
  plugin.ApplySettings(settings);
}

bool ServerTest::WaitLog(const std::string& line, std::size_t count,
                         std::chrono::milliseconds timeout) const {
  return host.WaitFor(
      [&](const std::vector<RecordedCall>& calls) {
        std::size_t n = 0;
        for (const auto& c : calls) {
          if (c.kind == RecordedCall::Kind::kLog && std::to_string(c.level) + " " + c.text == line) ++n;
        }
        return n >= count;
      },
      timeout);
}

bool ServerTest::WaitLogPrefix(const std::string& prefix, std::size_t count,
                               std::chrono::milliseconds timeout) const {
  return host.WaitFor(
      [&](const std::vector<RecordedCall>& calls) {
        std::size_t n = 0;
        for (const auto& c : calls) {
          if (c.kind == RecordedCall::Kind::kLog && (std::to_string(c.level) + " " + c.text).rfind(prefix, 0) == 0) ++n;
        }
        return n >= count;
      },
      timeout);
}

void ServerTest::ExpectFeedbackBeforeEachDelivery() const {
  const RecordedCall* previous = nullptr;
  for (const auto& call : host.Calls()) {
    if (call.kind == RecordedCall::Kind::kDeliver) {
      ASSERT_NE(previous, nullptr) << "a delivery without a feedback request";
      EXPECT_EQ(previous->kind, RecordedCall::Kind::kFeedback) << "two deliveries in a row";
      EXPECT_EQ(previous->thread, call.thread) << "feedback and delivery from different readers";
      EXPECT_EQ(previous->feedback.BeeperTime, 120);
      EXPECT_EQ(previous->wavePath, "\\Windows\\ding.wav");
    }
    if (call.kind == RecordedCall::Kind::kDeliver || call.kind == RecordedCall::Kind::kFeedback) {
      previous = &call;
    }
  }
}

}  // namespace lanfeed::testing
