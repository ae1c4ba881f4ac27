// The whole configuration of the plug-in, read from the host's Device element.
// Reading never fails: every missing, empty or out-of-range value takes its
// default, so the result is always a complete record.
#pragma once

#include <cstdint>

#include "plugin/config/feedback_params.h"
#include "plugin/config/net_address.h"

namespace lanfeed {

class ConfigNode;

inline constexpr int32_t kDefaultPort = 58627;
inline constexpr int32_t kDefaultTcpTimeout = 60;
inline constexpr int32_t kProtocolUdp = 0;
inline constexpr int32_t kProtocolTcp = 1;

// How a TCP connection's byte stream is cut into records (UDP datagrams stay
// whole).
enum FramingMode : int32_t {
  kFramingNone = 0,       // a record is what one receive returned
  kFramingLine = 1,       // a record ends after each LF byte
  kFramingDelimiter = 2,  // a record ends after each FrameDelimiter
  kFramingFixed = 3,      // every record is FrameLength bytes
};
inline constexpr int32_t kMaxFrameDelimiterBytes = 8;
// Also the longest record: a message that reaches it without its end is
// delivered as a record of this length.
inline constexpr int32_t kMaxFrameLength = 8192;

// MaxClients and MaxClientsPerPeer take 1 to this many; 0 means no limit.
inline constexpr int32_t kMaxClientsLimit = 100000;

class DeviceSettings {
 public:
  // Enabled 1, Protocol 1 (TCP), Port 58627, TCPTimeout 60, no feedback at
  // all, no framing, every local IPv4 address, every peer, no client limit.
  DeviceSettings();
  ~DeviceSettings();  // frees the wave-file path
  // Deep copies: the copy owns a wave-file path buffer of its own.
  DeviceSettings(const DeviceSettings& other);
  DeviceSettings& operator=(const DeviceSettings& other);

  // `node` stands on the Device element, or is null. Resets port, protocol,
  // time-out, feedback, framing, bind address, allow-list and client
  // limits, then reads. Enabled and Reserved keep
  // their values.
  void ReadDevice(ConfigNode* node);
  // `node` stands on the Feedback element, or is null. Resets the feedback,
  // then reads OnDispatch.
  void ReadFeedback(ConfigNode* node);
  // `node` stands on OnDispatch. Does nothing when either argument is null.
  static void ReadOnDispatch(ConfigNode* node, FeedbackParams* feedback);

  // Frees the path; beeper on with 300 and 3000, everything else 0.
  void ResetFeedback();

  int32_t Enabled;
  int32_t Protocol;
  uint32_t Reserved;
  int32_t Port;
  int32_t TCPTimeout;
  FeedbackParams Feedback;
  // Framing, FrameDelimiter and FrameLength. Framing is kFramingNone unless
  // the rule it names is complete: delimiter needs a FrameDelimiter of 1 to
  // 8 bytes, fixed a FrameLength of 1 to kMaxFrameLength.
  int32_t Framing;
  int32_t FrameDelimiterLength;  // 0: none
  uint8_t FrameDelimiter[kMaxFrameDelimiterBytes];
  int32_t FrameLength;  // 0: none
  // BindAddress: the one local address served; family kNetNone (absent,
  // empty or not an address): every local IPv4 address.
  NetAddress BindAddress;
  // AllowedPeers: the senders served. 0 entries (absent, empty, or any entry
  // not an address or prefix, or more than kMaxAllowedPeers): everyone.
  int32_t AllowedPeerCount;
  NetPrefix AllowedPeers[kMaxAllowedPeers];
  // MaxClients and MaxClientsPerPeer: TCP clients at once, in all and from
  // one address; 0 (absent or not 1 to kMaxClientsLimit): no limit.
  int32_t MaxClients;
  int32_t MaxClientsPerPeer;

  // True when any of the four above is set: only then does a server look at
  // who sends.
  bool HasPeerRules() const { return AllowedPeerCount > 0 || MaxClients > 0 || MaxClientsPerPeer > 0; }
  // True when `peer` may send (no allow-list, or an entry matches).
  bool IsPeerAllowed(const NetAddress& peer) const;
};

// Frees `feedback->WaveFilePath` and nulls it.
void FreeWaveFilePath(FeedbackParams* feedback);

}  // namespace lanfeed
