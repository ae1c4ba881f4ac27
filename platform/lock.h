// Locks with the semantics of a Windows critical section: the owning thread
// may enter again and must leave as often as it entered.
//
// Neither kind allocates or can fail: the system's lock lives inside the
// object. RecursiveLock is for members and locals. StaticLock is for
// objects of static storage duration in the device libraries, which run no
// code at load and none at unload unless asked: it is constant-initialized,
// trivially destructible, and sets the system's lock up on first use.
//
// Thread-safety: every member may be called from any thread, except the
// constructor, the destructor and StaticLock::Destroy, which no other thread
// may overlap.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace lanfeed {

// Room for the system's lock (a CRITICAL_SECTION or a pthread mutex);
// each backend checks that its lock fits.
inline constexpr std::size_t kLockStorageBytes = 48;

class RecursiveLock {
 public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Acquire();
  void Release();
  // Enters without blocking; true when the lock is now held.
  bool TryAcquire();

 private:
  alignas(8) unsigned char storage_[kLockStorageBytes];
};

class StaticLock {
 public:
  constexpr StaticLock() = default;
  StaticLock(const StaticLock&) = delete;
  StaticLock& operator=(const StaticLock&) = delete;

  void Acquire();
  void Release();
  // Frees what the system keeps for the lock, which is then as new. Only
  // for a module's unload, when no thread can use the lock any more.
  void Destroy();

 private:
  // 0: not set up; 1: being set up by one thread; 2: ready.
  std::atomic<int32_t> state_{0};
  alignas(8) unsigned char storage_[kLockStorageBytes] = {};
};

// Holds a lock for the lifetime of the scope.
template <typename Lock>
class ScopedLock {
 public:
  explicit ScopedLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~ScopedLock() { lock_.Release(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  Lock& lock_;
};

using AutoLock = ScopedLock<RecursiveLock>;
using AutoStaticLock = ScopedLock<StaticLock>;

}  // namespace lanfeed
