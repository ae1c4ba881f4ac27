// Windows backend of the locks service: the system lock behind
// lock_common.cpp (internal/lock_internal.h), a critical section.
// posix/lock.cpp is the stand-in elsewhere.
#include <windows.h>

#include "platform/internal/lock_internal.h"
#include "platform/lock.h"

namespace lanfeed::lock_internal {

static_assert(sizeof(CRITICAL_SECTION) <= kLockStorageBytes && alignof(CRITICAL_SECTION) <= 8,
              "a critical section fits a lock's storage");

namespace {
CRITICAL_SECTION* Section(void* storage) { return static_cast<CRITICAL_SECTION*>(storage); }
}  // namespace

void NativeLockInit(void* storage) { InitializeCriticalSection(Section(storage)); }
void NativeLockDestroy(void* storage) { DeleteCriticalSection(Section(storage)); }
void NativeLockEnter(void* storage) { EnterCriticalSection(Section(storage)); }
void NativeLockLeave(void* storage) { LeaveCriticalSection(Section(storage)); }
bool NativeLockTryEnter(void* storage) { return TryEnterCriticalSection(Section(storage)) != FALSE; }

}  // namespace lanfeed::lock_internal
