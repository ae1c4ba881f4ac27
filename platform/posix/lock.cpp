// POSIX backend of the locks service: the system lock behind
// lock_common.cpp (internal/lock_internal.h), a recursive mutex.
// win32/lock.cpp is the Windows one.
#include <new>
#include <mutex>

#include "platform/internal/lock_internal.h"
#include "platform/lock.h"

namespace lanfeed::lock_internal {

static_assert(sizeof(std::recursive_mutex) <= kLockStorageBytes && alignof(std::recursive_mutex) <= 8,
              "a recursive mutex fits a lock's storage");

namespace {
std::recursive_mutex* Mutex(void* storage) { return std::launder(static_cast<std::recursive_mutex*>(storage)); }
}  // namespace

void NativeLockInit(void* storage) { new (storage) std::recursive_mutex(); }
void NativeLockDestroy(void* storage) { Mutex(storage)->~recursive_mutex(); }
void NativeLockEnter(void* storage) { Mutex(storage)->lock(); }
void NativeLockLeave(void* storage) { Mutex(storage)->unlock(); }
bool NativeLockTryEnter(void* storage) { return Mutex(storage)->try_lock(); }

}  // namespace lanfeed::lock_internal
