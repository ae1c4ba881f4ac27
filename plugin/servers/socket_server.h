// The abstract network server owned by the plug-in object, with the record
// and the worker-thread protocol that both implementations share. Its table
// has eight slots, in this order: the seven operations Initialize to
// Dispatch, then the virtual destructor; keep it. Functions the
// implementations add come after it.
//
// Threads: the host's thread runs Initialize, Uninitialize, Start, Suspend,
// AssignSettings and the destructor, one at a time. The worker thread runs
// OpenSocket, the serve loop and CloseSocket; receiving threads run Dispatch.
// Every field that more than one thread touches is an atomic, guarded by a
// lock, or written only while the worker thread is known not to run. No lock
// of the server is held while the host's ShowFeedback runs, other than the
// TCP server's own delivery lock, and the host's thread never needs that one.
//
// Stacks. The worker and every TCP reader run on threads that reserve
// kDefaultStackReserveBytes (64 KiB, platform/thread.h). This library's own
// frames on the deepest paths, measured with -fstack-usage (x86_64,
// optimised; most of it is the 520- and 260-character buffers, which are
// the same size on the 32-bit device):
//   - UDP worker delivering: ReceiveLoop 1.7 KiB, HandleDatagram 1.2 KiB,
//     DispatchToPlugin, then the host's ShowFeedback or Deliver: 3.1 KiB;
//   - a reader logging a read error: ReadOnce 1.1 KiB and its 8 KiB receive
//     buffer, LogReadError 1.7 KiB, the formatter, then the host's WriteLog:
//     11.1 KiB;
//   - the accept loop closing a dead client: AcceptLoop 1.7 KiB,
//     CloseClientConnections, CloseSocketOnce 1.1 KiB, WriteLog: 3.0 KiB;
//   - a reader delivering a block: ReadOnce with its buffer, Dispatch,
//     DispatchToPlugin, then ShowFeedback or Deliver: 9.4 KiB;
//     OpenSocket: 1.8 KiB.
// The thread itself takes up to 4.5 KiB (glibc's thread block and TLS sit
// at the top of the stack; Windows keeps a guard page). That leaves about
// 48 KiB of every server thread's stack to the host: a host's ShowFeedback,
// Deliver, WriteLog and SetStatusProperty may use up to 40 KiB of stack;
// one that needs more must hand the work to a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/event.h"
#include "platform/format.h"
#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/config/device_settings.h"
#include "plugin/host_services.h"
#include "plugin/servers/delivery_peer.h"
#include "plugin/servers/shared_settings.h"

namespace lanfeed {

enum ServerState : int32_t {
  kServerClosed = 0,
  kServerListening = 1,  // TCP: listening; UDP: bound
  kServerSuspended = 2,
};

// Receive blocks and datagrams are at most this many bytes.
inline constexpr int32_t kReceiveBufferSize = 8192;
// The worker retries a failed OpenSocket after this many milliseconds
// (SetOpenRetryMsForTesting changes it for one server).
inline constexpr uint32_t kOpenRetryMs = 5000;
// The pause after a failure that may last (a serve loop that ends with a
// reopen code at once, a failed accept): first this long, then twice as long
// after each further failure, up to kFailurePauseMaxMs.
inline constexpr uint32_t kFailurePauseFirstMs = 100;
inline constexpr uint32_t kFailurePauseMaxMs = 5000;

// That pause, kept by the loop that fails. Not thread-safe: one loop owns it.
class FailurePause {
 public:
  // Waits on `stop` for the current pause (returning at once when it is or
  // becomes set), then doubles the pause for the next failure.
  void Wait(ManualResetEvent& stop) {
    stop.Wait(pauseMs_);
    pauseMs_ = pauseMs_ >= kFailurePauseMaxMs / 2 ? kFailurePauseMaxMs : pauseMs_ * 2;
  }
  // After a success: the next failure pauses kFailurePauseFirstMs again.
  void Reset() { pauseMs_ = kFailurePauseFirstMs; }

