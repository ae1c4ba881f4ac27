#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/internal/sync_faults_internal.h"

namespace lanfeed {

// All events share one mutex and one condition variable. Events are set
// rarely (start, stop, retry), so the shared wake-up costs nothing noticeable,
// and it makes a wait on two events exact: both flags are read under the same
// mutex, so "first listed wins" holds.
namespace {
std::mutex& EventMutex() {
  static std::mutex mutex;
  return mutex;
}
std::condition_variable& EventCondition() {
  static std::condition_variable condition;
  return condition;
}
}  // namespace

struct ManualResetEvent::Impl {
  bool signalled = false;
};

ManualResetEvent::ManualResetEvent() : impl_(new (std::nothrow) Impl) {}
ManualResetEvent::~ManualResetEvent() { delete impl_; }

bool ManualResetEvent::IsValid() const { return impl_ != nullptr; }

void ManualResetEvent::Set() {
  if (impl_ == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(EventMutex());
    impl_->signalled = true;
  }
  EventCondition().notify_all();
}

void ManualResetEvent::Reset() {
  if (impl_ == nullptr) return;
  std::lock_guard<std::mutex> guard(EventMutex());
  impl_->signalled = false;
}

bool ManualResetEvent::IsSet() const {
  if (impl_ == nullptr) return false;
  std::lock_guard<std::mutex> guard(EventMutex());
  return impl_->signalled;
}

namespace {
template <typename Ready>
bool WaitUntil(uint32_t timeout_ms, Ready ready) {
  std::unique_lock<std::mutex> lock(EventMutex());
  if (timeout_ms == kWaitForever) {
    EventCondition().wait(lock, ready);
    return true;
  }
  return EventCondition().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
}
}  // namespace

bool ManualResetEvent::Wait(uint32_t timeout_ms) {
  if (impl_ == nullptr) return false;
  return WaitUntil(timeout_ms, [this] { return impl_->signalled; });
}

WaitResult WaitForEither(ManualResetEvent& first, ManualResetEvent& second, uint32_t timeout_ms) {
  ManualResetEvent::Impl* a = first.impl_;
  ManualResetEvent::Impl* b = second.impl_;
  if (a == nullptr || b == nullptr || sync_internal::TakeEventWaitFault()) return WaitResult::kFailed;
  // Both flags are read under the event mutex, so the result reflects one
  // instant and the first event wins when both are set.
  auto ready = [a, b] { return a->signalled || b->signalled; };
  std::unique_lock<std::mutex> lock(EventMutex());
  if (timeout_ms == kWaitForever) {
    EventCondition().wait(lock, ready);
  } else if (!EventCondition().wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return WaitResult::kTimeout;
  }
  return a->signalled ? WaitResult::kFirst : WaitResult::kSecond;
}

}  // namespace lanfeed
