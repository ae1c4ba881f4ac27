// The abstract network server owned by the plug-in object, with the record
// and the worker-thread protocol that both implementations share. The seven
// pure virtual functions and the virtual destructor form the server's table
// in this order; keep it. Functions the implementations add come after it.
//
// Threads: the host's thread runs Initialize, Uninitialize, Start, Suspend,
// AssignSettings and the destructor, one at a time. The worker thread runs
// OpenSocket, the serve loop and CloseSocket; receiving threads run Dispatch.
// Every field that more than one thread touches is an atomic, guarded by a
// lock, or written only while the worker thread is known not to run.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/event.h"
#include "platform/format.h"
#include "platform/lock.h"
#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/config/device_settings.h"
#include "plugin/host_services.h"

namespace lanfeed {

enum ServerState : int32_t {
  kServerClosed = 0,
  kServerListening = 1,  // TCP: listening; UDP: bound
  kServerSuspended = 2,
};

// Receive blocks and datagrams are at most this many bytes.
inline constexpr int32_t kReceiveBufferSize = 8192;
// The worker retries a failed OpenSocket after this many milliseconds.
inline constexpr uint32_t kOpenRetryMs = 5000;

class SocketServer {
 public:
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

  // Replaces the settings copy with a deep copy of `source`. Runs on the
  // host's thread while the server's threads may read the copy: readers go
  // through the accessors below or hold settingsLock, so none sees a
  // half-written record or a freed wave-file path.
  void AssignSettings(const DeviceSettings& source);
  int32_t SettingsProtocol() const;
  int32_t SettingsPort() const;
  int32_t SettingsTcpTimeout() const;

  // True from Start to Suspend: received data is delivered, else dropped.
  bool IsDispatchEnabled() const { return dispatchEnabled.load() != 0; }

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
  // missing; returns 1. When the library cannot be started, logs `failure`
  // (its %s: the error text) at level 1, creates nothing and returns 0.
  int32_t StartLibraryAndEvents(format_detail::CheckedFormat<const WChar*> failure);
  // True while the server holds a socket, a worker thread or a library start
  // that only Uninitialize releases: the destructors then run it.
  bool NeedsUninitialize() const {
    return IsSocketOpen() || workerThread.IsStarted() || libraryStarts.load() > 0;
  }
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

  // Closes listenSocket and sets it to -1 as one atomic step. True when this
  // call closed it; false when there was no socket.
  bool CloseListenSocket();
  // The socket for the next call on it. When it has been closed meanwhile,
  // returns kInvalidSocket with the last error set to 10038, so the caller
  // fails as a call on a closed socket would, without reaching the library.
  SocketHandle CurrentListenSocket() const;
  // Fills localAddress for all local IPv4 addresses and `port`'s low 16 bits.
  void FillLocalAddress(int32_t port);

  // Feedback, then delivery to every consumer, through CurrentPlugin. The
  // feedback is copied and handed to the host under settingsLock, so its
  // wave-file path stays valid while the host uses it.
  void DispatchToPlugin(const uint8_t* data, int32_t length);
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
  SocketAddressIn localAddress{};
  // Guards `settings`; held by AssignSettings and by every reader of it.
  mutable RecursiveLock settingsLock;
  DeviceSettings settings;
  std::atomic<int32_t> dispatchEnabled{0};
  // Started by the first Start on a closed socket, joined by Uninitialize.
  // Touched only on the host's thread.
  Thread workerThread;
  // Created by Initialize when missing, closed by Uninitialize after the
  // worker has ended; the worker uses them only while it runs.
  std::unique_ptr<ManualResetEvent> stopEvent;
  std::unique_ptr<ManualResetEvent> startEvent;
  // Set before the stop event by Uninitialize: a socket that the worker opens
  // while Uninitialize runs is then never served (see RunWorker).
  std::atomic<bool> stopping{false};
  // Successful library starts not yet released.
  std::atomic<int32_t> libraryStarts{0};

 private:
  // Creates the events that are missing, after a successful library start.
  // 0, or 10055 when they cannot be allocated (the start is then undone).
  int32_t CreateMissingEvents();
  static uint32_t WorkerThread(void* argument);
  uint32_t RunWorker();
};

// A new idle server: UdpServer for protocol 0, TcpServer for any other value.
// Null when it cannot be allocated.
SocketServer* CreateSocketServer(int32_t protocol);

}  // namespace lanfeed
