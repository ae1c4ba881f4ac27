#include "plugin/servers/socket_server.h"

#include <new>

#include "plugin/config/feedback_params.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_server.h"
#include "plugin/servers/udp_server.h"

namespace lanfeed {

SocketServer::~SocketServer() = default;

void SocketServer::AssignSettings(const DeviceSettings& source) {
  AutoLock guard(settingsLock);
  settings = source;
}

int32_t SocketServer::SettingsProtocol() const {
  AutoLock guard(settingsLock);
  return settings.Protocol;
}

int32_t SocketServer::SettingsPort() const {
  AutoLock guard(settingsLock);
  return settings.Port;
}

int32_t SocketServer::SettingsTcpTimeout() const {
  AutoLock guard(settingsLock);
  return settings.TCPTimeout;
}

int32_t SocketServer::StartLibraryAndEvents(format_detail::CheckedFormat<const WChar*> failure) {
  int32_t code = SocketsStartup();
  if (code == 0) code = CreateMissingEvents();
  if (code != 0) {
    const SocketErrorText error(code);
    LogLineBuffer line;
    FormatLine(line, failure, static_cast<const WChar*>(error.text));
    Log(kLogError, line);
    return 0;
  }
  libraryStarts.fetch_add(1);
  stopping.store(false);
  return 1;
}

int32_t SocketServer::CreateMissingEvents() {
  try {
    if (!stopEvent) stopEvent = std::make_unique<ManualResetEvent>();
    if (!startEvent) startEvent = std::make_unique<ManualResetEvent>();
  } catch (const std::bad_alloc&) {
    // Without both events no worker can run: undo the start and fail.
    stopEvent.reset();
    SocketsCleanup();
    return kWsaEnobufs;
  }
  return 0;
}

void SocketServer::StopWorker() {
  // `stopping` before the socket is looked at: a worker that opens a socket
  // after this load of listenSocket sees `stopping` and never serves it.
  stopping.store(true);
  if (stopEvent) stopEvent->Set();
  if (IsSocketOpen()) CloseSocket();
  if (workerThread.IsStarted()) workerThread.Join();
  // A socket that the worker opened while this ran, or a state it left
  // Listening, is closed now that the worker is gone.
  if (IsSocketOpen() || State() == kServerListening) CloseSocket();
}

void SocketServer::ReleaseEventsAndLibrary() {
  startEvent.reset();
  stopEvent.reset();
  for (int32_t starts = libraryStarts.exchange(0); starts > 0; --starts) SocketsCleanup();
}

void SocketServer::WakeWorker() {
  if (!stopEvent || !startEvent) return;
  // A worker that cannot be created leaves the server idle; the next Start
  // on a closed socket tries again.
  if (!workerThread.IsStarted()) workerThread.Start(&SocketServer::WorkerThread, this);
  startEvent->Set();
}

bool SocketServer::CloseListenSocket() {
  const SocketHandle socket = listenSocket.exchange(kInvalidSocket);
  socketBound.store(false);
  socketReady.store(false);
  if (socket == kInvalidSocket) return false;
  SocketClose(socket);
  return true;
}

SocketHandle SocketServer::CurrentListenSocket() const {
  const SocketHandle socket = listenSocket.load();
  if (socket == kInvalidSocket) SetSocketLastError(kWsaEnotsock);
  return socket;
}

void SocketServer::FillLocalAddress(int32_t port) {
  localAddress = SocketAddressIn{};
  localAddress.family = static_cast<uint16_t>(kAfInet);
  localAddress.port = HostToNetShort(static_cast<uint16_t>(port & 0xFFFF));
  localAddress.address = 0;
}

void SocketServer::DispatchToPlugin(const uint8_t* data, int32_t length) {
  if (data == nullptr || length <= 0) return;
  InputPlugin* plugin = CurrentPlugin.load();
  if (plugin == nullptr) return;
  {
    AutoLock guard(settingsLock);
    FeedbackParams feedback = settings.Feedback;
    plugin->PlayFeedback(&feedback);
  }
  plugin->DeliverData(data, static_cast<uint32_t>(length));
}

void SocketServer::PublishCurrentStatus() {
  InputPlugin* plugin = CurrentPlugin.load();
  if (plugin != nullptr) plugin->PublishStatus();
}

void SocketServer::Log(LogLevel level, const WChar* text) { LogCurrent(level, text); }

bool SocketServer::IsReopenCode(int32_t code) {
  return code == kWsaEintr || code == kWsaEinval || code == kWsaEnetdown ||
         code == kWsaNotinitialised;
}

uint32_t SocketServer::WorkerThread(void* argument) {
  if (argument == nullptr) return 0;
  return static_cast<SocketServer*>(argument)->RunWorker();
}

// The worker protocol: wait for stop or start (stop wins); on start open the
// socket, retrying every kOpenRetryMs while that fails, and serve it until
// the serve loop ends. The reopen codes close the socket and set the start
// event, so the next round opens a new one at once; any other code leaves
// the worker waiting for the stop event or the next Start on a closed socket.
uint32_t SocketServer::RunWorker() {
  ManualResetEvent& stop = *stopEvent;
  ManualResetEvent& start = *startEvent;
  for (;;) {
    const WaitResult woken = WaitForEither(stop, start, kWaitForever);
    if (woken == WaitResult::kFirst) return 0;
    if (woken != WaitResult::kSecond) {
      if (!RetryFailedWait()) return 0;
      SleepMs(100);  // a failing wait must not turn into a busy loop
      continue;
    }
    if (OpenSocket() == 0) {
      stop.Wait(kOpenRetryMs);
      continue;
    }
    // Uninitialize is under way and may have missed the socket just opened:
    // leave it to Uninitialize, which closes it once this thread has ended.
    if (stopping.load()) continue;
    const int32_t code = ServeLoop();
    if (IsReopenCode(code)) {
      CloseSocket();
      start.Set();
    }
  }
}

SocketServer* CreateSocketServer(int32_t protocol) {
  if (protocol == kProtocolUdp) return new (std::nothrow) UdpServer();
  return new (std::nothrow) TcpServer();
}

}  // namespace lanfeed
