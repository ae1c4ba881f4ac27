#include "platform/event.h"

#include <windows.h>

namespace lanfeed {

struct ManualResetEvent::Impl {
  HANDLE handle;
};

ManualResetEvent::ManualResetEvent() : impl_(new Impl{CreateEventW(nullptr, TRUE, FALSE, nullptr)}) {}

ManualResetEvent::~ManualResetEvent() {
  if (impl_->handle != nullptr) CloseHandle(impl_->handle);
  delete impl_;
}

void ManualResetEvent::Set() { SetEvent(impl_->handle); }
void ManualResetEvent::Reset() { ResetEvent(impl_->handle); }

bool ManualResetEvent::IsSet() const {
  return WaitForSingleObject(impl_->handle, 0) == WAIT_OBJECT_0;
}

bool ManualResetEvent::Wait(uint32_t timeout_ms) {
  return WaitForSingleObject(impl_->handle, timeout_ms == kWaitForever ? INFINITE : timeout_ms) ==
         WAIT_OBJECT_0;
}

WaitResult WaitForEither(ManualResetEvent& first, ManualResetEvent& second, uint32_t timeout_ms) {
  HANDLE handles[2] = {first.impl_->handle, second.impl_->handle};
  DWORD r = WaitForMultipleObjects(2, handles, FALSE, timeout_ms == kWaitForever ? INFINITE : timeout_ms);
  if (r == WAIT_OBJECT_0) return WaitResult::kFirst;
  if (r == WAIT_OBJECT_0 + 1) return WaitResult::kSecond;
  if (r == WAIT_TIMEOUT) return WaitResult::kTimeout;
  return WaitResult::kFailed;
}

}  // namespace lanfeed
