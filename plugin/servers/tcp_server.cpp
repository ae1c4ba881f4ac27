#include "plugin/servers/tcp_server.h"

#include <exception>
#include <iterator>
#include <new>

#include "platform/format.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_client_connection.h"

namespace lanfeed {

namespace {
// After a failed accept (out of descriptors, say) the loop pauses this long,
// or until the stop event, so a lasting failure cannot flood the log.
constexpr uint32_t kAcceptRetryMs = 100;
}  // namespace

TcpServer::TcpServer() = default;

TcpServer::~TcpServer() {
  if (NeedsUninitialize()) {
    TcpServer::Uninitialize();
  }
  CloseClientConnections(1);
}

int32_t TcpServer::Initialize() {
  return StartLibraryAndEvents(LF_TEXT("Failed to initialize TCP server socket. Error: %s."));
}

int32_t TcpServer::Uninitialize() {
  StopWorker();
  // A client accepted while the listening socket was being closed may have
  // joined the list after CloseSocket emptied it.
  CloseClientConnections(1);
  ReleaseEventsAndLibrary();
  return 1;
}

int32_t TcpServer::OpenSocket() {
  const int32_t port = SettingsPort();
  LogLineBuffer line;
  LogLevel level = kLogInfo;
  if (listenSocket.load() == kInvalidSocket) {
    const SocketHandle created = SocketCreate(kAfInet, kSockStream, kIpprotoTcp);
    if (created == kInvalidSocket) {
      const SocketErrorText error(SocketLastError());
      level = kLogError;
      FormatLine(line, LF_TEXT("Failed to initialized TCP Socket. Port %d. Error : %s"),
                 port, error.text);
    } else {
      socketBound.store(false);
      socketReady.store(false);
      listenSocket.store(created);
      FormatLine(line, LF_TEXT("Successfully initialized TCP Socket. Port %d."), port);
    }
  } else {
    FormatLine(line, LF_TEXT("TCP Socket already initialized. Port %d."), port);
  }
  Log(level, line);

  int32_t result = 0;
  const SocketHandle socket = listenSocket.load();
  if (socket != kInvalidSocket) {
    level = kLogInfo;
    // A socket bound by an earlier attempt whose listen failed only needs
    // the listen again; binding it twice would fail for good.
    bool bound = socketBound.load();
    if (!bound) {
      FillLocalAddress(port);
      if (SocketBind(socket, localAddress) != 0) {
        const SocketErrorText error(SocketLastError());
        level = kLogError;
        FormatLine(line, LF_TEXT("Failed to bind the TCP socket. Port : %d Error : %s."),
                   port, error.text);
      } else {
        bound = true;
        socketBound.store(true);
        LogLineBuffer boundLine;
        FormatLine(boundLine, LF_TEXT("Successfully bind to the TCP socket. Port : %d"), port);
        Log(kLogInfo, boundLine);
      }
    }
    if (bound) {
      if (SocketListen(socket, kSomaxconn) != 0) {
        const SocketErrorText error(SocketLastError());
        level = kLogError;
        FormatLine(line, LF_TEXT("Failed to listen on the TCP socket. Port : %d Error : %s."), port,
                   error.text);
      } else {
        socketReady.store(true);
        state.store(kServerListening);
        startEvent->Reset();
        result = 1;
        FormatLine(line, LF_TEXT("Start listening on the TCP socket. Port : %d"), port);
      }
    }
    Log(level, line);
  }
  PublishCurrentStatus();
  return result;
}

int32_t TcpServer::AcceptLoop() {
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("TCP server waiting to accept a client connection on Port : %d."),
             SettingsPort());
  Log(kLogInfo, line);

