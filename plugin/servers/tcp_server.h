// The TCP server: listens on the configured port on all local addresses and
// gives every accepted client a TcpClientConnection with a reader thread of
// its own. Dispatch is serialised by clientLock, so the host receives one
// block at a time, each with its feedback request first.
//
// Lock order: clientLock, then the plug-in's lock (taken by DeliverData). clientLock is never held while a reader thread is waited
// for, and the plug-in never calls the server while holding its own lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>

#include "platform/lock.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

class TcpClientConnection;

class TcpServer final : public SocketServer {
 public:
  TcpServer();
  // Runs Uninitialize when the owner has not (a socket, a worker thread or a
  // library start is left).
  ~TcpServer() override;

  int32_t Initialize() override;
  int32_t Uninitialize() override;
  // 1 once the socket listens; 0 otherwise (the worker retries later). A
  // failed bind or listen leaves the socket open for the retry.
  int32_t OpenSocket() override;
  int32_t CloseSocket() override;
  void Start() override;
  void Suspend() override;
  void Dispatch(const uint8_t* data, int32_t length) override;

  // The serve loop: accepts clients until waiting on the listening socket
  // fails; returns that failure's socket error code.
  int32_t AcceptLoop();
  // Removes and destroys every client (closeAll non-zero) or only the dead
  // ones. The clients are unlinked under clientLock and closed after it is
  // released, so a reader waiting for clientLock in Dispatch can finish:
  // first every socket, so that all their readers wake at once, then each
  // reader is waited for. A client whose reader the accept loop is starting
  // at that moment only has its socket closed; it stays listed, dead, until
  // the next walk.
  void CloseClientConnections(int32_t closeAll);

  // The time-out in seconds in force since the last Start (0: none).
  uint32_t AppliedTimeout() const { return appliedTimeout.load(); }
  // Connections in the client list, dead ones included.
  std::size_t ClientCount() const;

 protected:
  int32_t ServeLoop() override { return AcceptLoop(); }
  bool RetryFailedWait() const override { return false; }

 private:
  // Lists an accepted connection and starts its reader outside clientLock
  // (creating a thread takes a while, and deliveries wait for that lock). A
  // connection that cannot be listed, or whose reader cannot be started, is
  // unlisted and closed.
  void AddClient(std::unique_ptr<TcpClientConnection> connection);

  // Guards `clients` and serialises Dispatch. Lives as long as the object,
  // so it exists before its first use and after its last.
  mutable RecursiveLock clientLock;
  std::list<std::unique_ptr<TcpClientConnection>> clients;
  // The connection whose reader AddClient is starting, outside clientLock;
  // guarded by clientLock. No other thread destroys it meanwhile.
  TcpClientConnection* startingClient = nullptr;
  std::atomic<uint32_t> appliedTimeout{kDefaultTcpTimeout};
};

}  // namespace lanfeed
