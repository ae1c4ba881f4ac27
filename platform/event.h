// Manual-reset events with Win32 semantics: once set, an event stays signalled
// (releasing every waiter, present and future) until it is reset.
// Thread-safe: Set, Reset and the waits may run on any threads at once.
#pragma once

#include <cstdint>

namespace lanfeed {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Result of WaitForEither.
enum class WaitResult { kFirst, kSecond, kTimeout, kFailed };

class ManualResetEvent;
WaitResult WaitForEither(ManualResetEvent& first, ManualResetEvent& second, uint32_t timeout_ms);

class ManualResetEvent {
 public:
  // Created non-signalled. Never throws: when the system cannot create the
  // event, IsValid() is false (as CreateEvent returning null).
  ManualResetEvent();
  ~ManualResetEvent();
  ManualResetEvent(const ManualResetEvent&) = delete;
  ManualResetEvent& operator=(const ManualResetEvent&) = delete;

  // False for an event the system could not create. Such an event is never
  // signalled: Set and Reset do nothing, and every wait on it fails at once.
  bool IsValid() const;

  void Set();
  void Reset();
  bool IsSet() const;

  // Waits until the event is signalled or `timeout_ms` have passed
  // (kWaitForever: no limit). Returns true when signalled.
  bool Wait(uint32_t timeout_ms = kWaitForever);

  struct Impl;

 private:
  friend WaitResult WaitForEither(ManualResetEvent&, ManualResetEvent&, uint32_t);
  Impl* impl_;
};

// Waits until either event is signalled (kWaitForever: no limit). When both
// are signalled, `first` wins, as the first handle of a Win32 wait on several
// objects does. kFailed when either event is not valid.
WaitResult WaitForEither(ManualResetEvent& first, ManualResetEvent& second,
                         uint32_t timeout_ms);

// Fault injection for tests: the next `count` calls of WaitForEither (on any
// thread) fail (kFailed) at once. 0 clears.
void FailEventWaitsForTesting(uint32_t count);

}  // namespace lanfeed
