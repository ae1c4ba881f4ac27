#include "tests/support/recording_host.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace lanfeed::testing {

void RecordingHost::Record(RecordedCall call) {
  call.thread = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    calls_.push_back(std::move(call));
  }
  changed_.notify_all();
}

int32_t RecordingHost::Deliver(const InputDataRecord* record) {
  if (inDeliver_.fetch_add(1) != 0) {
    overlaps_.fetch_add(1);
    ADD_FAILURE() << "two Deliver calls overlap";
  }
  RecordedCall call{RecordedCall::Kind::kDeliver};
  call.consumer = record->Consumer;
  for (int i = 0; i < 5; ++i) call.fixed[i] = record->Fixed[i];
  call.length = record->DataLength;
  call.dataPointer = record->Data;
  call.recordPointer = record;
  call.bytes.assign(reinterpret_cast<const char*>(record->Data), record->DataLength);
  Record(std::move(call));
  std::function<void(const InputDataRecord&)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    hook = deliverHook_;
  }
  if (hook) hook(*record);
  inDeliver_.fetch_sub(1);
  return 0;
}

int32_t RecordingHost::ShowFeedback(const FeedbackParams* params) {
  RecordedCall call{RecordedCall::Kind::kFeedback};
  call.feedback = *params;
  call.wavePathNull = params->WaveFilePath == nullptr;
  if (!call.wavePathNull) call.wavePath = ToUtf8(params->WaveFilePath);
  call.feedback.WaveFilePath = nullptr;  // never kept beyond the call
  Record(std::move(call));
  std::function<void(const FeedbackParams&)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    hook = feedbackHook_;
  }
  if (hook) hook(*params);
  return 0;
}

int32_t RecordingHost::WriteLog(int32_t level, const WChar* text) {
  RecordedCall call{RecordedCall::Kind::kLog};
  call.level = level;
  call.text = ToUtf8(text);
  Record(std::move(call));
  return 0;
}

int32_t RecordingHost::SetStatusProperty(int32_t property, int32_t size, const void* value) {
  RecordedCall call{RecordedCall::Kind::kStatus};
  call.property = property;
  call.size = size;
  call.status = *static_cast<const int32_t*>(value);
  Record(std::move(call));
  return 0;
}

void RecordingHost::SetDeliverHook(std::function<void(const InputDataRecord&)> hook) {
  std::lock_guard<std::mutex> guard(mutex_);
  deliverHook_ = std::move(hook);
}

void RecordingHost::SetFeedbackHook(std::function<void(const FeedbackParams&)> hook) {
  std::lock_guard<std::mutex> guard(mutex_);
  feedbackHook_ = std::move(hook);
}

std::vector<RecordedCall> RecordingHost::Calls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

std::vector<RecordedCall> RecordingHost::Calls(RecordedCall::Kind kind) const {
  std::vector<RecordedCall> out;
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& c : calls_) {
    if (c.kind == kind) out.push_back(c);
  }
  return out;
}

std::vector<int32_t> RecordingHost::Statuses() const {
  std::vector<int32_t> out;
  for (const auto& c : Calls(RecordedCall::Kind::kStatus)) out.push_back(c.status);
  return out;
}

std::vector<std::string> RecordingHost::LogLines() const {
  std::vector<std::string> out;
  for (const auto& c : Logs()) out.push_back(std::to_string(c.level) + " " + c.text);
  return out;
}

std::string RecordingHost::DeliveredBytes() const {
  std::string out;
  for (const auto& c : Deliveries()) out += c.bytes;
  return out;
}

std::size_t RecordingHost::CountLogs(const std::string& text) const {
  std::size_t n = 0;
  for (const auto& c : Logs()) n += c.text == text ? 1 : 0;
  return n;
}

int32_t RecordingHost::LastStatus() const {
  auto statuses = Statuses();
  return statuses.empty() ? -1 : statuses.back();
}

void RecordingHost::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.clear();
}

bool RecordingHost::WaitFor(const std::function<bool(const std::vector<RecordedCall>&)>& pred,
                            std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return pred(calls_); });
}

bool RecordingHost::WaitForLog(const std::string& text, std::size_t count,
                               std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&](const std::vector<RecordedCall>& calls) {
        std::size_t n = 0;
        for (const auto& c : calls) n += (c.kind == RecordedCall::Kind::kLog && c.text == text) ? 1 : 0;
        return n >= count;
      },
      timeout);
}

bool RecordingHost::WaitForDeliveredBytes(std::size_t count, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&](const std::vector<RecordedCall>& calls) {
        std::size_t n = 0;
        for (const auto& c : calls) n += c.kind == RecordedCall::Kind::kDeliver ? c.length : 0;
        return n >= count;
      },
      timeout);
}

}  // namespace lanfeed::testing
