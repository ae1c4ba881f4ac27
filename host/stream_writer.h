// Writes what the host produces to one standard stream from a thread of its
// own, so that a slow or blocked reader never holds the plug-in's threads
// longer than the host chooses.
//
// Contract:
// - Bytes go out whole and in the order of the Write calls that queued them.
// - While the queue is full, Write waits for room: a slow reader slows the
//   plug-in's deliveries down (and TCP flow control then slows the senders)
//   instead of losing data.
// - After BeginStop, Write never waits: bytes that do not fit are counted as
//   not written. Finish(deadline) then waits at most until the deadline for
//   the queue to drain; whatever is still queued or half written then counts
//   as not written too. Where os::WriteStream never blocks halfway (pipes on
//   Linux) that count is exact: the bytes a reader can still read after the
//   stop are never among them.
// - A failed write (a closed pipe, a full disk) ends the writing: the failure
//   handler is called once, on the writer's thread, and everything queued or
//   written later counts as not written.
// - Nothing is lost silently: unwrittenBytes() counts every byte that was
//   handed to Write and did not go out.
//
// Thread-safety: Write may be called from any number of threads at once;
// BeginStop, Finish and the destructor from any one thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/host_os.h"

namespace lanfeed::host {

class StreamWriter {
 public:
  // Called once with a description of the failure, e.g. "stdout: Broken pipe".
  using FailureHandler = std::function<void(const std::string& message)>;

  // Bytes queued before Write waits. A single Write larger than this is
  // still accepted when the queue is empty.
  static constexpr std::size_t kDefaultCapacity = 256 * 1024;
  // How long one write waits for a reader that takes nothing before the
  // thread looks whether it is still to write (see os::WriteStream).
  static constexpr std::chrono::milliseconds kWriteWait{100};

  // Writes to `stream` through os::WriteStream.
  StreamWriter(os::StandardStream stream, FailureHandler onFailure, std::size_t capacity = kDefaultCapacity);
  // Ends the thread after the queue is written. Must not run while the
  // thread is stuck in a write (writeInProgress() after a failed Finish):
  // the host then ends the process with os::ExitNow instead.
  ~StreamWriter();
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // Queues `bytes`; see the contract above. True when they were queued.
  bool Write(std::string_view bytes);

  // From now on Write never waits; waiting writers return at once.
  void BeginStop();

  // BeginStop, then waits until everything queued is written, the writer
  // has failed, or `deadline` has passed. True when everything was written.
  // After a deadline nothing more goes out: what is left counts as not
  // written, and the thread ends as soon as its current write returns;
  // Finish waits up to 1.5 kWriteWait more for that.
  bool Finish(std::chrono::steady_clock::time_point deadline);

  // Bytes handed to Write that did not go out (so far).
  uint64_t unwrittenBytes() const;
  bool failed() const;
  // The writer's thread is inside a write right now. After a Finish that
  // gave up, false means the thread has ended or will end without writing.
  bool writeInProgress() const;
  // "stdout" or "stderr".
  const std::string& name() const { return name_; }

 private:
  void Run();

  const os::StandardStream stream_;
  const std::string name_;
  const FailureHandler onFailure_;
  const std::size_t capacity_;

  mutable std::mutex mutex_;
  std::condition_variable work_;     // the writer's thread: something to write, or quit
  std::condition_variable room_;     // waiting Writes: room in the queue, or stop
  std::condition_variable drained_;  // Finish: the queue is empty, or failure
  std::string pending_;              // queued, not yet taken by the writer's thread
  std::size_t inFlight_ = 0;         // taken by the writer's thread and not yet written
  uint64_t unwritten_ = 0;           // dropped or lost in a failure
  bool stopping_ = false;
  bool failed_ = false;
  bool abandoned_ = false;  // Finish gave up: nothing more goes out
  bool writing_ = false;    // the thread is inside os::WriteStream
  bool quit_ = false;
  std::thread thread_;  // last: starts after every member above exists
};

}  // namespace lanfeed::host
