#include "plugin/config/net_address.h"

#include <cstring>

#include "platform/socket_address.h"

namespace lanfeed {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int32_t HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal numbers 0 to 255 without leading zeros, into `out[0..3]`.
bool ParseIpv4(const char* text, std::size_t length, uint8_t* out) {
  std::size_t at = 0;
  for (int32_t part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= length || text[at] != '.') return false;
      ++at;
    }
    const std::size_t begin = at;
    int32_t value = 0;
    while (at < length && IsDigit(text[at]) && at - begin < 3) value = value * 10 + (text[at++] - '0');
    const std::size_t digits = at - begin;
    if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0')) return false;
    out[part] = static_cast<uint8_t>(value);
  }
  return at == length;
}

// Up to eight groups of 1 to 4 hex digits separated by ':', at most one
// "::" standing for one or more zero groups, optionally ending with a
// dotted IPv4 address in place of the last two groups.
bool ParseIpv6(const char* text, std::size_t length, uint8_t* out) {
  uint16_t groups[8] = {};
  int32_t count = 0;
  int32_t gap = -1;  // the group index where "::" stands
  std::size_t at = 0;
  if (length >= 2 && text[0] == ':' && text[1] == ':') {
    gap = 0;
    at = 2;
  } else if (length >= 1 && text[0] == ':') {
    return false;
  }
  while (at < length) {
    // An IPv4 tail: the rest holds a '.' before any ':'.
    std::size_t end = at;
    bool dotted = false;
    while (end < length && text[end] != ':') {
      if (text[end] == '.') dotted = true;
      ++end;
    }
    if (dotted) {
      uint8_t v4[4];
      if (end != length || count > 6 || !ParseIpv4(text + at, length - at, v4)) return false;
      groups[count++] = static_cast<uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<uint16_t>(v4[2] << 8 | v4[3]);
      at = length;
      break;
    }
    const std::size_t digits = end - at;
    if (digits == 0 || digits > 4 || count == 8) return false;
    uint32_t value = 0;
    for (std::size_t i = at; i < end; ++i) {
      const int32_t digit = HexValue(text[i]);
      if (digit < 0) return false;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    groups[count++] = static_cast<uint16_t>(value);
    at = end;
    if (at == length) break;
    ++at;  // the ':'
    if (at < length && text[at] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++at;
    } else if (at == length) {
      return false;  // a single ':' at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  uint16_t full[8] = {};
  if (gap < 0) {
    std::memcpy(full, groups, sizeof full);
  } else {
    const int32_t tail = count - gap;
    for (int32_t i = 0; i < gap; ++i) full[i] = groups[i];
    for (int32_t i = 0; i < tail; ++i) full[8 - tail + i] = groups[gap + i];
  }
  for (int32_t i = 0; i < 8; ++i) {
    out[2 * i] = static_cast<uint8_t>(full[i] >> 8);
    out[2 * i + 1] = static_cast<uint8_t>(full[i] & 0xFF);
  }
  return true;
}

bool IsSeparator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

NetAddress Unmapped(const NetAddress& address) {
  if (address.family != kNetIpv6 || std::memcmp(address.bytes, kMappedPrefix, sizeof kMappedPrefix) != 0) {
    return address;
  }
  NetAddress v4{};
  v4.family = kNetIpv4;
  std::memcpy(v4.bytes, address.bytes + 12, 4);
  return v4;
}

namespace {

int32_t AddressBits(int32_t family) { return family == kNetIpv4 ? 32 : 128; }

// The leading `bits` bits of a and b are equal.
bool LeadingBitsEqual(const uint8_t* a, const uint8_t* b, int32_t bits) {
  const int32_t whole = bits / 8;
  if (std::memcmp(a, b, static_cast<std::size_t>(whole)) != 0) return false;
  const int32_t rest = bits % 8;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

bool ParseNetAddress(const char* text, std::size_t length, NetAddress* out) {
  if (text == nullptr || out == nullptr || length == 0) return false;
  NetAddress parsed{};
  bool colon = false;
  for (std::size_t i = 0; i < length; ++i) colon = colon || text[i] == ':';
  if (colon) {
    if (!ParseIpv6(text, length, parsed.bytes)) return false;
    parsed.family = kNetIpv6;
  } else {
    if (!ParseIpv4(text, length, parsed.bytes)) return false;
    parsed.family = kNetIpv4;
  }
  *out = parsed;
  return true;
}

bool ParseNetPrefix(const char* text, std::size_t length, NetPrefix* out) {
  if (text == nullptr || out == nullptr) return false;
  std::size_t slash = 0;
  while (slash < length && text[slash] != '/') ++slash;
  NetPrefix parsed{};
  if (!ParseNetAddress(text, slash, &parsed.address)) return false;
  const int32_t most = AddressBits(parsed.address.family);
  parsed.bits = most;
  if (slash < length) {
    const std::size_t digits = length - slash - 1;
    if (digits == 0 || digits > 3 || (digits > 1 && text[slash + 1] == '0')) return false;
    int32_t bits = 0;
    for (std::size_t i = slash + 1; i < length; ++i) {
      if (!IsDigit(text[i])) return false;
      bits = bits * 10 + (text[i] - '0');
    }
    if (bits > most) return false;
    parsed.bits = bits;
    // Host bits set: the writer meant another prefix than the one named.
    for (int32_t bit = bits; bit < most; ++bit) {
      if ((parsed.address.bytes[bit / 8] >> (7 - bit % 8)) & 1) return false;
    }
  }
  *out = parsed;
  return true;
}

int32_t ParseNetPrefixList(const char* text, NetPrefix* out, int32_t capacity) {
  if (text == nullptr) return 0;
  int32_t count = 0;
  const std::size_t length = std::strlen(text);
  std::size_t at = 0;
  while (at < length) {
    while (at < length && IsSeparator(text[at])) ++at;
    if (at == length) break;
    std::size_t end = at;
    while (end < length && !IsSeparator(text[end])) ++end;
    if (count == capacity) return -1;
    if (!ParseNetPrefix(text + at, end - at, &out[count])) return -1;
    ++count;
    at = end;
  }
  return count;
}

bool PrefixMatches(const NetPrefix& prefix, const NetAddress& address) {
  const NetAddress peer = Unmapped(address);
  const NetAddress wanted = Unmapped(prefix.address);
  int32_t bits = prefix.bits;
  // A prefix written as ::ffff:10.0.0.0/104 covers IPv4 addresses too.
  if (wanted.family == kNetIpv4 && prefix.address.family == kNetIpv6) bits = bits > 96 ? bits - 96 : 0;
  if (peer.family != wanted.family || peer.family == kNetNone) return false;
  return LeadingBitsEqual(wanted.bytes, peer.bytes, bits);
}

bool SameAddress(const NetAddress& a, const NetAddress& b) {
  const NetAddress x = Unmapped(a);
  const NetAddress y = Unmapped(b);
  return x.family == y.family && std::memcmp(x.bytes, y.bytes, sizeof x.bytes) == 0;
}

void NetAddressToText(const NetAddress& address, char (&out)[kNetAddressTextCapacity]) {
  static_assert(kNetAddressTextCapacity == kAddressTextCapacity);
  SocketAddress socketAddress{};
  if (address.family == kNetIpv4) socketAddress.family = static_cast<uint16_t>(kAfInet);
  if (address.family == kNetIpv6) socketAddress.family = static_cast<uint16_t>(kAfInet6);
  std::memcpy(socketAddress.address, address.bytes, sizeof address.bytes);
  AddressToText(socketAddress, out);
}

}  // namespace lanfeed
