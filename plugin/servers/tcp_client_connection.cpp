#include "plugin/servers/tcp_client_connection.h"

#include <cstring>
#include <new>
#include <optional>

#include "platform/format.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_server.h"

namespace lanfeed {

TcpClientConnection::~TcpClientConnection() {
  Close();
  delete[] held;
}

int32_t TcpClientConnection::Attach(SocketHandle clientSocket, const SocketAddress& peer,
                                    TcpServer* owner) {
  socket.store(clientSocket);
  PeerAddressText(peer, peerText);
  peerAddress = PeerAddressOf(peer);
  PeerToText(peerText, peer.port, peerRecordText);
  server = owner;
  return 1;
}

bool TcpClientConnection::StartReader() {
  if (readerThread.IsStarted()) return true;
  if (readerThread.Start(&TcpClientConnection::ReaderThread, this)) return true;
  CloseSocketOnce();
  return false;
}

uint32_t TcpClientConnection::ReaderThread(void* argument) {
  if (argument == nullptr) return 0;
  auto* connection = static_cast<TcpClientConnection*>(argument);
  while (!connection->IsDead()) connection->ReadOnce();
  // Closed by another thread between two reads.
  connection->SettleOwedClose();
  return 0;
}

int32_t TcpClientConnection::ReadOnce() {
  // The time-out is read at every wait, so a new value applies at once.
  const uint32_t timeout = static_cast<uint32_t>(server->SettingsTcpTimeout());
  const int64_t timeoutMs = timeout != 0 ? static_cast<int64_t>(timeout) * 1000 : -1;

  // One call waits (only when nothing has arrived yet) and reads.
  // The block lives on the reader's stack, as long as its delivery: an idle
  // client's buffer pages are never touched, so they cost no memory.
  uint8_t buffer[kReceiveBufferSize];
  const SocketHandle current = socket.load();
  // A socket that the server closed before the wait fails as a closed handle.
  const SocketReceiveResult received =
      current < 0 ? SocketReceiveResult{SocketReceiveResult::kCallFailed, 0, kWsaEnotsock}
                  : SocketRecvWithin(current, buffer, kReceiveBufferSize, nullptr, timeoutMs);

  switch (received.outcome) {
    case SocketReceiveResult::kCallFailed:
      // The error line follows the closed line of a close from the server.
      SettleOwedClose();
      LogReadError(received.error);
      break;
    case SocketReceiveResult::kReceiveFailed:
      LogReadError(received.error);
      break;
    case SocketReceiveResult::kReceived: {
      if (received.count == 0) {
        LogLineBuffer line;
        FormatLine(line, LF_TEXT("Connection with %S already closed."), peerText);
        LogCurrent(kLogInfo, line);
        break;
      }
      // The suspensions before this block, read before delivery is looked
      // at: a message that the block leaves open belongs to that count even
      // when a suspension comes while the block's records are handed on.
      blockSuspensions = server->Suspensions();
      if (!server->IsDispatchEnabled()) {
        LogLineBuffer line;
        FormatLine(line,
                   LF_TEXT("Received data from TCP client:%S. Data reading is suspended. "
                           "Not dispatching data."),
                   peerText);
        LogCurrent(kLogInfo, line);
        DropHeld();
      } else {
        DeliverBlock(buffer, received.count);
      }
      return received.count;
    }
    case SocketReceiveResult::kTimedOut: {
      // While a changed time-out waits for the next Start, a wait that was
      // not longer than the configured value does not count.
      const uint32_t configured = static_cast<uint32_t>(server->SettingsTcpTimeout());
      if (timeout != 0 && configured != server->AppliedTimeout() && timeout <= configured) {
        return 1;
      }
      LogLineBuffer line;
      FormatLine(line, LF_TEXT("TCP Connection from %S is time out. Closing the connection."),
                 peerText);
      LogCurrent(kLogInfo, line);
      break;
    }
  }
  CloseFromReader();
  return 0;
}

void TcpClientConnection::LogReadError(int32_t code) {
  const SocketErrorText error(code);
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("Error reading data from %S. Error : %s. Closing the connection."),
             peerText, error.text);
  LogCurrent(kLogError, line);
}

void TcpClientConnection::LogClosedLine() {
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("TCP client connection closed from %S."), peerText);
  LogCurrent(kLogInfo, line);
}

void TcpClientConnection::CloseSocketOnce() {
  // While the reader frames, the message it may hold goes out before the
  // closed line, so the reader logs that line.
  SocketHandle current = socket.load();
  SocketHandle next = kInvalidSocket;
  do {
    if (current < 0) return;
    next = framing.load() ? kClosedLineOwed : kInvalidSocket;
  } while (!socket.compare_exchange_weak(current, next));
  // Logged before the close: closing wakes a reader blocked on the socket,
  // whose read-error line must come after this one.
  if (next == kInvalidSocket) LogClosedLine();
  SocketClose(current);
}

void TcpClientConnection::CloseFromReader() {
  DeliverHeld();
  const SocketHandle current = socket.exchange(kInvalidSocket);
  if (current == kInvalidSocket) return;
  LogClosedLine();
  if (current != kClosedLineOwed) SocketClose(current);
}

