// The TCP server: listens on the configured port on all local addresses and
// gives every accepted client a TcpClientConnection with a reader thread of
// its own. Dispatch is serialised by deliveryLock, so the host receives one
// block at a time, each with its feedback request first.
//
// Locks: deliveryLock is held for the whole of every Dispatch, host calls
// included, and by nothing else; clientLock guards the client list and is
// never held across a host call that the host's thread could be waiting
// on, nor while a reader thread is waited for. Neither is taken while the
// other is held. The plug-in's lock (taken by DeliverData) comes after
// deliveryLock, and the plug-in never calls the server while holding it.
// So the host's thread (Start, Suspend), the accept loop and the other
// readers go on while a ShowFeedback or Deliver takes its time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/lock.h"
#include "plugin/servers/client_list.h"
#include "plugin/servers/refusal_log.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

class TcpClientConnection;

class TcpServer final : public SocketServer {
 public:
  // The records of one block of a client, handed on one after the other
  // under deliveryLock (held from construction to destruction) with `peer`
  // as their sender: a block of many records takes the lock, the settings
  // and the sender once.
  class RecordDelivery {
   public:
    RecordDelivery(TcpServer& server, const char* peer) : guard_(server.deliveryLock), run_(server, peer) {}
    void Deliver(const uint8_t* data, int32_t length) { run_.Dispatch(data, length); }

   private:
    AutoLock guard_;
    RecordRun run_;
  };

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
  // Dispatch of one record of a client, with `peer` as the sender that
  // GetLanFeedDeliveryPeer reports during the host calls.
  void DispatchFrom(const uint8_t* data, int32_t length, const char* peer);
  // How many times Suspend has run: a client's partial message that began
  // under another count is dropped, so that no record mixes bytes from
  // before and after a suspension.
  uint32_t Suspensions() const { return suspensions.load(); }

  // The serve loop: accepts clients until waiting on the listening socket
  // fails; returns that failure's socket error code.
  int32_t AcceptLoop();
  // Removes and destroys every client (closeAll non-zero) or only the dead
  // ones. The clients are unlinked under clientLock and closed after it is
  // released: first every socket, so that all their readers wake at once, then each
  // reader is waited for. A client whose reader the accept loop is starting
  // at that moment is closed by the accept loop right after; it stays
  // listed, dead, until the next walk.
  void CloseClientConnections(int32_t closeAll);

  // The time-out in seconds in force since the last Start (0: none).
  uint32_t AppliedTimeout() const { return appliedTimeout.load(); }
  // Connections in the client list, dead ones included.
  std::size_t ClientCount() const;
  // Connections in the client list whose socket is still open.
  std::size_t LiveClientCount() const;

 protected:
  int32_t ServeLoop() override { return AcceptLoop(); }
  bool RetryFailedWait() const override { return false; }

 private:
  // Lists an accepted connection (the list then owns it) and starts its
  // reader outside clientLock (creating a thread takes a while, and the
  // host's thread may wait for that lock). A connection whose reader cannot
  // be started is unlisted and closed.
  void AddClient(TcpClientConnection* connection);
  // Whether the settings' rules admit a client from `peer`, counting the
  // live clients; the refusal's reason when not. Only the accept loop adds
  // clients, so a count made here stays an upper bound until it adds one.
  bool Admits(const NetAddress& peer, RefusalReason* reason) const;

  // Both live as long as the object, so each exists before its first use
  // and after its last.
  RecursiveLock deliveryLock;
  mutable RecursiveLock clientLock;
  ClientList clients;
  // The connection whose reader AddClient is starting, outside clientLock,
  // and whether a walk has asked for it to be closed meanwhile (AddClient
  // then closes it); guarded by clientLock. No other thread destroys it.
  TcpClientConnection* startingClient = nullptr;
  bool startingClientClosed = false;
  std::atomic<uint32_t> appliedTimeout{kDefaultTcpTimeout};
  std::atomic<uint32_t> suspensions{0};
};

}  // namespace lanfeed
