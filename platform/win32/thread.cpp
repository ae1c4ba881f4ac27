#include "platform/thread.h"

#include <windows.h>

#include <new>

#include "platform/sync_faults_internal.h"

namespace lanfeed {

struct Thread::Handle {
  HANDLE thread;
  DWORD id;
  ThreadProc proc;
  void* argument;
};

namespace {
DWORD WINAPI Trampoline(LPVOID raw) {
  auto* handle = static_cast<Thread::Handle*>(raw);
  return handle->proc(handle->argument);
}
}  // namespace

Thread::~Thread() {
  if (handle_ != nullptr) CloseHandle(handle_->thread);  // the thread itself runs on
}

bool Thread::Start(ThreadProc proc, void* argument, uint32_t stackReserveBytes) {
  if (handle_ != nullptr || proc == nullptr) return false;
  if (sync_internal::TakeThreadStartFault()) return false;
  auto* handle = new (std::nothrow) Handle{nullptr, 0, proc, argument};
  if (handle == nullptr) return false;
  // The size is the reservation, not the first commit: the stack takes only
  // `stackReserveBytes` of address space and commits pages as it grows.
  handle->thread = CreateThread(nullptr, stackReserveBytes, &Trampoline, handle,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, &handle->id);
  if (handle->thread == nullptr) {
    delete handle;
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

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

uint64_t MonotonicMs() { return GetTickCount64(); }

}  // namespace lanfeed
