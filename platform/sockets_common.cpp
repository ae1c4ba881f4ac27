// Backend-independent parts of the sockets service: byte order, address text,
// the fault-injection seam and the argument checks that both backends consult.
#include <atomic>
#include <bit>
#include <cstdio>
#include <mutex>

#include "platform/sockets.h"
#include "platform/sockets_internal.h"

namespace lanfeed {

uint16_t HostToNetShort(uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<uint16_t>((value << 8) | (value >> 8));
}

uint32_t HostToNetLong(uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

SocketAddressIn MakeSocketAddress(uint32_t host_address, uint16_t host_port) {
  SocketAddressIn address{};
  address.family = static_cast<uint16_t>(kAfInet);
  address.port = HostToNetShort(host_port);
  address.address = HostToNetLong(host_address);
  return address;
}

void AddressToText(const SocketAddressIn& address, char (&out)[16]) {
  // The address is stored in network order, so its bytes in memory are the
  // dotted parts from left to right.
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address.address);
  std::snprintf(out, sizeof out, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

namespace {

constexpr int kOpCount = 6;

struct FaultTable {
  std::mutex mutex;
  int32_t codes[kOpCount] = {};
  uint32_t uses[kOpCount] = {};  // calls left to fail with the code
  // Lets the fast path skip the mutex while nothing is injected.
  std::atomic<int> pending{0};
};

FaultTable& Faults() {
  static FaultTable table;
  return table;
}

}  // namespace

void InjectSocketFault(SocketOp op, int32_t code, uint32_t times) {
  FaultTable& table = Faults();
  std::lock_guard<std::mutex> guard(table.mutex);
  int32_t& slot = table.codes[static_cast<int>(op)];
  if (slot != 0) table.pending.fetch_sub(1);
  slot = times != 0 ? code : 0;
  table.uses[static_cast<int>(op)] = times;
  if (slot != 0) table.pending.fetch_add(1);
}

void ClearSocketFaults() {
  FaultTable& table = Faults();
  std::lock_guard<std::mutex> guard(table.mutex);
  for (int32_t& slot : table.codes) slot = 0;
  table.pending.store(0);
}

namespace sockets_internal {

int32_t TakeSocketFault(SocketOp op) {
  FaultTable& table = Faults();
  if (table.pending.load() == 0) return 0;
  std::lock_guard<std::mutex> guard(table.mutex);
  int32_t& slot = table.codes[static_cast<int>(op)];
  const int32_t code = slot;
  if (code != 0 && --table.uses[static_cast<int>(op)] == 0) {
    slot = 0;
    table.pending.fetch_sub(1);
  }
  return code;
}

int32_t CheckCreate(bool started, int32_t family, int32_t type) {
  if (!started) return kWsaNotinitialised;
  if (const int32_t code = TakeSocketFault(SocketOp::kSocket)) return code;
  // Only IPv4 addresses can be expressed through this interface.
  if (family != kAfInet) return kWsaEafnosupport;
  if (type != kSockStream && type != kSockDgram) return kWsaEsocktnosupport;
  return 0;
}

int32_t CheckBind(const SocketState& socket, const SocketAddressIn& address) {
  if (const int32_t code = TakeSocketFault(SocketOp::kBind)) return code;
  if (address.family != kAfInet) return kWsaEafnosupport;
  if (socket.bound) return kWsaEinval;
  return 0;
}

int32_t CheckListen(const SocketState& socket) {
  if (const int32_t code = TakeSocketFault(SocketOp::kListen)) return code;
  if (socket.type != kSockStream) return kWsaEopnotsupp;
  if (socket.connected) return kWsaEisconn;
  // Linux would pick a port itself; Windows refuses.
  if (!socket.bound) return kWsaEinval;
  return 0;
}

int32_t CheckAccept(const SocketState& socket) {
  if (const int32_t code = TakeSocketFault(SocketOp::kAccept)) return code;
  if (!socket.listening) return kWsaEinval;
  return 0;
}

int32_t CheckConnect(const SocketState& socket, const SocketAddressIn& address) {
  if (address.family != kAfInet) return kWsaEafnosupport;
  if (socket.listening) return kWsaEinval;
  return 0;
}

}  // namespace sockets_internal

// A receive is a receive-from that does not ask for the sender: on a stream
// socket both read the stream, on a datagram socket both take one datagram.
int32_t SocketRecv(SocketHandle s, void* buffer, int32_t length) {
  return SocketRecvFrom(s, buffer, length, nullptr);
}

}  // namespace lanfeed
