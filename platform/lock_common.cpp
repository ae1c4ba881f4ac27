// The shared part of the locks service (lock.h): both lock kinds over the
// backend's system lock (internal/lock_internal.h; win32/lock.cpp and
// posix/lock.cpp), and StaticLock's set-up on first use.
#include "platform/lock.h"

#include <type_traits>

#include "platform/internal/lock_internal.h"
#include "platform/thread.h"

namespace lanfeed {

using namespace lock_internal;

// What lets a StaticLock of static storage duration run no code at load or exit.
static_assert(std::is_trivially_destructible_v<StaticLock>);

RecursiveLock::RecursiveLock() { NativeLockInit(storage_); }
RecursiveLock::~RecursiveLock() { NativeLockDestroy(storage_); }
void RecursiveLock::Acquire() { NativeLockEnter(storage_); }
void RecursiveLock::Release() { NativeLockLeave(storage_); }
bool RecursiveLock::TryAcquire() { return NativeLockTryEnter(storage_); }

void StaticLock::Acquire() {
  if (state_.load(std::memory_order_acquire) != 2) {
    int32_t expected = 0;
    if (state_.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      NativeLockInit(storage_);
      state_.store(2, std::memory_order_release);
    } else {
      // Another thread is setting it up, once per lock; a pause of its own
      // lets it run whatever its priority.
      while (state_.load(std::memory_order_acquire) != 2) SleepMs(1);
    }
  }
  NativeLockEnter(storage_);
}

void StaticLock::Release() { NativeLockLeave(storage_); }

void StaticLock::Destroy() {
  if (state_.load(std::memory_order_acquire) != 2) return;
  NativeLockDestroy(storage_);
  state_.store(0, std::memory_order_release);
}

}  // namespace lanfeed
