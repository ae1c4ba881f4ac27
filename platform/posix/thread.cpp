#include "platform/thread.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>

namespace lanfeed {

struct Thread::Handle {
  pthread_t thread;
  ThreadProc proc;
  void* argument;
  uint32_t result = 0;
};

namespace {
void* Trampoline(void* raw) {
  auto* handle = static_cast<Thread::Handle*>(raw);
  handle->result = handle->proc(handle->argument);
  return nullptr;
}
}  // namespace

Thread::~Thread() {
  if (handle_ != nullptr) {
    // The handle block stays alive for the detached thread; it is small and
    // this path is reached only when an owner forgot to join.
    pthread_detach(handle_->thread);
  }
}

bool Thread::Start(ThreadProc proc, void* argument) {
  if (handle_ != nullptr || proc == nullptr) return false;
  auto* handle = new Handle{pthread_t{}, proc, argument};
  if (pthread_create(&handle->thread, nullptr, &Trampoline, handle) != 0) {
    delete handle;
    return false;
  }
  handle_ = handle;
  return true;
}

uint32_t Thread::Join() {
  if (handle_ == nullptr) return 0;
  pthread_join(handle_->thread, nullptr);
  uint32_t result = handle_->result;
  delete handle_;
  handle_ = nullptr;
  return result;
}

bool Thread::IsCurrent() const {
  return handle_ != nullptr && pthread_equal(handle_->thread, pthread_self());
}

void SleepMs(uint32_t milliseconds) {
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

uint64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace lanfeed
