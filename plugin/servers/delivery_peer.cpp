#include "plugin/servers/delivery_peer.h"

#include <atomic>
#include <cstring>

#include "platform/thread.h"

namespace lanfeed {

namespace {

constexpr int32_t kSlots = 8;

// `thread` is 0 while the slot is free. Only the thread whose identifier it
// holds writes or reads `text`; taking the slot (acquire) comes after the
// previous holder's release, so the text is never shared between threads.
struct PeerSlot {
  std::atomic<uintptr_t> thread{0};
  char text[kPeerTextCapacity] = {};
};

// Constant-initialized: no code runs at load (the device libraries run none).
constinit PeerSlot g_slots[kSlots] = {};

}  // namespace

NetAddress PeerAddressOf(const SocketAddress& peer) {
  NetAddress address{};
  if (peer.family == kAfInet) {
    address.family = kNetIpv4;
    std::memcpy(address.bytes, peer.address, 4);
  } else if (peer.family == kAfInet6) {
    address.family = kNetIpv6;
    std::memcpy(address.bytes, peer.address, 16);
  }
  return Unmapped(address);
}

void PeerAddressText(const SocketAddress& peer, char (&out)[kNetAddressTextCapacity]) {
  NetAddressToText(PeerAddressOf(peer), out);
}

void PeerToText(const char (&addressText)[kNetAddressTextCapacity], uint16_t networkPort,
                char (&out)[kPeerTextCapacity]) {
  // A peer's IPv6 text has at most 39 characters: only a mapped IPv4 address
  // would take the longer dotted form, and PeerAddressOf unmaps those.
  static_assert(kPeerTextCapacity >= 1 + 39 + 1 + 1 + 5 + 1, "brackets, a colon, five digits, NUL");
  const std::size_t length = std::strlen(addressText);
  const bool ipv6 = std::memchr(addressText, ':', length) != nullptr;
  std::size_t at = 0;
  if (ipv6) out[at++] = '[';
  std::memcpy(out + at, addressText, length);
  at += length;
  if (ipv6) out[at++] = ']';
  out[at++] = ':';
  // The port field is in network order; the swap is its own inverse.
  uint32_t port = HostToNetShort(networkPort);
  char digits[5];
  int32_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + port % 10);
    port /= 10;
  } while (port != 0);
  while (count > 0) out[at++] = digits[--count];
  out[at] = '\0';
}

DeliveryPeerScope::DeliveryPeerScope(const char* peer) {
  if (peer == nullptr) return;
  const std::size_t length = std::strlen(peer);
  if (length >= static_cast<std::size_t>(kPeerTextCapacity)) return;
  const uintptr_t self = CurrentThreadId();
  for (int32_t i = 0; i < kSlots; ++i) {
    uintptr_t expected = 0;
    if (g_slots[i].thread.load(std::memory_order_relaxed) == 0 &&
        g_slots[i].thread.compare_exchange_strong(expected, self, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) {
      std::memcpy(g_slots[i].text, peer, length + 1);
      slot_ = i;
      return;
    }
  }
}

DeliveryPeerScope::~DeliveryPeerScope() {
  if (slot_ >= 0) g_slots[slot_].thread.store(0, std::memory_order_release);
}

int32_t CopyDeliveryPeer(char* text, int32_t capacity) {
  if (text == nullptr || capacity <= 0) return 0;
  text[0] = '\0';
  const uintptr_t self = CurrentThreadId();
  for (int32_t i = 0; i < kSlots; ++i) {
    // Only this thread ever stores its own identifier, so seeing it here
    // means this thread holds the slot and wrote the text.
    if (g_slots[i].thread.load(std::memory_order_relaxed) != self) continue;
    const std::size_t length = std::strlen(g_slots[i].text);
    if (length + 1 > static_cast<std::size_t>(capacity)) return 0;
    std::memcpy(text, g_slots[i].text, length + 1);
    return static_cast<int32_t>(length);
  }
  return 0;
}

}  // namespace lanfeed
