// The abstract network server owned by the plug-in object, with the record
// that both implementations share. The seven pure virtual functions and the
// virtual destructor form the server's table in this order; keep it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/event.h"
#include "platform/lock.h"
#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/config/device_settings.h"

namespace lanfeed {

enum ServerState : int32_t {
  kServerClosed = 0,
  kServerListening = 1,  // TCP: listening; UDP: bound
  kServerSuspended = 2,
};

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

 protected:
  SocketServer() = default;

  std::atomic<int32_t> state{kServerClosed};
  std::atomic<SocketHandle> listenSocket{kInvalidSocket};
  SocketAddressIn localAddress{};
  // Guards `settings`; held by AssignSettings and by every reader of it.
  mutable RecursiveLock settingsLock;
  DeviceSettings settings;
  std::atomic<int32_t> dispatchEnabled{0};
};

// A new idle server: UdpServer for protocol 0, TcpServer for any other value.
// Null when it cannot be allocated.
SocketServer* CreateSocketServer(int32_t protocol);

}  // namespace lanfeed