void TcpClientConnection::SettleOwedClose() {
  SocketHandle owed = kClosedLineOwed;
  if (!socket.compare_exchange_strong(owed, kInvalidSocket)) return;
  DeliverHeld();
  LogClosedLine();
}

int32_t TcpClientConnection::Close() {
  CloseSocketOnce();
  JoinReader();
  return 1;
}

void TcpClientConnection::JoinReader() {
  if (readerThread.IsStarted()) readerThread.Join();
}

// ---------------------------------------------------------------------------
// Framing

void TcpClientConnection::Deliver(const uint8_t* data, int32_t length) {
  server->DispatchFrom(data, length, peerRecordText);
}

void TcpClientConnection::DeliverBlock(const uint8_t* data, int32_t length) {
  if (heldLength > 0 && blockSuspensions != heldSuspensions) DropHeld();
  // Taken at the block's first record and held until its last.
  std::optional<TcpServer::RecordDelivery> records;
  const auto deliver = [&](const uint8_t* record, int32_t recordLength) {
    if (!records) records.emplace(*server, peerRecordText);
    records->Deliver(record, recordLength);
  };
  while (length > 0) {
    if (heldLength == 0) {
      TakeRule();
      // Framing none: the rest of the block is the record, as it was read.
      if (mode == kFramingNone) {
        deliver(data, length);
        return;
      }
    }
    const int32_t room = kMaxFrameLength - heldLength;
    const int32_t scanned = length < room ? length : room;
    int32_t end = FindRecordEnd(data, scanned);
    if (end < 0) {
      if (scanned < room) {
        // The message goes on in the next block.
        if (!Hold(data, length)) deliver(data, length);  // no buffer: as it came
        return;
      }
      end = scanned;  // kMaxFrameLength bytes without an end: cut here
    }
    if (heldLength == 0) {
      deliver(data, end);
    } else if (Hold(data, end)) {
      deliver(held, heldLength);
      heldLength = 0;
    }
    matched = 0;
    data += end;
    length -= end;
  }
}

void TcpClientConnection::TakeRule() {
  const uint32_t generation = server->SettingsGeneration();
  if (ruleTaken && generation == ruleGeneration) return;
  {
    const SharedSettings::Pin settings = server->PinSettings();
    mode = settings->Framing;
    delimiterLength = settings->FrameDelimiterLength;
    std::memcpy(delimiter, settings->FrameDelimiter, sizeof(delimiter));
    frameLength = settings->FrameLength;
  }
  ruleTaken = true;
  ruleGeneration = generation;
  if (mode == kFramingLine) {
    delimiter[0] = '\n';
    delimiterLength = 1;
  }
  // Reading the settings never yields an incomplete rule; one would make
  // the record search below go wrong, so it frames nothing.
  const bool complete =
      mode == kFramingLine ||
      (mode == kFramingDelimiter && delimiterLength >= 1 && delimiterLength <= kMaxFrameDelimiterBytes) ||
      (mode == kFramingFixed && frameLength >= 1 && frameLength <= kMaxFrameLength);
  if (!complete) mode = kFramingNone;
  if (mode == kFramingDelimiter) {
    fallback[0] = 0;
    for (int32_t i = 1, k = 0; i < delimiterLength; ++i) {
      while (k > 0 && delimiter[i] != delimiter[k]) k = fallback[k - 1];
      if (delimiter[i] == delimiter[k]) ++k;
      fallback[i] = k;
    }
  }
  matched = 0;
  framing.store(mode != kFramingNone);
}

int32_t TcpClientConnection::FindRecordEnd(const uint8_t* data, int32_t length) {
  if (mode == kFramingFixed) {
    const int32_t missing = frameLength - heldLength;
    return missing <= length ? missing : -1;
  }
  if (delimiterLength == 1) {
    const void* at = std::memchr(data, delimiter[0], static_cast<std::size_t>(length));
    return at != nullptr ? static_cast<int32_t>(static_cast<const uint8_t*>(at) - data) + 1 : -1;
  }
  // Matching goes on from the delimiter bytes already matched at the end of
  // the message held, so a delimiter split between two blocks is found.
  for (int32_t i = 0; i < length; ++i) {
    const uint8_t byte = data[i];
    while (matched > 0 && delimiter[matched] != byte) matched = fallback[matched - 1];
    if (delimiter[matched] == byte) ++matched;
    if (matched == delimiterLength) return i + 1;
  }
  return -1;
}

bool TcpClientConnection::Hold(const uint8_t* data, int32_t length) {
  if (held == nullptr) {
    held = new (std::nothrow) uint8_t[kMaxFrameLength];
    if (held == nullptr) return false;
  }
  if (heldLength == 0) heldSuspensions = blockSuspensions;
  std::memcpy(held + heldLength, data, static_cast<std::size_t>(length));
  heldLength += length;
  return true;
}

void TcpClientConnection::DropHeld() {
  heldLength = 0;
  matched = 0;
}

void TcpClientConnection::DeliverHeld() {
  if (heldLength > 0 && server->IsDispatchEnabled() && server->Suspensions() == heldSuspensions) {
    Deliver(held, heldLength);
  }
  DropHeld();
}

}  // namespace lanfeed