  int32_t code = 0;
  for (;;) {
    const SocketHandle socket = CurrentListenSocket();
    if (socket == kInvalidSocket || SocketWaitReadable(socket, -1) < 0) {
      code = SocketLastError();
      break;
    }
    SocketAddressIn peer{};
    const SocketHandle client = SocketAccept(socket, &peer);
    if (client == kInvalidSocket) {
      const SocketErrorText error(SocketLastError());
      FormatLine(line, LF_TEXT("Error establising TCP client connection with port : %d. Error : %s"),
                 SettingsPort(), error.text);
      Log(kLogError, line);
      stopEvent->Wait(kAcceptRetryMs);
      continue;
    }

    CloseClientConnections(0);
    char dotted[16];
    AddressToText(peer, dotted);
    FormatLine(line, LF_TEXT("TCP client connected to Port : %d from %S"), SettingsPort(), dotted);
    Log(kLogInfo, line);

    std::unique_ptr<TcpClientConnection> connection(new (std::nothrow) TcpClientConnection());
    if (!connection) {
      SocketClose(client);
      continue;
    }
    connection->Attach(client, peer, this);
    // Listed and started under one hold of the lock: a Start that closes all
    // clients either finds the connection or comes before its reader reads
    // the time-out; and no other thread can destroy the connection before
    // its reader has started.
    {
      AutoLock guard(clientLock);
      try {
        clients.push_back(std::move(connection));
      } catch (const std::exception&) {
        // Not listed: `connection` still owns it and closes it below.
      }
      if (!connection) clients.back()->StartReader();
    }
  }

  const SocketErrorText error(code);
  FormatLine(line, LF_TEXT("Stopped waiting for incomming connections on port : %d. Error : %s"),
             SettingsPort(), error.text);
  Log(kLogError, line);
  return code;
}

void TcpServer::CloseClientConnections(int32_t closeAll) {
  std::list<std::unique_ptr<TcpClientConnection>> removed;
  {
    AutoLock guard(clientLock);
    for (auto it = clients.begin(); it != clients.end();) {
      auto next = std::next(it);
      if (closeAll != 0 || (*it)->IsDead()) removed.splice(removed.end(), clients, it);
      it = next;
    }
  }
  // Outside the lock: a reader may be waiting for it in Dispatch.
  for (auto& connection : removed) connection->Close();
}

std::size_t TcpServer::ClientCount() const {
  AutoLock guard(clientLock);
  return clients.size();
}

int32_t TcpServer::CloseSocket() {
  CloseClientConnections(1);
  CloseListenSocket();
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("Listening TCP socket closed. Port : %d."), SettingsPort());
  Log(kLogInfo, line);
  state.store(kServerClosed);
  PublishCurrentStatus();
  return 1;
}

void TcpServer::Start() {
  if (!IsSocketOpen()) {
    CloseClientConnections(1);
    // Delivery is enabled before the worker is woken: a client that connects
    // as soon as the socket listens must not have its first block dropped as
    // if the server were suspended.
    dispatchEnabled.store(1);
    appliedTimeout.store(static_cast<uint32_t>(SettingsTcpTimeout()));
    WakeWorker();
  } else {
    const int32_t configured = SettingsTcpTimeout();
    if (appliedTimeout.load() == 0 && configured != 0) {
      // Readers waiting without limit would never see the new time-out.
      LogLineBuffer line;
      FormatLine(line,
                 LF_TEXT("TCP connection timeout change from INFINITE to %d seconds. Closeing all "
                         "the existing connections."),
                 configured);
      Log(kLogError, line);
      CloseClientConnections(1);
    } else {
      CloseClientConnections(0);
    }
    if (socketReady.load()) state.store(kServerListening);
    PublishCurrentStatus();
  }
  dispatchEnabled.store(1);
  appliedTimeout.store(static_cast<uint32_t>(SettingsTcpTimeout()));
}

void TcpServer::Suspend() {
  dispatchEnabled.store(0);
  state.store(kServerSuspended);
  PublishCurrentStatus();
  CloseClientConnections(0);
}

void TcpServer::Dispatch(const uint8_t* data, int32_t length) {
  AutoLock guard(clientLock);
  DispatchToPlugin(data, length);
}

}  // namespace lanfeed
