// The sender of the record being delivered, as GetLanFeedDeliveryPeer tells
// it to the host: the delivering thread publishes it for the time of its
// ShowFeedback and Deliver calls, and only that thread can read it.
//
// A small process-wide table of slots, each a thread identifier and the
// sender's text. Every server delivers from one thread at a time (the TCP
// server's delivery lock, the UDP worker), so a slot per server is all that
// is ever taken; should every slot be taken, the record goes out without a
// published sender and the host reads an empty one.
//
// Cost: publishing is a compare-and-swap and a copy of the text, ending it
// one store; a look-up reads the slots. No lock, no allocation, no system
// call; a host calling from any thread never waits for a delivery.
#pragma once

#include <cstdint>

#include "platform/sockets.h"
#include "plugin/config/net_address.h"

namespace lanfeed {

// Room for the longest sender text with its NUL ("[1:2:3:4:5:6:7:8]:65535"
// with full groups); an IPv4 sender needs 22.
inline constexpr int32_t kPeerTextCapacity = 48;

// The address of a peer as the settings' rules compare it and the log lines
// name it: an IPv4 peer of a dual-stack socket (::ffff:a.b.c.d) as the IPv4
// address it is.
NetAddress PeerAddressOf(const SocketAddress& peer);
// The usual text of PeerAddressOf(peer): "127.0.0.1", "::1".
void PeerAddressText(const SocketAddress& peer, char (&out)[kNetAddressTextCapacity]);

// "127.0.0.1:53211", "[::1]:53211": `addressText`, as PeerAddressText wrote
// it for a peer (in brackets when it is IPv6), and the peer's port (network
// order, as SocketAddress keeps it).
void PeerToText(const char (&addressText)[kNetAddressTextCapacity], uint16_t port,
                char (&out)[kPeerTextCapacity]);

// Publishes a sender for the calling thread while it lives.
class DeliveryPeerScope {
 public:
  // `peer`: NUL-terminated text shorter than kPeerTextCapacity, copied; null
  // publishes nothing.
  explicit DeliveryPeerScope(const char* peer);
  ~DeliveryPeerScope();
  DeliveryPeerScope(const DeliveryPeerScope&) = delete;
  DeliveryPeerScope& operator=(const DeliveryPeerScope&) = delete;

 private:
  int32_t slot_ = -1;
};

// Writes the sender published for the calling thread, NUL-terminated, into
// `text` and returns its length. Returns 0 with an empty string (when
// `capacity` allows one) when the calling thread publishes none or the text
// and its NUL do not fit `capacity`.
int32_t CopyDeliveryPeer(char* text, int32_t capacity);

}  // namespace lanfeed
