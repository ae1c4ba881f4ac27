// The shared part of the COM service (com.h): the call counts and the
// injected failure. The initialisation itself is the backend's
// (internal/system_calls.h): win32/com.cpp calls COM, posix/com.cpp has none
// to call.
#include "platform/com.h"

#include <atomic>

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace {
std::atomic<uint64_t> g_initialize_calls{0};
std::atomic<uint64_t> g_uninitialize_calls{0};
std::atomic<bool> g_fail_initialize{false};
}  // namespace

bool ComInitialize() {
  g_initialize_calls.fetch_add(1, std::memory_order_relaxed);
  if (g_fail_initialize.load(std::memory_order_relaxed)) return false;
  return system_calls::ComInitialize();
}

void ComUninitialize() {
  g_uninitialize_calls.fetch_add(1, std::memory_order_relaxed);
  system_calls::ComUninitialize();
}

ComCallCounts ComCallCountsForTesting() {
  return ComCallCounts{g_initialize_calls.load(std::memory_order_relaxed),
                       g_uninitialize_calls.load(std::memory_order_relaxed)};
}

void FailComInitializeForTesting(bool fail) {
  g_fail_initialize.store(fail, std::memory_order_relaxed);
}

}  // namespace lanfeed
