#include "plugin/servers/tcp_server.h"

#include <new>

#include "platform/format.h"
#include "plugin/servers/socket_error_text.h"
#include "plugin/servers/tcp_client_connection.h"

namespace lanfeed {

namespace {
constexpr PortLine kAlreadyOpenLine{LF_TEXT("TCP Socket already initialized. Port %d.")};
constexpr ListenLines kListenLines{
    LF_TEXT("Failed to listen on the TCP socket. Port : %d Error : %s."),
    LF_TEXT("Start listening on the TCP socket. Port : %d"),
};
constexpr OpenSocketLines kTcpOpenLines{
    kSockStream,
    kIpprotoTcp,
    LF_TEXT("Failed to initialized TCP Socket. Port %d. Error : %s"),
    LF_TEXT("Successfully initialized TCP Socket. Port %d."),
    &kAlreadyOpenLine,
    LF_TEXT("Failed to bind the TCP socket. Port : %d Error : %s."),
    LF_TEXT("Successfully bind to the TCP socket. Port : %d"),
    &kListenLines,
};
constexpr RefusalLines kTcpRefusalLines{
    LF_TEXT("Refused TCP client connection to Port : %d from %S. %s"),
    LF_TEXT("Refused TCP client connection to Port : %d from %S. %s The line stands for %d refused "
            "connections."),
};
}  // namespace

TcpServer::TcpServer() = default;

TcpServer::~TcpServer() { UninitializeIfNeeded(); }

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

int32_t TcpServer::OpenSocket() { return OpenSocketSteps(kTcpOpenLines); }

int32_t TcpServer::AcceptLoop() {
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("TCP server waiting to accept a client connection on Port : %d."),
             SettingsPort());
  Log(kLogInfo, line);

  int32_t code = 0;
  // After a failed accept (out of descriptors, say) the loop pauses, growing
  // while the failure lasts, so that it writes a few lines a minute instead
  // of ten a second; a successful accept starts afresh.
  FailurePause acceptPause;
  // Refusals are written at most about once a second for each reason; the
  // wait then ends in time to write the last count. Without refusals it has
  // no limit, as ever.
  RefusalLog refusals(kTcpRefusalLines);
  for (;;) {
    const SocketHandle socket = CurrentListenSocket();
    const int32_t ready = socket == kInvalidSocket ? -1 : SocketWaitReadable(socket, refusals.MsUntilDue());
    if (ready < 0) {
      code = SocketLastError();
      break;
    }
    refusals.WriteDue(SettingsPort());
    if (ready == 0) continue;
    SocketAddress peer{};
    const SocketHandle client = SocketAccept(socket, &peer);
    if (client == kInvalidSocket) {
      const SocketErrorText error(SocketLastError());
      FormatLine(line, LF_TEXT("Error establising TCP client connection with port : %d. Error : %s"),
                 SettingsPort(), error.text);
      Log(kLogError, line);
      // Dead clients still hold their threads (and handles on Windows);
      // when descriptors or memory run short they are the first to go.
      CloseClientConnections(0);
      acceptPause.Wait(*stopEvent);
      continue;
    }
    acceptPause.Reset();
    MarkServed();

    CloseClientConnections(0);
    char dotted[kNetAddressTextCapacity];
    PeerAddressText(peer, dotted);
    RefusalReason reason = kRefusedNotAllowed;
    if (SettingsHavePeerRules() && !Admits(PeerAddressOf(peer), &reason)) {
      // Closed before anything is read, and without a reader thread.
      SocketClose(client);
      refusals.Refused(reason, dotted, SettingsPort());
      continue;
    }
    FormatLine(line, LF_TEXT("TCP client connected to Port : %d from %S"), SettingsPort(), dotted);
    Log(kLogInfo, line);

    auto* connection = new (std::nothrow) TcpClientConnection();
    if (connection == nullptr) {
      SocketClose(client);
      continue;
    }
    connection->Attach(client, peer, this);
    AddClient(connection);
  }

  refusals.WriteAll(SettingsPort());
  const SocketErrorText error(code);
  FormatLine(line, LF_TEXT("Stopped waiting for incomming connections on port : %d. Error : %s"),
             SettingsPort(), error.text);
  Log(kLogError, line);
  return code;
}

