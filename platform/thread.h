// Threads with the Win32 life cycle: created running, waited for without
// limit, then the handle is closed. Not copyable; one owner joins.
#pragma once

#include <cstdint>

namespace lanfeed {

using ThreadProc = uint32_t (*)(void* argument);

// Address space reserved for a thread's stack unless Start is told
// otherwise: 64 KiB, the default for threads on the handheld, so that many
// idle threads (one per TCP client) fit a small 32-bit address space. Only
// what a thread touches is committed. Code that runs on such a thread must
// fit in it; the users state their budget beside their thread procedures.
// Some platforms enlarge small requests (Wine reserves at least 1 MiB,
// ThreadSanitizer adds room for its own thread state).
inline constexpr uint32_t kDefaultStackReserveBytes = 64 * 1024;

class Thread {
 public:
  Thread() = default;
  ~Thread();  // a thread still running is detached, never killed
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Creates the thread running `proc(argument)` at once, with
  // `stackReserveBytes` of address space for its stack (rounded up to what
  // the platform accepts). Returns false when the platform cannot create it
  // (nothing is then running). Must not be called while a thread is held.
  // Allocates nothing that can throw.
  bool Start(ThreadProc proc, void* argument, uint32_t stackReserveBytes = kDefaultStackReserveBytes);

  // True from a successful Start until Join returns.
  bool IsStarted() const { return handle_ != nullptr; }

  // Waits without time-out for the thread to end, then releases the handle.
  // Returns the thread's result; 0 when no thread is held. Called on the
  // thread itself, it cannot succeed: it returns 0 at once and the thread
  // stays held (IsStarted() remains true) for another thread to join.
  uint32_t Join();

  // True when called on the thread that this object started.
  bool IsCurrent() const;

  struct Handle;  // backend-defined

 private:
  Handle* handle_ = nullptr;
};

// An identifier of the calling thread: never 0, and no two threads that run
// at the same time share one (an ended thread's may be reused). Makes no
// system call.
uintptr_t CurrentThreadId();

// Suspends the calling thread for `milliseconds`.
void SleepMs(uint32_t milliseconds);

// Milliseconds from an arbitrary fixed point; never goes backwards.
uint64_t MonotonicMs();

// Fault injection for tests: the next `count` calls of Thread::Start (on
// any thread) fail as if the system could not create a thread. 0 clears.
void FailThreadStartsForTesting(uint32_t count);

}  // namespace lanfeed
