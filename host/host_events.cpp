#include "host/host_events.h"

#include <utility>

namespace lanfeed::host {

HostEvents::HostEvents(std::function<void()> onFirstEnd) : onFirstEnd_(std::move(onFirstEnd)) {}

void HostEvents::Post(HostEvent event) {
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (event.EndsTheHost() && !ending_) {
      ending_ = true;
      first = true;
      endTime_ = std::chrono::steady_clock::now();
    }
  }
  // Before the event is queued: once Wait has it, the output no longer waits.
  if (first && onFirstEnd_) onFirstEnd_();
  // Notified under the lock: once Wait has the event, the main thread may
  // end and destroy this object, so Post must not touch it after unlocking.
  std::lock_guard<std::mutex> guard(mutex_);
  events_.push_back(std::move(event));
  posted_.notify_one();
}

HostEvent HostEvents::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  posted_.wait(lock, [&] { return !events_.empty(); });
  HostEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::optional<HostEvent> HostEvents::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!posted_.wait_for(lock, timeout, [&] { return !events_.empty(); })) return std::nullopt;
  HostEvent event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::chrono::steady_clock::time_point HostEvents::endTime() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return endTime_;
}

}  // namespace lanfeed::host