void TcpServer::AddClient(TcpClientConnection* const added) {
  {
    AutoLock guard(clientLock);
    clients.PushBack(added);
    // Until its reader runs, no other thread may destroy it: a walk that
    // removes it meanwhile leaves it listed and asks for it to be closed.
    startingClient = added;
    startingClientClosed = false;
  }
  const bool started = added->StartReader();
  ClientList failed;
  for (bool closed = false;;) {
    bool closeNow = false;
    {
      AutoLock guard(clientLock);
      if (startingClientClosed && !closed) {
        // A walk asked for it to be closed: done below, outside the lock,
        // while it is still protected from the walks.
        closeNow = true;
      } else {
        startingClient = nullptr;
        // Still listed: only a walk that finds it not starting unlists it.
        if (!started) clients.MoveTo(added, failed);
      }
    }
    if (!closeNow) break;
    added->CloseSocketOnce();
    closed = true;
  }
  // A failed one goes with `failed`, here: StartReader closed its socket, and
  // it has no reader to wait for. A started one that was closed meanwhile
  // stays listed, dead, for the next walk.
}

void TcpServer::CloseClientConnections(int32_t closeAll) {
  ClientList removed;
  {
    AutoLock guard(clientLock);
    for (TcpClientConnection* connection = clients.First(); connection != nullptr;) {
      TcpClientConnection* const next = ClientList::Next(connection);
      if (closeAll != 0 || connection->IsDead()) {
        if (connection == startingClient) {
          startingClientClosed = true;
        } else {
          clients.MoveTo(connection, removed);
        }
      }
      connection = next;
    }
  }
  // Outside the lock, which the host's thread may need while a reader is in
  // a host call. Every socket first, so that all the readers wake together,
  // then the waits.
  for (TcpClientConnection* c = removed.First(); c != nullptr; c = ClientList::Next(c)) c->CloseSocketOnce();
  for (TcpClientConnection* c = removed.First(); c != nullptr; c = ClientList::Next(c)) c->JoinReader();
}

std::size_t TcpServer::ClientCount() const {
  AutoLock guard(clientLock);
  return clients.Size();
}

std::size_t TcpServer::LiveClientCount() const {
  AutoLock guard(clientLock);
  std::size_t live = 0;
  for (const TcpClientConnection* c = clients.First(); c != nullptr; c = ClientList::Next(c)) {
    if (!c->IsDead()) ++live;
  }
  return live;
}

bool TcpServer::Admits(const NetAddress& peer, RefusalReason* reason) const {
  const SharedSettings::Pin pinned = PinSettings();
  if (!pinned->IsPeerAllowed(peer)) {
    *reason = kRefusedNotAllowed;
    return false;
  }
  const int32_t most = pinned->MaxClients;
  const int32_t mostFromPeer = pinned->MaxClientsPerPeer;
  if (most <= 0 && mostFromPeer <= 0) return true;
  int32_t live = 0;
  int32_t fromPeer = 0;
  {
    AutoLock guard(clientLock);
    for (const TcpClientConnection* c = clients.First(); c != nullptr; c = ClientList::Next(c)) {
      if (c->IsDead()) continue;
      ++live;
      if (SameAddress(c->PeerAddress(), peer)) ++fromPeer;
    }
  }
  if (most > 0 && live >= most) {
    *reason = kRefusedTooManyClients;
    return false;
  }
  if (mostFromPeer > 0 && fromPeer >= mostFromPeer) {
    *reason = kRefusedTooManyFromPeer;
    return false;
  }
  return true;
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
    // Before Listening is published: nothing that arrives once the status
    // reads 1 is dropped as suspended.
    dispatchEnabled.store(1);
    if (socketReady.load()) state.store(kServerListening);
    PublishCurrentStatus();
  }
  appliedTimeout.store(static_cast<uint32_t>(SettingsTcpTimeout()));
}

void TcpServer::Suspend() {
  dispatchEnabled.store(0);
  suspensions.fetch_add(1);
  state.store(kServerSuspended);
  PublishCurrentStatus();
  CloseClientConnections(0);
}

void TcpServer::Dispatch(const uint8_t* data, int32_t length) {
  AutoLock guard(deliveryLock);
  DispatchToPlugin(data, length);
}

void TcpServer::DispatchFrom(const uint8_t* data, int32_t length, const char* peer) {
  RecordDelivery(*this, peer).Deliver(data, length);
}

}  // namespace lanfeed
