#include "platform/lock.h"

#include <mutex>

namespace lanfeed {

struct RecursiveLock::Impl {
  std::recursive_mutex mutex;
};

RecursiveLock::RecursiveLock() : impl_(new Impl) {}
RecursiveLock::~RecursiveLock() { delete impl_; }
void RecursiveLock::Acquire() { impl_->mutex.lock(); }
void RecursiveLock::Release() { impl_->mutex.unlock(); }
bool RecursiveLock::TryAcquire() { return impl_->mutex.try_lock(); }

}  // namespace lanfeed
