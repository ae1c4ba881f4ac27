#include "platform/event.h"

#include <windows.h>

#include <new>

#include "platform/internal/sync_faults_internal.h"

namespace lanfeed {

struct ManualResetEvent::Impl {
  HANDLE handle;
};

namespace {
// The event's handle, or null for an event that could not be created.
HANDLE HandleOf(const ManualResetEvent::Impl* impl) { return impl != nullptr ? impl->handle : nullptr; }
}  // namespace

ManualResetEvent::ManualResetEvent() : impl_(new (std::nothrow) Impl{nullptr}) {
  if (impl_ != nullptr) impl_->handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

ManualResetEvent::~ManualResetEvent() {
  if (HandleOf(impl_) != nullptr) CloseHandle(impl_->handle);
  delete impl_;
}

bool ManualResetEvent::IsValid() const { return HandleOf(impl_) != nullptr; }

void ManualResetEvent::Set() {
  if (IsValid()) SetEvent(impl_->handle);
}

void ManualResetEvent::Reset() {
  if (IsValid()) ResetEvent(impl_->handle);
}

bool ManualResetEvent::IsSet() const {
  return IsValid() && WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0;
}

bool ManualResetEvent::Wait(uint32_t timeout_ms) {
  return IsValid() && WaitForSingleObject(impl_->handle, timeout_ms == kWaitForever ? INFINITE : timeout_ms) ==
                          WAIT_OBJECT_0;
}

WaitResult WaitForEither(ManualResetEvent& first, ManualResetEvent& second, uint32_t timeout_ms) {
  if (!first.IsValid() || !second.IsValid() || sync_internal::TakeEventWaitFault()) return WaitResult::kFailed;
  HANDLE handles[2] = {first.impl_->handle, second.impl_->handle};
  DWORD r = WaitForMultipleObjects(2, handles, FALSE, timeout_ms == kWaitForever ? INFINITE : timeout_ms);
  if (r == WAIT_OBJECT_0) return WaitResult::kFirst;
  if (r == WAIT_OBJECT_0 + 1) return WaitResult::kSecond;
  if (r == WAIT_TIMEOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

}  // namespace lanfeed
