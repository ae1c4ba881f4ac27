#include "platform/thread.h"

#include <windows.h>

#include <atomic>
#include <new>

#include "platform/internal/sync_faults_internal.h"

namespace lanfeed {

// Owned by the Thread object: freed by Join or by the destructor, even while
// a detached thread still runs.
struct Thread::Handle {
  HANDLE thread;
  DWORD id;
};

namespace {

// What the new thread runs, owned by that thread: it never reads the Thread's
// record, which a detaching owner may already have freed.
struct StartRecord {
  ThreadProc proc;
  void* argument;
};

DWORD WINAPI Trampoline(LPVOID raw) {
  const StartRecord start = *static_cast<StartRecord*>(raw);
  delete static_cast<StartRecord*>(raw);
  return start.proc(start.argument);
}

}  // namespace

Thread::~Thread() {
  if (handle_ == nullptr) return;
  CloseHandle(handle_->thread);  // the thread itself runs on
  delete handle_;
}

bool Thread::Start(ThreadProc proc, void* argument, uint32_t stackReserveBytes) {
  if (handle_ != nullptr || proc == nullptr) return false;
  if (sync_internal::TakeThreadStartFault()) return false;
  auto* handle = new (std::nothrow) Handle{nullptr, 0};
  auto* start = new (std::nothrow) StartRecord{proc, argument};
  if (handle == nullptr || start == nullptr) {
    delete handle;
    delete start;
    return false;
  }
  // The size is the reservation, not the first commit: the stack takes only
  // `stackReserveBytes` of address space and commits pages as it grows.
  handle->thread = CreateThread(nullptr, stackReserveBytes, &Trampoline, start,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, &handle->id);
  if (handle->thread == nullptr) {
    delete handle;
    delete start;
    return false;
  }
  handle_ = handle;
  return true;
}

uint32_t Thread::Join() {
  // A thread waiting for its own end would wait for ever.
  if (handle_ == nullptr || IsCurrent()) return 0;
  WaitForSingleObject(handle_->thread, INFINITE);
  DWORD result = 0;
  GetExitCodeThread(handle_->thread, &result);
  CloseHandle(handle_->thread);
  delete handle_;
  handle_ = nullptr;
  return result;
}

bool Thread::IsCurrent() const {
  return handle_ != nullptr && handle_->id == GetCurrentThreadId();
}

uintptr_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

// GetTickCount (the handheld has no 64-bit tick count) wraps every 49.7 days;
// the last value returned carries the high half across the wrap. A tick read
// just before another thread's newer one is not taken for a wrap: only a drop
// by more than half the range is, so the result never goes backwards.
uint64_t MonotonicMs() {
  static std::atomic<uint64_t> last{0};
  uint64_t previous = last.load();
  for (;;) {
    const uint32_t tick = GetTickCount();
    uint64_t now = (previous & 0xFFFFFFFF00000000ull) | tick;
    if (now < previous) {
      if (previous - now > 0x80000000ull) {
        now += 0x100000000ull;  // the 32-bit count wrapped
      } else {
        return previous;  // read before a newer value another thread stored
      }
    }
    if (last.compare_exchange_weak(previous, now)) return now;
  }
}

}  // namespace lanfeed
