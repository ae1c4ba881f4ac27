// Network addresses and address prefixes as the settings name them:
// BindAddress ("127.0.0.1", "::1", "::") and AllowedPeers
// ("192.168.10.0/24, 10.1.2.3, fd00::/8").
//
// Parsing is strict (a text is either wholly an address or not one) and
// allocates nothing; it runs on any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lanfeed {

enum NetFamily : int32_t {
  kNetNone = 0,  // no address (a setting that is absent)
  kNetIpv4 = 4,
  kNetIpv6 = 6,
};

// An IPv4 address in bytes[0..3] (network order) or an IPv6 address in
// bytes[0..15]; unused bytes are 0.
struct NetAddress {
  int32_t family;
  uint8_t bytes[16];
};

// An address and the count of its leading bits that must match: 32 (IPv4)
// or 128 (IPv6) for a single address.
struct NetPrefix {
  NetAddress address;
  int32_t bits;
};

// Room for every address text with its NUL, IPv6 ones included.
inline constexpr int32_t kNetAddressTextCapacity = 46;
// Entries an allow-list holds at most.
inline constexpr int32_t kMaxAllowedPeers = 32;

// Parses `length` characters of `text`: a dotted IPv4 address (four decimal
// numbers 0 to 255) or an IPv6 address in its usual forms ("::1", "fd00::5",
// "::ffff:10.1.2.3"). False, with `*out` unchanged, for anything else.
bool ParseNetAddress(const char* text, std::size_t length, NetAddress* out);

// An address, optionally followed by "/" and a prefix length (0 to 32 for
// IPv4, 0 to 128 for IPv6). Bits beyond the prefix length must be 0
// ("10.1.2.0/24", not "10.1.2.3/24").
bool ParseNetPrefix(const char* text, std::size_t length, NetPrefix* out);

// A list of prefixes separated by commas and/or spaces (tabs, line breaks).
// Returns the number of entries written to `out` (at most `capacity`), 0 for
// an empty list, or -1 when any entry is not a prefix or there are more
// than `capacity`.
int32_t ParseNetPrefixList(const char* text, NetPrefix* out, int32_t capacity);

// True when the leading `prefix.bits` bits of `address` are those of the
// prefix and both are of one family. An IPv4 address mapped into IPv6
// (::ffff:a.b.c.d, as a dual-stack socket reports an IPv4 peer) is compared
// as the IPv4 address it carries.
bool PrefixMatches(const NetPrefix& prefix, const NetAddress& address);

// The IPv4 address an IPv4-mapped IPv6 address (::ffff:a.b.c.d) carries;
// any other address unchanged.
NetAddress Unmapped(const NetAddress& address);

// Two addresses are the same (a mapped IPv4 address equals its IPv4 form).
bool SameAddress(const NetAddress& a, const NetAddress& b);

// The usual text of the address ("127.0.0.1", "::1", "fd00::5"), with its
// NUL; the IPv6 form is the shortest, lower case, "::" for the longest run
// of zero groups.
void NetAddressToText(const NetAddress& address, char (&out)[kNetAddressTextCapacity]);

}  // namespace lanfeed
