#include "plugin/servers/socket_server.h"

#include <cstring>
#include <new>

#include "plugin/config/feedback_params.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/delivery_peer.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_server.h"
#include "plugin/servers/udp_server.h"

namespace lanfeed {

namespace {
// How long the UDP worker pauses after its wait on the two events failed.
constexpr uint32_t kFailedWaitPauseMs = 100;

// A new event, or null when the system cannot create one.
std::unique_ptr<ManualResetEvent> MakeEvent() {
  std::unique_ptr<ManualResetEvent> event(new (std::nothrow) ManualResetEvent());
  if (event && !event->IsValid()) event.reset();
  return event;
}
}  // namespace

SocketServer::~SocketServer() = default;

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
  if (stopEvent && startEvent) return 0;
  std::unique_ptr<ManualResetEvent> stop = MakeEvent();
  std::unique_ptr<ManualResetEvent> start = stop ? MakeEvent() : nullptr;
  if (!stop || !start) {
    // Without both events no worker could ever be stopped: fail instead.
    SocketsCleanup();
    return kWsaEnobufs;
  }
  stopEvent = std::move(stop);
  startEvent = std::move(start);
  return 0;
}

void SocketServer::UninitializeIfNeeded() {
  if (IsSocketOpen() || workerThread.IsStarted() || libraryStarts.load() > 0) Uninitialize();
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
  // A worker that could not be joined (Uninitialize called on the worker
  // itself, from a host callback) still uses the events.
  if (workerThread.IsStarted()) return;
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

int32_t SocketServer::OpenSocketSteps(const OpenSocketLines& lines) {
  const int32_t port = SettingsPort();
  LogLineBuffer line;
  if (listenSocket.load() == kInvalidSocket) {
    // The family of the address to serve; a change of address moves the
    // server (a new socket), so the socket's family always fits it.
    const int32_t family = settings.Acquire()->BindAddress.family == kNetIpv6 ? kAfInet6 : kAfInet;
    const SocketHandle created = SocketCreate(family, lines.type, lines.protocol);
    if (created == kInvalidSocket) {
      const SocketErrorText error(SocketLastError());
      FormatLine(line, lines.createFailed, port, static_cast<const WChar*>(error.text));
      Log(kLogError, line);
    } else {
      socketBound.store(false);
      socketReady.store(false);
      listenSocket.store(created);
      FormatLine(line, lines.created, port);
      Log(kLogInfo, line);
    }
  } else if (lines.alreadyOpen != nullptr) {
    FormatLine(line, *lines.alreadyOpen, port);
    Log(kLogInfo, line);
  }

  int32_t result = 0;
  const SocketHandle socket = listenSocket.load();
  if (socket != kInvalidSocket) {
    // A socket bound by an earlier attempt (whose listen failed, or which is
    // served as it is) is not bound again: a second bind would fail for good.
    bool bound = socketBound.load();
    if (!bound) {
      FillLocalAddress(port, settings.Acquire()->BindAddress);
      if (SocketBind(socket, localAddress) != 0) {
        const SocketErrorText error(SocketLastError());
        FormatLine(line, lines.bindFailed, port, static_cast<const WChar*>(error.text));
        Log(kLogError, line);
      } else {
        bound = true;
        socketBound.store(true);
        FormatLine(line, lines.bound, port);
        Log(kLogInfo, line);
      }
    }
    bool ready = bound;
    if (bound && lines.listen != nullptr) {
      ready = SocketListen(socket, kSomaxconn) == 0;
      if (!ready) {
        const SocketErrorText error(SocketLastError());
        FormatLine(line, lines.listen->failed, port, static_cast<const WChar*>(error.text));
        Log(kLogError, line);
      }
    }
    if (ready) {
      socketReady.store(true);
      state.store(kServerListening);
      startEvent->Reset();
      result = 1;
      if (lines.listen != nullptr) {
        FormatLine(line, lines.listen->listening, port);
        Log(kLogInfo, line);
      }
    }
  }
  PublishCurrentStatus();
  return result;
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

void SocketServer::FillLocalAddress(int32_t port, const NetAddress& bind) {
  localAddress = SocketAddress{};
  localAddress.family = static_cast<uint16_t>(bind.family == kNetIpv6 ? kAfInet6 : kAfInet);
  localAddress.port = HostToNetShort(static_cast<uint16_t>(port & 0xFFFF));
  // Network order as written; all 0 (every address) when absent.
  if (bind.family != kNetNone) std::memcpy(localAddress.address, bind.bytes, sizeof localAddress.address);
}

void SocketServer::DispatchToPlugin(const uint8_t* data, int32_t length, const char* peer) {
  if (data == nullptr || length <= 0) return;
  RecordRun(*this, peer).Dispatch(data, length);
}

SocketServer::RecordRun::RecordRun(const SocketServer& server, const char* peer)
    : server_(server), plugin_(CurrentPlugin.load()), sender_(peer) {}

void SocketServer::RecordRun::Dispatch(const uint8_t* data, int32_t length) {
  if (data == nullptr || length <= 0 || plugin_ == nullptr) return;
  const uint32_t generation = server_.settings.Generation();
  if (!pinned_ || generation != generation_) {
    pinned_.reset();
    pinned_.emplace(server_.settings.Acquire());
    generation_ = generation;
  }
  // The host gets a copy of the nine words; the path it points to belongs
  // to the pinned record, which outlives the call.
  FeedbackParams feedback = (*pinned_)->Feedback;
  plugin_->PlayFeedback(&feedback);
  plugin_->DeliverData(data, static_cast<uint32_t>(length));
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
// socket, retrying every openRetryMs while that fails, and serve it until
// the serve loop ends. The reopen codes close the socket and set the start
// event, so the next round opens a new one after a short pause that grows
// while the failure lasts; any other code leaves the worker waiting for the
// stop event or the next Start on a closed socket.
uint32_t SocketServer::RunWorker() {
  ManualResetEvent& stop = *stopEvent;
  ManualResetEvent& start = *startEvent;
  FailurePause reopenPause;
  for (;;) {
    const WaitResult woken = WaitForEither(stop, start, kWaitForever);
    if (woken == WaitResult::kFirst) return 0;
    if (woken != WaitResult::kSecond) {
      if (!RetryFailedWait()) return 0;
      // A failing wait must not turn into a busy loop; and since it cannot
      // see the stop event, Uninitialize's flag ends the retries.
      SleepMs(kFailedWaitPauseMs);
      if (stopping.load() || stop.IsSet()) return 0;
      continue;
    }
    if (OpenSocket() == 0) {
      stop.Wait(openRetryMs.load());
      continue;
    }
    // Uninitialize is under way and may have missed the socket just opened:
    // leave it to Uninitialize, which closes it once this thread has ended.
    if (stopping.load()) continue;
    servedSinceOpen.store(false, std::memory_order_relaxed);
    const uint64_t began = MonotonicMs();
    const int32_t code = ServeLoop();
    if (IsReopenCode(code)) {
      CloseSocket();
      start.Set();
      // A serve loop that ends as soon as it starts (the network is down,
      // say) would otherwise spin on create, bind, listen and close; one
      // that served something, or ran longer than the longest pause, starts
      // the pauses afresh.
      if (servedSinceOpen.load(std::memory_order_relaxed) || MonotonicMs() - began >= kFailurePauseMaxMs) {
        reopenPause.Reset();
      }
      reopenPause.Wait(stop);  // ends at once when Uninitialize sets the stop event
    }
  }
}

SocketServer* CreateSocketServer(int32_t protocol) {
  // Null when memory runs out; constructing a server allocates nothing else.
  if (protocol == kProtocolUdp) return new (std::nothrow) UdpServer();
  return new (std::nothrow) TcpServer();
}

}  // namespace lanfeed
