// The nine-word feedback record handed to the host before each delivery.
// Its layout is read by the host (36 bytes on the 32-bit device).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

// Bits of FeedbackParams::Flags.
enum FeedbackFlag : uint32_t {
  kFeedbackBeeper = 1,
  kFeedbackLed = 2,
  kFeedbackWaveFile = 4,
  kFeedbackVibrator = 8,
};

struct FeedbackParams {
  uint32_t Flags;
  uint16_t LEDTime;
  uint16_t LEDColor;
  int32_t BeeperTime;
  int32_t BeeperFreq;
  int32_t BeeperVolume;
  WChar* WaveFilePath;  // owned by the record that holds it; may be null
  int32_t VibratorTime;
  uint32_t Reserved1;
  uint32_t Reserved2;
};

static_assert(offsetof(FeedbackParams, LEDTime) == 4);
static_assert(offsetof(FeedbackParams, LEDColor) == 6);
static_assert(offsetof(FeedbackParams, BeeperTime) == 8);
static_assert(offsetof(FeedbackParams, BeeperFreq) == 12);
static_assert(offsetof(FeedbackParams, BeeperVolume) == 16);
static_assert(offsetof(FeedbackParams, WaveFilePath) == 20 || sizeof(void*) == 8);
static_assert(sizeof(void*) != 4 || offsetof(FeedbackParams, VibratorTime) == 24);
static_assert(sizeof(void*) != 4 || offsetof(FeedbackParams, Reserved2) == 32);
static_assert(sizeof(void*) != 4 || sizeof(FeedbackParams) == 36);
static_assert(sizeof(void*) != 8 || offsetof(FeedbackParams, WaveFilePath) == 24);
static_assert(sizeof(void*) != 8 || sizeof(FeedbackParams) == 48);

}  // namespace lanfeed
