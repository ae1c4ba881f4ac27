// A recursive lock with the semantics of a Windows critical section: the
// owning thread may enter again and must leave as often as it entered.
#pragma once

namespace lanfeed {

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

  struct Impl;

 private:
  Impl* impl_;
};

// Holds a RecursiveLock for the lifetime of the scope.
class AutoLock {
 public:
  explicit AutoLock(RecursiveLock& lock) : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  RecursiveLock& lock_;
};

}  // namespace lanfeed
