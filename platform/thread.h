// Threads with the Win32 life cycle: created running, waited for without
// limit, then the handle is closed. Not copyable; one owner joins.
#pragma once

#include <cstdint>

namespace lanfeed {

using ThreadProc = uint32_t (*)(void* argument);

class Thread {
 public:
  Thread() = default;
  ~Thread();  // a thread still running is detached, never killed
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Creates the thread running `proc(argument)` at once. Returns false when the
  // platform cannot create it (nothing is then running). Must not be called
  // while a thread is held.
  bool Start(ThreadProc proc, void* argument);

  // True from a successful Start until Join returns.
  bool IsStarted() const { return handle_ != nullptr; }

  // Waits without time-out for the thread to end, then releases the handle.
  // Returns the thread's result; 0 when no thread is held.
  uint32_t Join();

  // True when called on the thread that this object started.
  bool IsCurrent() const;

  struct Handle;  // backend-defined

 private:
  Handle* handle_ = nullptr;
};

// Suspends the calling thread for `milliseconds`.
void SleepMs(uint32_t milliseconds);

// Milliseconds from an arbitrary fixed point; never goes backwards.
uint64_t MonotonicMs();

}  // namespace lanfeed
