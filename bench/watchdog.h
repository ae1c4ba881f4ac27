// Bounds every phase of a benchmark in time: a phase that has not finished
// when its time is up ends the program with a message and exit status 3, so a
// hung server can never hang the run. Children started with ChildProcess end
// with it (their input closes, and each bounds its own life).
//
// Thread-safety: Arm and Disarm from one driving thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

class Watchdog {
 public:
  Watchdog();
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  void Arm(const std::string& phase, double seconds);
  void Disarm();

 private:
  void Watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::string phase_;
  double seconds_ = 0;
  std::chrono::steady_clock::time_point deadline_{};
  bool armed_ = false;
  bool quit_ = false;
  std::thread thread_;
};

// Arms a watchdog for one scope.
class Phase {
 public:
  Phase(Watchdog& watchdog, const std::string& name, double seconds) : watchdog_(watchdog) {
    watchdog_.Arm(name, seconds);
  }
  ~Phase() { watchdog_.Disarm(); }
  Phase(const Phase&) = delete;
  Phase& operator=(const Phase&) = delete;

 private:
  Watchdog& watchdog_;
};

}  // namespace bench
