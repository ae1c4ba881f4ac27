#include "platform/thread.h"

#include <windows.h>

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

bool Thread::Start(ThreadProc proc, void* argument) {
  if (handle_ != nullptr || proc == nullptr) return false;
  auto* handle = new Handle{nullptr, 0, proc, argument};
  handle->thread = CreateThread(nullptr, 0, &Trampoline, handle, 0, &handle->id);
  if (handle->thread == nullptr) {
    delete handle;
    return false;
  }
  handle_ = handle;
  return true;
}

uint32_t Thread::Join() {
  if (handle_ == nullptr) return 0;
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
