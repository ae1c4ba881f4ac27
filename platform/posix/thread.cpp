#include "platform/thread.h"

#include <limits.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "platform/internal/sync_faults_internal.h"

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

// The stack size pthreads accepts for a request: at least PTHREAD_STACK_MIN,
// in whole pages.
size_t StackSizeFor(uint32_t requested) {
  size_t size = requested < PTHREAD_STACK_MIN ? static_cast<size_t>(PTHREAD_STACK_MIN) : requested;
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) {
    const size_t pageSize = static_cast<size_t>(page);
    size = (size + pageSize - 1) / pageSize * pageSize;
  }
  return size;
}
}  // namespace

Thread::~Thread() {
  if (handle_ != nullptr) {
    // The handle block stays alive for the detached thread; it is small and
    // this path is reached only when an owner forgot to join.
    pthread_detach(handle_->thread);
  }
}

bool Thread::Start(ThreadProc proc, void* argument, uint32_t stackReserveBytes) {
  if (handle_ != nullptr || proc == nullptr) return false;
  if (sync_internal::TakeThreadStartFault()) return false;
  auto* handle = new (std::nothrow) Handle{pthread_t{}, proc, argument};
  if (handle == nullptr) return false;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    delete handle;
    return false;
  }
  bool created = pthread_attr_setstacksize(&attributes, StackSizeFor(stackReserveBytes)) == 0 &&
                 pthread_create(&handle->thread, &attributes, &Trampoline, handle) == 0;
  pthread_attr_destroy(&attributes);
  if (!created) {
    delete handle;
    return false;
  }
  handle_ = handle;
  return true;
}

uint32_t Thread::Join() {
  // Joining itself would fail (EDEADLK) and the handle block, freed below,
  // is still in use by this very thread.
  if (handle_ == nullptr || IsCurrent()) return 0;
  pthread_join(handle_->thread, nullptr);
  uint32_t result = handle_->result;
  delete handle_;
  handle_ = nullptr;
  return result;
}

bool Thread::IsCurrent() const {
  return handle_ != nullptr && pthread_equal(handle_->thread, pthread_self());
}

uintptr_t CurrentThreadId() {
  static_assert(sizeof(pthread_t) <= sizeof(uintptr_t));
  // glibc's pthread_t is the address of the thread's control block.
  return static_cast<uintptr_t>(pthread_self());
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
