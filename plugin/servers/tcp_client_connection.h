// One client accepted by the TCP server: its socket and its reader thread.
// The reader waits for data with the configured inactivity time-out, reads
// blocks of up to kReceiveBufferSize bytes and hands them to the server while
// delivery is enabled. It never sends anything to the client.
//
// Records. With Framing none each block read is one record, handed on in
// place. Otherwise the reader cuts the stream into records by the configured
// rule (a delimiter, LF for line, or a fixed length; kMaxFrameLength at
// most): records that lie whole in a block are handed on in place, and only
// the bytes of a message still open at the end of a block are copied, into
// a buffer of kMaxFrameLength bytes that the connection allocates once, at
// its first such message. The records, joined, are exactly the stream. The
// rule is taken afresh whenever a record begins, so a new configuration
// applies from the next record. A message still open when the connection
// ends is handed on as its last record, before its closed line; one open
// when delivery is suspended is dropped with what is read meanwhile.
//
// Ownership: the server creates the connection, keeps it in its client list
// and destroys it; destruction runs Close.
// Threads: the reader runs ReadOnce and owns the framing state; Close runs
// on the thread that removes the connection from the server, never on the
// reader.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/sockets.h"
#include "platform/thread.h"
#include "plugin/config/device_settings.h"
#include "plugin/servers/delivery_peer.h"
#include "plugin/servers/socket_server.h"

namespace lanfeed {

class TcpServer;

class TcpClientConnection {
 public:
  TcpClientConnection() = default;
  ~TcpClientConnection();  // Close, then frees the message buffer
  TcpClientConnection(const TcpClientConnection&) = delete;
  TcpClientConnection& operator=(const TcpClientConnection&) = delete;

  // Takes over the accepted `clientSocket`; keeps the peer's dotted address
  // for the log lines, its address and port as the records' sender, and the
  // owning server. Always 1.
  int32_t Attach(SocketHandle clientSocket, const SocketAddress& peer, TcpServer* owner);
  // Starts the reader thread unless one was started. False when the thread
  // cannot be created; the connection is then closed (dead).
  bool StartReader();
  // One wait-and-read step: the byte count of a block read, 1 when a
  // time-out was deferred, 0 when the connection was closed.
  int32_t ReadOnce();
  // CloseSocketOnce, then JoinReader. Always 1. Must not run on the reader
  // thread.
  int32_t Close();
  // Closes the socket when it is still open, and logs its closed line: here,
  // or, while the reader frames records, by the reader once it has handed
  // on the message it holds. The test, the close and the -1 are one atomic
  // exchange, so the socket is closed and its line logged exactly once,
  // whichever thread gets there first. Closing wakes a reader blocked on the
  // socket. Any thread but the reader.
  void CloseSocketOnce();
  // Waits for the reader thread to end (it ends once the socket is closed).
  // Not on the reader thread.
  void JoinReader();

  // A dead connection has closed its socket; it waits to be removed.
  bool IsDead() const { return socket.load() < 0; }
  // The peer's address, as the client limits compare it.
  const NetAddress& PeerAddress() const { return peerAddress; }

 private:
  // `socket` when another thread has closed it while the reader frames:
  // the reader still owes the closed line.
  static constexpr SocketHandle kClosedLineOwed = -2;

  static uint32_t ReaderThread(void* argument);
  // Logs the read-error line for the socket error `code`.
  void LogReadError(int32_t code);
  void LogClosedLine();
  // The reader's close step: hands on the message it holds, then closes the
  // socket and logs the closed line, unless another thread closed it first.
  void CloseFromReader();
  // When another thread closed the socket and left the closed line to the
  // reader: hands on the message held, then logs that line.
  void SettleOwedClose();

  // Framing, on the reader thread.
  // One block read while delivery is enabled.
  void DeliverBlock(const uint8_t* data, int32_t length);
  // Takes the configured rule when it has changed since it was last taken.
  void TakeRule();
  // Bytes from `data` up to and including the end of the current record
  // within the first `length` bytes, or -1 when it does not end there.
  int32_t FindRecordEnd(const uint8_t* data, int32_t length);
  // Appends to the message held; false when no buffer can be had.
  bool Hold(const uint8_t* data, int32_t length);
  void DropHeld();
  // The message held as the connection's last record, unless a suspension
  // came since it began.
  void DeliverHeld();
  void Deliver(const uint8_t* data, int32_t length);

  friend class ClientList;

  TcpServer* server = nullptr;
  std::atomic<SocketHandle> socket{kInvalidSocket};
  NetAddress peerAddress = {};
  char peerText[kNetAddressTextCapacity] = {};
  char peerRecordText[kPeerTextCapacity] = {};
  Thread readerThread;
  // The server's ClientList links its members through these.
  TcpClientConnection* listPrev = nullptr;
  TcpClientConnection* listNext = nullptr;

  // True while the reader cuts records by a rule (set by the reader).
  std::atomic<bool> framing{false};
  bool ruleTaken = false;
  uint32_t ruleGeneration = 0;
  int32_t mode = kFramingNone;
  int32_t delimiterLength = 0;
  uint8_t delimiter[kMaxFrameDelimiterBytes] = {};
  // For each delimiter prefix, the longest proper prefix that is also its
  // suffix: where matching goes on after a mismatch.
  int32_t fallback[kMaxFrameDelimiterBytes] = {};
  int32_t frameLength = 0;
  // Delimiter bytes matched at the end of the message held.
  int32_t matched = 0;
  uint8_t* held = nullptr;  // kMaxFrameLength bytes once needed
  int32_t heldLength = 0;
  uint32_t heldSuspensions = 0;   // the server's Suspensions() when it began
  uint32_t blockSuspensions = 0;  // the same for the block being handed on
};

}  // namespace lanfeed
