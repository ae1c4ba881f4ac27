// Socket addresses of the sockets service (socket_address.h): byte order,
// the addresses built from their parts and their usual text.
#include "platform/socket_address.h"

#include <bit>
#include <cstring>

namespace lanfeed {

namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// Writes the decimal digits of `value` (0 to 255) and returns the end.
char* AppendDecimal(char* at, uint32_t value) {
  if (value >= 100) *at++ = static_cast<char>('0' + value / 100);
  if (value >= 10) *at++ = static_cast<char>('0' + value / 10 % 10);
  *at++ = static_cast<char>('0' + value % 10);
  return at;
}

char* AppendDotted(char* at, const uint8_t* bytes) {
  for (int32_t i = 0; i < 4; ++i) {
    if (i > 0) *at++ = '.';
    at = AppendDecimal(at, bytes[i]);
  }
  return at;
}

char* AppendIpv6(char* at, const uint8_t (&bytes)[16]) {
  uint16_t groups[8];
  for (int32_t i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  // The longest run of two or more zero groups (the first of equal ones).
  int32_t bestStart = -1;
  int32_t bestLength = 1;
  for (int32_t i = 0; i < 8;) {
    if (groups[i] != 0) {
      ++i;
      continue;
    }
    int32_t j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (int32_t i = 0; i < 8; ++i) {
    if (i == bestStart) {
      *at++ = ':';
      *at++ = ':';
      i += bestLength - 1;
      continue;
    }
    if (i > 0 && i != bestStart + bestLength) *at++ = ':';
    bool leading = true;
    for (int32_t shift = 12; shift >= 0; shift -= 4) {
      const uint32_t digit = (groups[i] >> shift) & 0xF;
      if (digit == 0 && leading && shift != 0) continue;
      leading = false;
      *at++ = kHex[digit];
    }
  }
  return at;
}

}  // namespace

uint16_t HostToNetShort(uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<uint16_t>((value << 8) | (value >> 8));
}

uint32_t HostToNetLong(uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

SocketAddress MakeSocketAddress(uint32_t host_address, uint16_t host_port) {
  SocketAddress address{};
  address.family = static_cast<uint16_t>(kAfInet);
  address.port = HostToNetShort(host_port);
  const uint32_t network = HostToNetLong(host_address);
  std::memcpy(address.address, &network, 4);
  return address;
}

SocketAddress MakeSocketAddress6(const uint8_t (&bytes)[16], uint16_t host_port) {
  SocketAddress address{};
  address.family = static_cast<uint16_t>(kAfInet6);
  address.port = HostToNetShort(host_port);
  std::memcpy(address.address, bytes, 16);
  return address;
}

SocketAddress Ipv6Loopback(uint16_t host_port) {
  static constexpr uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return MakeSocketAddress6(kLoopback, host_port);
}

uint32_t Ipv4Of(const SocketAddress& address) {
  uint32_t network = 0;
  std::memcpy(&network, address.address, 4);
  return network;
}

bool IsAnyAddress(const SocketAddress& address) {
  const int32_t length = address.family == kAfInet6 ? 16 : 4;
  for (int32_t i = 0; i < length; ++i) {
    if (address.address[i] != 0) return false;
  }
  return true;
}

bool IsMappedIpv4(const SocketAddress& address) {
  return address.family == kAfInet6 && std::memcmp(address.address, kMappedPrefix, sizeof kMappedPrefix) == 0;
}

void AddressToText(const SocketAddress& address, char (&out)[kAddressTextCapacity]) {
  char* at = out;
  if (address.family == kAfInet) {
    at = AppendDotted(at, address.address);
  } else if (IsMappedIpv4(address)) {
    std::memcpy(at, "::ffff:", 7);
    at = AppendDotted(at + 7, address.address + 12);
  } else if (address.family == kAfInet6) {
    at = AppendIpv6(at, address.address);
  }
  *at = '\0';
}

}  // namespace lanfeed
