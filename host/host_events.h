// What the host's main thread waits for while the plug-in serves: stop and
// reload requests, a failed output stream, a socket the plug-in cannot serve.
//
// Thread-safety: Post may be called from any thread (the signal watcher, the
// plug-in's threads through the host services, the output writers); Wait
// from the main thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace lanfeed::host {

struct HostEvent {
  enum Kind {
    kStop,          // a stop request; detail: its name ("SIGTERM")
    kReload,        // a reload request; detail: its name ("SIGHUP")
    kOutputFailed,  // an output stream failed; detail: the failure
    kServeFailed,   // the plug-in could not open its socket; detail: its error line
  };
  Kind kind;
  std::string detail;

  // Every kind but kReload ends the host.
  bool EndsTheHost() const { return kind != kReload; }
};

class HostEvents {
 public:
  // `onFirstEnd` runs once, on the posting thread, when the first event that
  // ends the host is posted, before Wait can return it: the host uses it to
  // stop its output from waiting, so that the plug-in's threads are free to
  // stop even while the main thread is still busy with the plug-in.
  explicit HostEvents(std::function<void()> onFirstEnd);

  void Post(HostEvent event);
  // Waits for the next event, oldest first.
  HostEvent Wait();
  // Wait, for at most `timeout`; nothing when none came.
  std::optional<HostEvent> WaitFor(std::chrono::milliseconds timeout);
  // When the first event that ends the host was posted; meaningful once it was.
  std::chrono::steady_clock::time_point endTime() const;

 private:
  const std::function<void()> onFirstEnd_;
  mutable std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<HostEvent> events_;
  bool ending_ = false;
  std::chrono::steady_clock::time_point endTime_{};
};

}  // namespace lanfeed::host
