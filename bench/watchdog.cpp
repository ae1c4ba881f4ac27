#include "bench/watchdog.h"

#include <unistd.h>

#include <cstdio>

#include "bench/timing.h"

namespace bench {

Watchdog::Watchdog() : thread_([this] { Watch(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Watchdog::Arm(const std::string& phase, double seconds) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    phase_ = phase;
    seconds_ = seconds;
    deadline_ = After(seconds);
    armed_ = true;
  }
  changed_.notify_all();
}

void Watchdog::Disarm() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
  }
  changed_.notify_all();
}

void Watchdog::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    if (!armed_) {
      changed_.wait(lock);
      continue;
    }
    if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
        std::chrono::steady_clock::now() >= deadline_) {
      std::fprintf(stderr, "FAILED: %s did not finish within %.0f s\n", phase_.c_str(), seconds_);
      std::fflush(stdout);
      std::fflush(stderr);
      _exit(3);
    }
  }
}

}  // namespace bench
