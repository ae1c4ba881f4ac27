// Where every received block ends, for the plug-in (through its host's
// Deliver) and for the plain servers alike, so both pay the same work per
// block. The sink counts bytes and blocks, checks what it is told to check,
// and wakes a waiting thread when a count reaches its target.
//
// Thread-safety: Block may run on any number of threads at once (Check
// kStream expects one sender, so blocks arrive one after another); Reset only
// while no server delivers; the rest from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "bench/timing.h"

namespace bench {

// The checked byte stream: byte i of every stream is Pattern()[i % kPatternPeriod].
// The period is a prime, so no block or send size lines up with it.
inline constexpr uint32_t kPatternPeriod = 65521;
// Longest window read from the pattern in one piece.
inline constexpr uint32_t kPatternWindow = 65536;
// Pattern()[i] for i < kPatternPeriod + kPatternWindow; the tail repeats the head.
const uint8_t* Pattern();

// Largest block either server may hand over.
inline constexpr uint32_t kMaxBlock = 8192;

// The stream of 64-byte lines: byte i is LF where i % 64 == 63, else a
// pattern byte that is never LF. Its period is a multiple of the line.
inline constexpr uint32_t kLineLength = 64;
inline constexpr uint32_t kLinePatternPeriod = 64 * 1021;
// LinePattern()[i] for i < kLinePatternPeriod + kPatternWindow.
const uint8_t* LinePattern();

class BlockSink {
 public:
  enum class Check {
    kCount,   // count only
    kStream,  // one connection: the bytes are the pattern stream, in order
    kTagged,  // every block holds bytes of one client only (all bytes equal)
  };

  // Clears the counts and the fault and sets what Block checks. With
  // `stampTimes` each block also records when it arrived. With `lines` the
  // streams are of 64-byte lines (kStream: LinePattern(); kTagged: each
  // message is its tag bytes and a final LF), and with `wholeLines` every
  // block must also be exactly one line.
  void Reset(Check check, bool stampTimes = false, bool lines = false, bool wholeLines = false);
  void Block(const uint8_t* data, uint32_t length);

  uint64_t bytes() const { return bytes_.load(std::memory_order_acquire); }
  uint64_t blocks() const { return blocks_.load(std::memory_order_acquire); }
  // When the last block arrived (with stampTimes only).
  Clock::time_point lastArrival() const;
  // Empty while every block passed its check; else what went wrong first.
  std::string fault() const;

  // Waits until bytes() reaches `target`; false after `seconds`.
  bool WaitBytes(uint64_t target, double seconds);

 private:
  void Fail(const std::string& what);

  Check check_ = Check::kCount;
  bool stampTimes_ = false;
  bool lines_ = false;
  bool wholeLines_ = false;
  uint64_t streamOffset_ = 0;  // kStream: offset of the next byte
  std::atomic<uint64_t> bytes_{0};
  std::atomic<uint64_t> blocks_{0};
  std::atomic<int64_t> lastArrivalNs_{0};
  std::atomic<uint64_t> bytesTarget_{UINT64_MAX};  // what WaitBytes waits for
  std::atomic<bool> faulty_{false};
  mutable std::mutex mutex_;  // guards fault_ and the waits
  std::condition_variable reached_;
  std::string fault_;
};

}  // namespace bench
