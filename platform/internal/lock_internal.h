// The system lock behind RecursiveLock and StaticLock (lock_common.cpp), one
// per backend (win32/lock.cpp, posix/lock.cpp); not part of the service's
// interface. Each operates on the storage of a lock object
// (kLockStorageBytes, 8-byte aligned).
#pragma once

namespace lanfeed::lock_internal {

void NativeLockInit(void* storage);
void NativeLockDestroy(void* storage);
void NativeLockEnter(void* storage);
void NativeLockLeave(void* storage);
bool NativeLockTryEnter(void* storage);

}  // namespace lanfeed::lock_internal
