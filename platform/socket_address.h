// Socket addresses of the sockets service (platform/sockets.h): IPv4 and
// IPv6, in one type that every call takes and fills, byte order, and the
// usual text of an address.
//
// Nothing here allocates or calls the system; every function may be called
// from any thread.
#pragma once

#include <cstdint>

namespace lanfeed {

// Address families, as Windows numbers them (AF_INET, AF_INET6).
inline constexpr int32_t kAfInet = 2;
inline constexpr int32_t kAfInet6 = 23;
inline constexpr uint32_t kInaddrAny = 0;                // host order
inline constexpr uint32_t kInaddrLoopback = 0x7F000001;  // host order

// An IPv4 or IPv6 socket address. Each backend converts it to and from the
// system's own sockaddr_in or sockaddr_in6.
struct SocketAddress {
  uint16_t family;  // kAfInet or kAfInet6
  uint16_t port;    // network byte order
  // IPv4: bytes 0 to 3; IPv6: all 16; network order. All 0: every local
  // address of the family.
  uint8_t address[16];
  uint32_t scopeId;  // IPv6 only: the interface of a link-local address
};

uint16_t HostToNetShort(uint16_t value);
uint32_t HostToNetLong(uint32_t value);

// An IPv4 socket address from host-order parts.
SocketAddress MakeSocketAddress(uint32_t host_address, uint16_t host_port);
// An IPv6 socket address from its 16 bytes (network order) and a host-order port.
SocketAddress MakeSocketAddress6(const uint8_t (&bytes)[16], uint16_t host_port);
// "::1" as a socket address.
SocketAddress Ipv6Loopback(uint16_t host_port);

// The IPv4 address (network order) of an IPv4 socket address.
uint32_t Ipv4Of(const SocketAddress& address);
// Whether the address is the wildcard of its family (0.0.0.0 or ::).
bool IsAnyAddress(const SocketAddress& address);
// Whether an IPv6 address is an IPv4 address mapped into IPv6
// (::ffff:a.b.c.d), as a dual-stack socket reports an IPv4 peer.
bool IsMappedIpv4(const SocketAddress& address);

// Room for the longest address text with its NUL
// ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255" has 45 characters).
inline constexpr int32_t kAddressTextCapacity = 46;

// The usual text of the address: dotted for IPv4; for IPv6 the shortest form
// in lower case, "::" for the longest run of two or more zero groups, and
// the dotted form for the last two groups of a mapped IPv4 address
// ("::ffff:10.1.2.3"). An address of neither family gives "".
void AddressToText(const SocketAddress& address, char (&out)[kAddressTextCapacity]);

}  // namespace lanfeed
