// Counters behind FailThreadStartsForTesting and FailEventWaitsForTesting.
// Each armed failure is consumed by exactly one call, whatever the thread.
#include <atomic>
#include <cstdint>

#include "platform/event.h"
#include "platform/internal/sync_faults_internal.h"
#include "platform/thread.h"

namespace lanfeed {

namespace {
std::atomic<uint32_t> g_thread_start_faults{0};
std::atomic<uint32_t> g_event_wait_faults{0};

bool Take(std::atomic<uint32_t>& pending) {
  uint32_t count = pending.load(std::memory_order_relaxed);
  while (count != 0 && !pending.compare_exchange_weak(count, count - 1, std::memory_order_relaxed)) {
  }
  return count != 0;
}
}  // namespace

void FailThreadStartsForTesting(uint32_t count) { g_thread_start_faults.store(count); }
void FailEventWaitsForTesting(uint32_t count) { g_event_wait_faults.store(count); }

namespace sync_internal {
bool TakeThreadStartFault() { return Take(g_thread_start_faults); }
bool TakeEventWaitFault() { return Take(g_event_wait_faults); }
}  // namespace sync_internal

}  // namespace lanfeed