 private:
  uint32_t pauseMs_ = kFailurePauseFirstMs;
};

// The texts OpenSocket logs, each with the port as its %d and, for a
// failure, the socket error text as its %s.
using PortLine = format_detail::CheckedFormat<int32_t>;
using PortErrorLine = format_detail::CheckedFormat<int32_t, const WChar*>;
struct ListenLines {
  PortErrorLine failed;
  PortLine listening;
};
struct OpenSocketLines {
  int32_t type;      // kSockStream or kSockDgram
  int32_t protocol;  // kIpprotoTcp or kIpprotoUdp
  PortErrorLine createFailed;
  PortLine created;
  const PortLine* alreadyOpen;  // null: a socket open on entry logs nothing
  PortErrorLine bindFailed;
  PortLine bound;
  const ListenLines* listen;  // null: a bound socket is ready to serve
};

class InputPlugin;

class SocketServer {
 public:
  // Hands records of one sender to the host, each as DispatchToPlugin does
  // (feedback, then delivery to every consumer), taking what that needs
  // once for all of them: the plug-in, the sender published for
  // GetLanFeedDeliveryPeer, the settings pin (taken again only when the
  // settings have changed, so each record plays the feedback configured when
  // it is handed on). Lives on the delivering thread's stack; the caller
  // serialises deliveries as DispatchToPlugin's callers do.
  class RecordRun {
   public:
    RecordRun(const SocketServer& server, const char* peer);
    RecordRun(const RecordRun&) = delete;
    RecordRun& operator=(const RecordRun&) = delete;
    void Dispatch(const uint8_t* data, int32_t length);

   private:
    const SocketServer& server_;
    InputPlugin* const plugin_;
    const DeliveryPeerScope sender_;
    std::optional<SharedSettings::Pin> pinned_;
    uint32_t generation_ = 0;
  };

  virtual int32_t Initialize() = 0;    // 1 success, 0 failure
  virtual int32_t Uninitialize() = 0;  // always 1
  virtual int32_t OpenSocket() = 0;    // non-zero: run the serve loop
  virtual int32_t CloseSocket() = 0;   // always 1
  virtual void Start() = 0;
  virtual void Suspend() = 0;
  virtual void Dispatch(const uint8_t* data, int32_t length) = 0;
  virtual ~SocketServer();

  SocketServer(const SocketServer&) = delete;
  SocketServer& operator=(const SocketServer&) = delete;

  ServerState State() const { return static_cast<ServerState>(state.load()); }
  bool IsSocketOpen() const { return listenSocket.load() != kInvalidSocket; }

  // Replaces the settings copy with a deep copy of `source` (see
  // SharedSettings): never waits for a delivery in progress, and the next
  // block dispatched after it returns plays the new feedback. False, with
  // the copy kept as it was, when the new copy cannot be allocated.
  bool AssignSettings(const DeviceSettings& source) { return settings.Assign(source); }
  // Lock-free reads of the copy, for any thread.
  int32_t SettingsProtocol() const { return settings.Protocol(); }
  int32_t SettingsPort() const { return settings.Port(); }
  int32_t SettingsTcpTimeout() const { return settings.TcpTimeout(); }
  bool SettingsHavePeerRules() const { return settings.HasPeerRules(); }
  // A deep copy of the whole record.
  DeviceSettings SettingsCopy() const { return *settings.Acquire(); }
  // The record itself, pinned (see SharedSettings), and the number that
  // changes with every AssignSettings: a reader that derives something from
  // the record pins it again only when that number has changed.
  SharedSettings::Pin PinSettings() const { return settings.Acquire(); }
  uint32_t SettingsGeneration() const { return settings.Generation(); }

  // True from Start to Suspend: received data is delivered, else dropped.
  bool IsDispatchEnabled() const { return dispatchEnabled.load() != 0; }

  // Test seam: the worker's wait after a failed OpenSocket, in ms, from its
  // next retry on (kOpenRetryMs unless set).
  void SetOpenRetryMsForTesting(uint32_t ms) { openRetryMs.store(ms); }

 protected:
  SocketServer() = default;

  // The serve loop run by the worker after a successful OpenSocket. Returns
  // when waiting on the socket fails, with the socket error code of that
  // failure.
  virtual int32_t ServeLoop() = 0;
  // Whether the worker waits again (true) or ends (false) when its wait on
  // the two events fails.
  virtual bool RetryFailedWait() const = 0;

