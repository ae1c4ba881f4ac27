#include "plugin/servers/udp_server.h"

#include <memory>
#include <new>

#include "platform/format.h"
#include "plugin/servers/delivery_peer.h"
#include "plugin/servers/refusal_log.h"
#include "plugin/servers/socket_error_text.h"

namespace lanfeed {

namespace {
constexpr OpenSocketLines kUdpOpenLines{
    kSockDgram,
    kIpprotoUdp,
    LF_TEXT("Failed to initialized UDP Socket. Port %d. Error : %s"),
    LF_TEXT("Successfully initialized UDP Socket. Port %d."),
    nullptr,  // a socket still open is bound again, or served, silently
    LF_TEXT("Failed to bind the UDP socket. Port : %d Error : %s."),
    LF_TEXT("Successfully bind to the UDP socket. Port : %d"),
    nullptr,  // bound is ready
};
constexpr RefusalLines kUdpRefusalLines{
    LF_TEXT("Refused UDP data to Port : %d from %S. %s"),
    LF_TEXT("Refused UDP data to Port : %d from %S. %s The line stands for %d refused datagrams."),
};
}  // namespace

UdpServer::UdpServer() = default;

UdpServer::~UdpServer() { UninitializeIfNeeded(); }

int32_t UdpServer::Initialize() {
  return StartLibraryAndEvents(LF_TEXT("Failed to initialize the UDP server socket. Error : %s."));
}

int32_t UdpServer::Uninitialize() {
  StopWorker();
  ReleaseEventsAndLibrary();
  return 1;
}

int32_t UdpServer::OpenSocket() { return OpenSocketSteps(kUdpOpenLines); }

int32_t UdpServer::ReceiveLoop() {
  if (listenSocket.load() == kInvalidSocket) return kWsaEnotsock;
  LogLineBuffer line;
  FormatLine(line, LF_TEXT("UDP server waiting for incomming data on Port : %d."), SettingsPort());
  Log(kLogInfo, line);

  int32_t code = 0;
  // Refusals are written at most about once a second; the receive's wait
  // then ends in time to write the last count. Without refusals it has no
  // limit, as ever.
  RefusalLog refusals(kUdpRefusalLines);
  for (;;) {
    const SocketHandle socket = CurrentListenSocket();
    if (socket == kInvalidSocket) {
      code = SocketLastError();
      break;
    }
    // A fresh buffer per datagram: nothing of one datagram outlives its
    // handling.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kReceiveBufferSize]);
    if (!buffer) {
      // Any datagram stays queued; try again shortly (or stop).
      stopEvent->Wait(100);
      continue;
    }
    // One call waits (only when no datagram is queued) and receives. A
    // failed call ends the loop; a failed receive is logged below.
    SocketAddress sender{};
    const SocketReceiveResult received =
        SocketRecvWithin(socket, buffer.get(), kReceiveBufferSize, &sender, refusals.MsUntilDue());
    if (received.outcome == SocketReceiveResult::kCallFailed) {
      code = received.error;
      break;
    }
    refusals.WriteDue(SettingsPort());
    if (received.outcome == SocketReceiveResult::kTimedOut) continue;
    const bool hasData = received.outcome == SocketReceiveResult::kReceived && received.count > 0;
    if (hasData && SettingsHavePeerRules() && !PinSettings()->IsPeerAllowed(PeerAddressOf(sender))) {
      // Dropped unseen: no delivery, no feedback.
      char dotted[kNetAddressTextCapacity];
      PeerAddressText(sender, dotted);
      refusals.Refused(kRefusedNotAllowed, dotted, SettingsPort());
      continue;
    }
    if (!hasData) {
      // A failed receive, or an empty datagram, whose error is 0 ("Error undefined.").
      const SocketErrorText error(received.error);
      FormatLine(line, LF_TEXT("Error reading data from UDP server socket on port : %d. Error : %s"),
                 SettingsPort(), error.text);
      Log(kLogError, line);
    } else {
      HandleDatagram(buffer.get(), received.count, sender);
    }
  }

  refusals.WriteAll(SettingsPort());
  const SocketErrorText error(code);
  FormatLine(line, LF_TEXT("Stop waiting for incomming data on UDP Port %d. Error : %s."),
             SettingsPort(), error.text);
  Log(kLogError, line);
  return code;
}

int32_t UdpServer::HandleDatagram(const uint8_t* data, int32_t length,
                                  const SocketAddress& sender) {
  MarkServed();
  char dotted[kNetAddressTextCapacity];
  PeerAddressText(sender, dotted);
  LogLineBuffer line;
  if (IsDispatchEnabled()) {
    FormatLine(line, LF_TEXT("Received data from UDP client:%S."), dotted);
    char peer[kPeerTextCapacity];
    PeerToText(dotted, sender.port, peer);
    DispatchToPlugin(data, length, peer);
    Log(kLogInfo, line);
  } else {
    FormatLine(line,
               LF_TEXT("Received data from UDP client:%S. Data reading is suspended. Not "
                       "dispatching data."),
               dotted);
    Log(kLogInfo, line);
  }
  return 1;
}

int32_t UdpServer::CloseSocket() {
  if (CloseListenSocket()) {
    LogLineBuffer line;
    FormatLine(line, LF_TEXT("Listening UDP socket closed. Port : %d."), SettingsPort());
    Log(kLogInfo, line);
  }
  state.store(kServerClosed);
  PublishCurrentStatus();
  return 1;
}

void UdpServer::Start() {
  dispatchEnabled.store(1);
  if (!IsSocketOpen()) {
    WakeWorker();
  } else {
    if (socketReady.load()) state.store(kServerListening);
    PublishCurrentStatus();
  }
}

void UdpServer::Suspend() {
  dispatchEnabled.store(0);
  state.store(kServerSuspended);
  PublishCurrentStatus();
}

void UdpServer::Dispatch(const uint8_t* data, int32_t length) { DispatchToPlugin(data, length); }

}  // namespace lanfeed
