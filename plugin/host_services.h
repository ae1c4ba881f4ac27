// Corvane's callback table as the plug-in uses it, and the records it passes.
// The operation order is the host's binary interface: do not reorder, add or
// remove virtual functions, and do not add a virtual destructor.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

struct FeedbackParams;

// Severity of a log line handed to WriteLog.
enum LogLevel : int32_t {
  kLogError = 1,
  kLogInfo = 3,
};

// Consumer identifier of the host: one unsigned byte, passed by value.
using ConsumerId = uint8_t;

// The status property that carries the listening status.
inline constexpr int32_t kListeningStatusProperty = 2;

// One block of received bytes for one consumer (16 bytes on the 32-bit device).
struct InputDataRecord {
  uint8_t Consumer;
  uint8_t Fixed[5];     // always 0, 4, 0, 0, 0
  uint32_t DataLength;  // number of bytes at Data
  const uint8_t* Data;  // the server's receive buffer; valid during the call only
};

static_assert(offsetof(InputDataRecord, Consumer) == 0);
static_assert(offsetof(InputDataRecord, Fixed) == 1);
static_assert(offsetof(InputDataRecord, DataLength) == 8);
static_assert(sizeof(void*) != 4 || offsetof(InputDataRecord, Data) == 12);
static_assert(sizeof(void*) != 4 || sizeof(InputDataRecord) == 16);
static_assert(sizeof(void*) != 8 || offsetof(InputDataRecord, Data) == 16);
static_assert(sizeof(void*) != 8 || sizeof(InputDataRecord) == 24);

class HostServices {
 public:
  // Slot 0: passes record->DataLength bytes to the consumer record->Consumer.
  virtual int32_t Deliver(const InputDataRecord* record) = 0;
  // Slot 1: plays the feedback; the record is valid during the call only.
  virtual int32_t ShowFeedback(const FeedbackParams* params) = 0;
  // Slot 2: records a NUL-terminated line; the text is valid during the call only.
  virtual int32_t WriteLog(int32_t level, const WChar* text) = 0;
  // Slot 3: publishes a status property value.
  virtual int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) = 0;

 protected:
  ~HostServices() = default;
};

}  // namespace lanfeed