  // Initialize: starts the sockets library and creates the events that are
  // missing; returns 1. When the library cannot be started or the events
  // cannot be created, logs `failure` (its %s: the error text) at level 1,
  // leaves the library as it was, and returns 0.
  int32_t StartLibraryAndEvents(format_detail::CheckedFormat<const WChar*> failure);
  // Runs Uninitialize when the server still holds a socket, a worker thread
  // or a library start. For the implementations' destructors, where the
  // call reaches their own Uninitialize.
  void UninitializeIfNeeded();
  // Uninitialize's common part, first half: sets the stop event, closes the
  // socket (which wakes a serve loop blocked on it) and waits for the worker
  // thread to end. On return no server thread but the receiving threads of
  // a TCP server touches the object.
  void StopWorker();
  // Uninitialize's common part, second half: closes the events and releases
  // the sockets library once for every successful start in Initialize.
  void ReleaseEventsAndLibrary();
  // Start's common part for a closed socket: creates the worker thread when
  // there is none and sets the start event. Needs a successful Initialize.
  void WakeWorker();

  // OpenSocket's steps: creates the socket unless one is open, binds it
  // unless an earlier call did, and, for `lines.listen`, listens; each step
  // logs its line. When the socket is ready to serve, sets state Listening
  // and resets the start event. Publishes the status in every case. Returns
  // 1 when the socket is ready to serve, else 0 (the worker retries; a
  // socket whose bind or listen failed stays open for that retry).
  int32_t OpenSocketSteps(const OpenSocketLines& lines);
  // Closes listenSocket and sets it to -1 as one atomic step. True when this
  // call closed it; false when there was no socket.
  bool CloseListenSocket();
  // The socket for the next call on it. When it has been closed meanwhile,
  // returns kInvalidSocket with the last error set to 10038, so the caller
  // fails as a call on a closed socket would, without reaching the library.
  SocketHandle CurrentListenSocket() const;
  // Fills localAddress for `bind` (kNetNone: all local IPv4 addresses) and
  // `port`'s low 16 bits.
  void FillLocalAddress(int32_t port, const NetAddress& bind);
  // The serve loop has served something (a client accepted, a datagram
  // received): a failure that ends it starts the reopen pause afresh.
  void MarkServed() { servedSinceOpen.store(true, std::memory_order_relaxed); }

  // Feedback, then delivery to every consumer, through CurrentPlugin. The
  // settings record is pinned while the host's ShowFeedback runs, so its
  // wave-file path stays valid however the settings change meanwhile.
  // `peer` (null: none) is the sender that GetLanFeedDeliveryPeer reports
  // on this thread during both calls.
  void DispatchToPlugin(const uint8_t* data, int32_t length, const char* peer = nullptr);
  // Publishes the listening status through CurrentPlugin.
  static void PublishCurrentStatus();
  // Logs `text` through CurrentPlugin at `level`.
  static void Log(LogLevel level, const WChar* text);
  // The reopen codes: the worker closes the socket and opens a new one.
  static bool IsReopenCode(int32_t code);

  std::atomic<int32_t> state{kServerClosed};
  std::atomic<SocketHandle> listenSocket{kInvalidSocket};
  // True once listenSocket is bound; a retry then leaves the bind out.
  std::atomic<bool> socketBound{false};
  // True once listenSocket serves (TCP: listens; UDP: is bound). Start on an
  // open socket reports Listening only then: a socket whose bind or listen
  // failed is not served, and the worker is still retrying it.
  std::atomic<bool> socketReady{false};
  // Written by the worker only (OpenSocket).
  SocketAddress localAddress{};
  SharedSettings settings;
  std::atomic<int32_t> dispatchEnabled{0};
  // Started by the first Start on a closed socket, joined by Uninitialize.
  // Touched only on the host's thread.
  Thread workerThread;
  // Created together by Initialize when missing (both or neither), closed by
  // Uninitialize after the worker has ended; the worker uses them only
  // while it runs.
  std::unique_ptr<ManualResetEvent> stopEvent;
  std::unique_ptr<ManualResetEvent> startEvent;
  // Set before the stop event by Uninitialize: a socket that the worker opens
  // while Uninitialize runs is then never served (see RunWorker).
  std::atomic<bool> stopping{false};
  // Successful library starts not yet released.
  std::atomic<int32_t> libraryStarts{0};

 private:
  // Creates both events unless both exist, after a successful library
  // start. 0, or 10055 when either cannot be created (nothing is then kept
  // and the start is undone).
  int32_t CreateMissingEvents();
  static uint32_t WorkerThread(void* argument);
  uint32_t RunWorker();

  std::atomic<uint32_t> openRetryMs{kOpenRetryMs};
  std::atomic<bool> servedSinceOpen{false};
};


// A new idle server: UdpServer for protocol 0, TcpServer for any other value.
// Null when it cannot be allocated.
SocketServer* CreateSocketServer(int32_t protocol);

}  // namespace lanfeed
