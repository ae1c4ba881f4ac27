// A HostServices that records every call with its arguments and thread, for
// tests of the plug-in object and the servers. Thread-safe. It fails the
// running test if two Deliver calls ever overlap.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/config/feedback_params.h"
#include "plugin/host_services.h"

namespace lanfeed::testing {

struct RecordedCall {
  enum class Kind { kDeliver, kFeedback, kLog, kStatus };
  Kind kind;
  std::thread::id thread;
  // Deliver
  uint8_t consumer = 0;
  uint8_t fixed[5] = {};
  uint32_t length = 0;
  const uint8_t* dataPointer = nullptr;
  const InputDataRecord* recordPointer = nullptr;
  std::string bytes;
  // Feedback (the path is copied as UTF-8; wavePathNull tells a null pointer)
  FeedbackParams feedback{};
  std::string wavePath;
  bool wavePathNull = true;
  // Log
  int32_t level = 0;
  std::string text;  // UTF-8
  // Status
  int32_t property = 0;
  int32_t size = 0;
  int32_t status = 0;
};

class RecordingHost final : public HostServices {
 public:
  int32_t Deliver(const InputDataRecord* record) override;
  int32_t ShowFeedback(const FeedbackParams* params) override;
  int32_t WriteLog(int32_t level, const WChar* text) override;
  int32_t SetStatusProperty(int32_t property, int32_t size, const void* value) override;

  // Runs inside every Deliver call, after it was recorded (e.g. to block).
  void SetDeliverHook(std::function<void(const InputDataRecord&)> hook);
  // Runs inside every ShowFeedback call, after it was recorded.
  void SetFeedbackHook(std::function<void(const FeedbackParams&)> hook);

  std::vector<RecordedCall> Calls() const;
  std::vector<RecordedCall> Calls(RecordedCall::Kind kind) const;
  std::vector<RecordedCall> Deliveries() const { return Calls(RecordedCall::Kind::kDeliver); }
  std::vector<RecordedCall> Feedbacks() const { return Calls(RecordedCall::Kind::kFeedback); }
  std::vector<RecordedCall> Logs() const { return Calls(RecordedCall::Kind::kLog); }
  std::vector<int32_t> Statuses() const;
  // Log lines joined with their level: "3 text".
  std::vector<std::string> LogLines() const;
  // Concatenation of every delivered block, in delivery order.
  std::string DeliveredBytes() const;
  std::size_t CountLogs(const std::string& text) const;
  int32_t LastStatus() const;  // -1 when none was published
  void Clear();

  // Waits until `pred` holds over the recorded calls, at most `timeout`.
  bool WaitFor(const std::function<bool(const std::vector<RecordedCall>&)>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool WaitForLog(const std::string& text, std::size_t count = 1,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  bool WaitForDeliveredBytes(std::size_t count,
                             std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  int overlappingDeliveries() const { return overlaps_.load(); }

 private:
  void Record(RecordedCall call);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<RecordedCall> calls_;
  std::function<void(const InputDataRecord&)> deliverHook_;
  std::function<void(const FeedbackParams&)> feedbackHook_;
  std::atomic<int> inDeliver_{0};
  std::atomic<int> overlaps_{0};
};

}  // namespace lanfeed::testing
