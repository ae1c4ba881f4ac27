#include "platform/delay.h"

#include <atomic>

#include "platform/thread.h"

namespace lanfeed {

namespace {
std::atomic<bool> g_skip{false};
std::atomic<uint64_t> g_requested_ms{0};
}  // namespace

void Delay(uint32_t milliseconds) {
  g_requested_ms.fetch_add(milliseconds, std::memory_order_relaxed);
  if (!g_skip.load(std::memory_order_relaxed)) SleepMs(milliseconds);
}

void SkipDelaysForTesting(bool skip) { g_skip.store(skip, std::memory_order_relaxed); }

uint64_t RequestedDelayMsForTesting() { return g_requested_ms.load(std::memory_order_relaxed); }

}  // namespace lanfeed
