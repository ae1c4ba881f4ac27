// Keeps a flood of one log line from flooding the output. Up to 10 copies
// of the same line (same level, same text, one right after the other) are
// written in any second; after that the copies are held back and one
// summary ("last line repeated N times") is written per second instead,
// until another line comes or a second passes without a copy. Nothing is
// lost from the count: every held-back copy is in a summary.
//
// Not thread-safe: the caller serialises Offer, Tick and Flush (and writes
// what they return under the same lock, so that a summary stays right
// after the line it summarises).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lanfeed::host {

class RepeatedLines {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kWrittenPerSecond = 10;

  struct Summary {
    uint64_t count;  // copies held back since the last summary
    int32_t level;
    std::string text;
  };
  struct Decision {
    std::optional<Summary> before;  // to write first: the previous line's held-back copies
    bool write;                     // write this line
  };

  // A log line at `now`.
  Decision Offer(int32_t level, const std::string& text, Clock::time_point now);
  // The summary due at `now`, if any: call it about four times a second so
  // that a flood that stops is summed up within a second and a bit.
  std::optional<Summary> Tick(Clock::time_point now);
  // Whatever is held back, at once (at a stop).
  std::optional<Summary> Flush();

 private:
  std::optional<Summary> TakeSummary(Clock::time_point now);

  bool hasLine_ = false;
  int32_t level_ = 0;
  std::string text_;
  Clock::time_point windowStart_{};
  int writtenInWindow_ = 0;
  bool holding_ = false;
  uint64_t held_ = 0;
  Clock::time_point lastSummary_{};
};

}  // namespace lanfeed::host
