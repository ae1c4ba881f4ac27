#include "plugin/servers/tcp_client_connection.h"

#include "platform/format.h"
#include "plugin/input_plugin.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_server.h"

namespace lanfeed {

TcpClientConnection::~TcpClientConnection() { Close(); }

int32_t TcpClientConnection::Attach(SocketHandle clientSocket, const SocketAddressIn& peer,
                                    TcpServer* owner) {
  socket.store(clientSocket);
  AddressToText(peer, peerText);
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
  return 0;
}

int32_t TcpClientConnection::ReadOnce() {
  // The time-out is read at every wait, so a new value applies at once.
  const uint32_t timeout = static_cast<uint32_t>(server->SettingsTcpTimeout());
  const int64_t timeoutMs = timeout != 0 ? static_cast<int64_t>(timeout) * 1000 : -1;

  // One call waits (only when nothing has arrived yet) and reads; `ready`
  // tells how the wait ended, `count` what the read returned.
  // The block lives on the reader's stack, as long as its delivery: an idle
  // client's buffer pages are never touched, so they cost no memory.
  uint8_t buffer[kReceiveBufferSize];
  const SocketHandle current = socket.load();
  int32_t ready = -1;
  int32_t count = -1;
  if (current == kInvalidSocket) {
    SetSocketLastError(kWsaEnotsock);  // closed by the server before the wait
  } else {
    ready = SocketRecvWithin(current, buffer, kReceiveBufferSize, nullptr, timeoutMs, &count);
  }

  if (ready < 0) {
    LogReadError();
  } else if (ready > 0) {
    if (count > 0) {
      if (!server->IsDispatchEnabled()) {
        LogLineBuffer line;
        FormatLine(line,
                   LF_TEXT("Received data from TCP client:%S. Data reading is suspended. "
                           "Not dispatching data."),
                   peerText);
        LogCurrent(kLogInfo, line);
      } else if (SocketLastError() != kWsaEmsgsize) {
        server->Dispatch(buffer, count);
      }
      return count;
    }
    if (count < 0) {
      LogReadError();
    } else {
      LogLineBuffer line;
      FormatLine(line, LF_TEXT("Connection with %S already closed."), peerText);
      LogCurrent(kLogInfo, line);
    }
  } else {
    // Time-out. While a changed time-out waits for the next Start, a wait
    // that was not longer than the configured value does not count.
    const uint32_t configured = static_cast<uint32_t>(server->SettingsTcpTimeout());
    if (timeout != 0 && configured != server->AppliedTimeout() && timeout <= configured) {
      return 1;
    }
    LogLineBuffer line;
    FormatLine(line, LF_TEXT("TCP Connection from %S is time out. Closing the connection."),
               peerText);
    LogCurrent(kLogInfo, line);
  }
  CloseSocketOnce();
  return 0;
}

void TcpClientConnection::LogReadError() {
  const SocketErrorText error(SocketLastError());
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("Error reading data from %S. Error : %s. Closing the connection."),
             peerText, error.text);
  LogCurrent(kLogError, line);
}

void TcpClientConnection::CloseSocketOnce() {
  const SocketHandle current = socket.exchange(kInvalidSocket);
  if (current == kInvalidSocket) return;
  // Logged before the close: closing wakes a reader blocked on the socket,
  // whose read-error line must come after this one.
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("TCP client connection closed from %S."), peerText);
  LogCurrent(kLogInfo, line);
  SocketClose(current);
}

int32_t TcpClientConnection::Close() {
  CloseSocketOnce();
  JoinReader();
  return 1;
}

void TcpClientConnection::JoinReader() {
  if (readerThread.IsStarted()) readerThread.Join();
}

}  // namespace lanfeed
