// One client accepted by the TCP server: its socket and its reader thread.
// The reader waits for data with the configured inactivity time-out, reads
// blocks of up to kReceiveBufferSize bytes and hands each to the server's
// Dispatch while delivery is enabled. It never sends anything to the client.
//
// Ownership: the server creates the connection, keeps it in its client list
// and destroys it; destruction runs Close.
// Threads: the reader runs ReadOnce; Close runs on the thread that removes
// the connection from the server, never on the reader.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

class TcpServer;

class TcpClientConnection {
 public:
  TcpClientConnection() = default;
  ~TcpClientConnection();  // Close
  TcpClientConnection(const TcpClientConnection&) = delete;
  TcpClientConnection& operator=(const TcpClientConnection&) = delete;

  // Takes over the accepted `clientSocket`; keeps the peer's dotted address
  // for the log lines and the owning server. Always 1.
  int32_t Attach(SocketHandle clientSocket, const SocketAddressIn& peer, TcpServer* owner);
  // Starts the reader thread unless one was started. False when the thread
  // cannot be created; the connection is then closed (dead).
  bool StartReader();
  // One wait-and-read step: the byte count of a block read, 1 when a
  // time-out was deferred, 0 when the connection was closed.
  int32_t ReadOnce();
  // CloseSocketOnce, then JoinReader. Always 1. Must not run on the reader
  // thread.
  int32_t Close();
  // Closes the socket and logs its closed line when it is still open. The
  // test, the close and the -1 are one atomic exchange, so the socket is
  // closed and logged exactly once, whichever thread gets there first.
  // Closing wakes a reader blocked on the socket. Any thread.
  void CloseSocketOnce();
  // Waits for the reader thread to end (it ends once the socket is closed).
  // Not on the reader thread.
  void JoinReader();

  // A dead connection has closed its socket; it waits to be removed.
  bool IsDead() const { return socket.load() == kInvalidSocket; }

 private:
  static uint32_t ReaderThread(void* argument);
  // Logs the read-error line for the calling thread's last socket error.
  void LogReadError();

  friend class ClientList;

  TcpServer* server = nullptr;
  std::atomic<SocketHandle> socket{kInvalidSocket};
  char peerText[16] = {};
  Thread readerThread;
  // The server's ClientList links its members through these.
  TcpClientConnection* listPrev = nullptr;
  TcpClientConnection* listNext = nullptr;
};

}  // namespace lanfeed
