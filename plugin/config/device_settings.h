// The whole configuration of the plug-in, read from the host's Device element.
// Reading never fails: every missing, empty or out-of-range value takes its
// default, so the result is always a complete record.
#pragma once

#include <cstdint>

#include "plugin/config/feedback_params.h"

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

class DeviceSettings {
 public:
  // Enabled 1, Protocol 1 (TCP), Port 58627, TCPTimeout 60, no feedback at
  // all, no framing.
  DeviceSettings();
  ~DeviceSettings();  // frees the wave-file path
  // Deep copies: the copy owns a wave-file path buffer of its own.
  DeviceSettings(const DeviceSettings& other);
  DeviceSettings& operator=(const DeviceSettings& other);

  // `node` stands on the Device element, or is null. Resets port, protocol,
  // time-out, feedback and framing, then reads. Enabled and Reserved keep
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
};

// Frees `feedback->WaveFilePath` and nulls it.
void FreeWaveFilePath(FeedbackParams* feedback);

}  // namespace lanfeed
