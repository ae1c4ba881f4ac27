#include "platform/lock.h"

#include <windows.h>

namespace lanfeed {

struct RecursiveLock::Impl {
  CRITICAL_SECTION section;
};

RecursiveLock::RecursiveLock() : impl_(new Impl) { InitializeCriticalSection(&impl_->section); }

RecursiveLock::~RecursiveLock() {
  DeleteCriticalSection(&impl_->section);
  delete impl_;
}

void RecursiveLock::Acquire() { EnterCriticalSection(&impl_->section); }
void RecursiveLock::Release() { LeaveCriticalSection(&impl_->section); }
bool RecursiveLock::TryAcquire() { return TryEnterCriticalSection(&impl_->section) != FALSE; }

}  // namespace lanfeed
