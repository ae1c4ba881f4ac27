#include "host/host_output.h"

#include <cstring>
#include <utility>

#include "host/json_lines.h"

namespace lanfeed::host {

namespace {
std::string Now() { return Iso8601Utc(std::chrono::system_clock::now()); }

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}
}  // namespace

HostOutput::HostOutput(OutputMode mode, StreamWriter* out, StreamWriter* err, ServeFailureHandler onServeFailure)
    : mode_(mode),
      out_(out),
      err_(err),
      onServeFailure_(std::move(onServeFailure)),
      lines_([writer = mode == OutputMode::kText ? out : err](const std::string& line) {
        writer->Write(TextTimestamp(std::chrono::system_clock::now()) + " " + line + "\n");
      }) {}

int32_t HostOutput::Deliver(const InputDataRecord* record) {
  if (record == nullptr) return 0;
  blocks_.fetch_add(1, std::memory_order_relaxed);
  bytes_.fetch_add(record->DataLength, std::memory_order_relaxed);
  // The sender, asked on the delivering thread, within the delivery.
  char peer[64] = "";
  GetLanFeedDeliveryPeerFn source = peerSource_.load();
  if (source != nullptr && mode_ != OutputMode::kRaw) {
    if (source(peer, sizeof peer) <= 0) peer[0] = '\0';
    peer[sizeof peer - 1] = '\0';
  }
  switch (mode_) {
    case OutputMode::kText:
      if (peer[0] == '\0') {
        lines_.Deliver(record);
      } else {
        lines_.Print(ConsoleHostServices::DescribeDelivery(*record, peer));
      }
      break;
    case OutputMode::kJsonLines: out_->Write(JsonDelivery(Now(), *record, peer)); break;
    case OutputMode::kRaw:
      if (record->Data != nullptr) {
        out_->Write(std::string_view(reinterpret_cast<const char*>(record->Data), record->DataLength));
      }
      break;
  }
  return 0;
}

int32_t HostOutput::ShowFeedback(const FeedbackParams* params) {
  if (params == nullptr) return 0;
  feedback_.fetch_add(1, std::memory_order_relaxed);
  if (mode_ == OutputMode::kJsonLines) {
    out_->Write(JsonFeedback(Now(), *params));
  } else {
    lines_.ShowFeedback(params);
  }
  return 0;
}

int32_t HostOutput::WriteLog(int32_t level, const WChar* text) {
  std::string utf8 = text != nullptr ? ToUtf8(text) : std::string();
  if (level == kLogError) {
    if (hostStops_.load() > 0) {
      hostStopErrorLines_.fetch_add(1, std::memory_order_relaxed);
    } else {
      errorLines_.fetch_add(1, std::memory_order_relaxed);
      if (watching_.exchange(false) && onServeFailure_) onServeFailure_(utf8);
    }
  }
  std::lock_guard<std::mutex> guard(logMutex_);
  RepeatedLines::Decision decision = repeats_.Offer(level, utf8, RepeatedLines::Clock::now());
  if (decision.before) WriteRepeated(*decision.before);
  if (decision.write) WriteLogLine(level, text, utf8);
  return 0;
}

void HostOutput::WriteLogLine(int32_t level, const WChar* text, const std::string& utf8) {
  if (mode_ == OutputMode::kJsonLines) {
    out_->Write(JsonLog(Now(), level, text));
  } else {
    lines_.Print("log " + std::to_string(level) + " " + utf8);
  }
}

void HostOutput::WriteRepeated(const RepeatedLines::Summary& summary) {
  if (mode_ == OutputMode::kJsonLines) {
    out_->Write(JsonRepeated(Now(), summary.count, summary.level, summary.text));
  } else {
    lines_.Print("last line repeated " + std::to_string(summary.count) + " times");
  }
}

void HostOutput::Tick() {
  std::lock_guard<std::mutex> guard(logMutex_);
  if (auto summary = repeats_.Tick(RepeatedLines::Clock::now())) WriteRepeated(*summary);
}

void HostOutput::FlushRepeats() {
  std::lock_guard<std::mutex> guard(logMutex_);
  if (auto summary = repeats_.Flush()) WriteRepeated(*summary);
}

void HostOutput::BeginHostStop() { hostStops_.fetch_add(1); }

void HostOutput::EndHostStop() { hostStops_.fetch_sub(1); }

int32_t HostOutput::SetStatusProperty(int32_t property, int32_t size, const void* value) {
  if (property == kListeningStatusProperty && size == static_cast<int32_t>(sizeof(int32_t)) && value != nullptr) {
    int32_t status;
    std::memcpy(&status, value, sizeof(status));
    if (status == 1) watching_.store(false);
  }
  if (mode_ == OutputMode::kJsonLines) {
    out_->Write(JsonStatus(Now(), property, size, value));
  } else {
    lines_.SetStatusProperty(property, size, value);
  }
  return 0;
}

void HostOutput::Info(const std::string& line) {
  if (mode_ == OutputMode::kText) {
    lines_.Print(line);
  } else {
    Error(line);
  }
}

void HostOutput::Error(const std::string& line) { err_->Write("lanfeed-host: " + line + "\n"); }

void HostOutput::WatchServing() { watching_.store(true); }

HostOutput::Totals HostOutput::totals() const {
  Totals totals;
  totals.blocks = blocks_.load();
  totals.bytes = bytes_.load();
  totals.feedback = feedback_.load();
  totals.errorLines = errorLines_.load();
  totals.hostStopErrorLines = hostStopErrorLines_.load();
  return totals;
}

std::string HostOutput::DescribeTotals(const Totals& t) {
  return "delivered " + Count(t.blocks, "block", "blocks") + " (" + Count(t.bytes, "byte", "bytes") + "), " +
         Count(t.feedback, "feedback request", "feedback requests") + ", " +
         Count(t.errorLines, "error line", "error lines") +
         (t.hostStopErrorLines > 0
              ? " (" + std::to_string(t.hostStopErrorLines) + " more while the host stopped or moved the server)"
              : std::string());
}

}  // namespace lanfeed::host
