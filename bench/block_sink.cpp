#include "bench/block_sink.h"

#include <cstring>
#include <vector>

namespace bench {

const uint8_t* Pattern() {
  static const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(kPatternPeriod + kPatternWindow);
    uint32_t x = 2463534242u;  // xorshift32: cheap, no byte value favoured
    for (uint32_t i = 0; i < kPatternPeriod; ++i) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      bytes[i] = static_cast<uint8_t>(x >> 24);
    }
    for (uint32_t i = kPatternPeriod; i < bytes.size(); ++i) bytes[i] = bytes[i - kPatternPeriod];
    return bytes;
  }();
  return pattern.data();
}

const uint8_t* LinePattern() {
  static const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(kLinePatternPeriod + kPatternWindow);
    const uint8_t* source = Pattern();
    for (uint32_t i = 0; i < kLinePatternPeriod; ++i) {
      const uint8_t byte = source[i] == '\n' ? 'n' : source[i];
      bytes[i] = i % kLineLength == kLineLength - 1 ? '\n' : byte;
    }
    for (uint32_t i = kLinePatternPeriod; i < bytes.size(); ++i) bytes[i] = bytes[i - kLinePatternPeriod];
    return bytes;
  }();
  return pattern.data();
}

void BlockSink::Reset(Check check, bool stampTimes, bool lines, bool wholeLines) {
  Pattern();  // built now, not inside a timed phase
  LinePattern();
  std::lock_guard<std::mutex> lock(mutex_);
  check_ = check;
  stampTimes_ = stampTimes;
  lines_ = lines;
  wholeLines_ = wholeLines;
  streamOffset_ = 0;
  bytes_ = 0;
  blocks_ = 0;
  lastArrivalNs_ = 0;
  bytesTarget_ = UINT64_MAX;
  faulty_ = false;
  fault_.clear();
}

void BlockSink::Block(const uint8_t* data, uint32_t length) {
  if (length > kMaxBlock) {
    Fail("a block of " + std::to_string(length) + " bytes (more than 8192)");
  } else if (wholeLines_ && (length != kLineLength || std::memchr(data, '\n', length) != data + length - 1)) {
    Fail("a record of " + std::to_string(length) + " bytes that is not one whole line");
  } else if (check_ == Check::kStream) {
    const uint8_t* expected = lines_ ? LinePattern() + streamOffset_ % kLinePatternPeriod
                                     : Pattern() + streamOffset_ % kPatternPeriod;
    if (!faulty_.load(std::memory_order_relaxed) && std::memcmp(data, expected, length) != 0) {
      Fail("stream bytes lost or reordered near offset " + std::to_string(streamOffset_));
    }
    streamOffset_ += length;
  } else if (check_ == Check::kTagged && length > 0) {
    if (data[0] == 0) Fail("a block without a client tag");
    for (uint32_t i = 1; i < length; ++i) {
      if (data[i] != data[0] && !(lines_ && data[i] == '\n')) {
        Fail("a block mixed the bytes of two clients");
        break;
      }
    }
  }
  if (stampTimes_) {
    lastArrivalNs_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  }
  blocks_.fetch_add(1);
  // Sequentially consistent with the waiter's store of its target: either
  // this block sees the target, or the waiter sees this block's count.
  const uint64_t before = bytes_.fetch_add(length);
  const uint64_t target = bytesTarget_.load();
  if (before < target && before + length >= target) {
    std::lock_guard<std::mutex> lock(mutex_);
    reached_.notify_all();
  }
}

Clock::time_point BlockSink::lastArrival() const {
  return Clock::time_point(Clock::duration(lastArrivalNs_.load(std::memory_order_relaxed)));
}

std::string BlockSink::fault() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fault_;
}

void BlockSink::Fail(const std::string& what) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fault_.empty()) fault_ = what;
  faulty_ = true;
}

bool BlockSink::WaitBytes(uint64_t target, double seconds) {
  const auto deadline = After(seconds);
  std::unique_lock<std::mutex> lock(mutex_);
  bytesTarget_.store(target);
  // The block that crosses the target notifies under the mutex, so a check
  // made while holding it cannot miss that wake-up.
  bool done = reached_.wait_until(lock, deadline, [&] { return bytes_.load() >= target; });
  bytesTarget_.store(UINT64_MAX);
  return done;
}

}  // namespace bench
