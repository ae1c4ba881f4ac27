#include "host/repeated_lines.h"

namespace lanfeed::host {

namespace {
constexpr auto kSecond = std::chrono::seconds(1);
}  // namespace

std::optional<RepeatedLines::Summary> RepeatedLines::TakeSummary(Clock::time_point now) {
  lastSummary_ = now;
  if (held_ == 0) return std::nullopt;
  Summary summary{held_, level_, text_};
  held_ = 0;
  return summary;
}

RepeatedLines::Decision RepeatedLines::Offer(int32_t level, const std::string& text, Clock::time_point now) {
  if (!hasLine_ || level != level_ || text != text_) {
    Decision decision{Flush(), true};
    hasLine_ = true;
    level_ = level;
    text_ = text;
    windowStart_ = now;
    writtenInWindow_ = 1;
    holding_ = false;
    return decision;
  }
  if (holding_) {
    ++held_;
    if (now - lastSummary_ >= kSecond) return {TakeSummary(now), false};
    return {std::nullopt, false};
  }
  if (now - windowStart_ >= kSecond) {
    windowStart_ = now;
    writtenInWindow_ = 0;
  }
  if (writtenInWindow_ < kWrittenPerSecond) {
    ++writtenInWindow_;
    return {std::nullopt, true};
  }
  holding_ = true;
  held_ = 1;
  lastSummary_ = now;
  return {std::nullopt, false};
}

std::optional<RepeatedLines::Summary> RepeatedLines::Tick(Clock::time_point now) {
  if (!holding_ || now - lastSummary_ < kSecond) return std::nullopt;
  if (held_ == 0) {
    // A whole second without a copy: the line is written again when it comes.
    holding_ = false;
    windowStart_ = now;
    writtenInWindow_ = 0;
    return std::nullopt;
  }
  return TakeSummary(now);
}

std::optional<RepeatedLines::Summary> RepeatedLines::Flush() {
  if (held_ == 0) return std::nullopt;
  Summary summary{held_, level_, text_};
  held_ = 0;
  return summary;
}

}  // namespace lanfeed::host
