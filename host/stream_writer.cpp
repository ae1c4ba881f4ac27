#include "host/stream_writer.h"

#include <utility>

namespace lanfeed::host {

StreamWriter::StreamWriter(os::StandardStream stream, FailureHandler onFailure, std::size_t capacity)
    : stream_(stream),
      name_(stream == os::StandardStream::kOut ? "stdout" : "stderr"),
      onFailure_(std::move(onFailure)),
      capacity_(capacity),
      thread_([this] { Run(); }) {}

StreamWriter::~StreamWriter() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    quit_ = true;
  }
  work_.notify_one();
  if (thread_.joinable()) thread_.join();
}

bool StreamWriter::Write(std::string_view bytes) {
  if (bytes.empty()) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  auto fits = [&] { return pending_.empty() || pending_.size() + bytes.size() <= capacity_; };
  room_.wait(lock, [&] { return failed_ || stopping_ || fits(); });
  if (failed_ || abandoned_ || !fits()) {
    unwritten_ += bytes.size();
    return false;
  }
  bool wake = pending_.empty();
  pending_.append(bytes.data(), bytes.size());
  lock.unlock();
  if (wake) work_.notify_one();
  return true;
}

void StreamWriter::BeginStop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
}

bool StreamWriter::Finish(std::chrono::steady_clock::time_point deadline) {
  BeginStop();
  std::unique_lock<std::mutex> lock(mutex_);
  if (drained_.wait_until(lock, deadline, [&] { return failed_ || (pending_.empty() && inFlight_ == 0); })) {
    return !failed_;
  }
  // Too late: nothing more goes out. A write that waits for room gives up
  // within kWriteWait; once the thread is out of it, what it wrote is
  // known exactly. A write that blocks (not a pipe) may never return.
  abandoned_ = true;
  unwritten_ += pending_.size();
  pending_.clear();
  work_.notify_one();
  drained_.wait_for(lock, kWriteWait + kWriteWait / 2, [&] { return !writing_; });
  return false;
}

uint64_t StreamWriter::unwrittenBytes() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return unwritten_ + pending_.size() + inFlight_;
}

bool StreamWriter::failed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failed_;
}

bool StreamWriter::writeInProgress() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return writing_;
}

void StreamWriter::Run() {
  std::string writing;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [&] { return quit_ || (!failed_ && !pending_.empty()); });
    if (failed_ || pending_.empty()) return;  // quit: everything written, or lost and counted
    writing.swap(pending_);
    inFlight_ = writing.size();
    lock.unlock();
    room_.notify_all();

    std::size_t offset = 0;
    std::string error;
    os::WriteStatus status = os::WriteStatus::kWritten;
    lock.lock();
    writing_ = true;
    lock.unlock();
    while (offset < writing.size()) {
      std::size_t written = 0;
      status =
          os::WriteStream(stream_, writing.data() + offset, writing.size() - offset, &written, &error, kWriteWait);
      if (status == os::WriteStatus::kWritten) offset += written;
      lock.lock();
      inFlight_ = writing.size() - offset;
      bool abandoned = abandoned_;
      lock.unlock();
      if (status == os::WriteStatus::kWaiting) status = os::WriteStatus::kWritten;  // nothing went out: go on
      if (status != os::WriteStatus::kWritten || abandoned) break;
    }
    writing.clear();

    lock.lock();
    writing_ = false;
    if (status != os::WriteStatus::kWritten) {
      failed_ = true;
      unwritten_ += inFlight_ + pending_.size();
      pending_.clear();
      inFlight_ = 0;
      lock.unlock();
      room_.notify_all();
      drained_.notify_all();
      if (onFailure_) {
        onFailure_(status == os::WriteStatus::kClosed ? name_ + " was closed by its reader (" + error + ")"
                                                      : "cannot write to " + name_ + ": " + error);
      }
      lock.lock();
      continue;
    }
    unwritten_ += inFlight_;  // left over when Finish gave up
    inFlight_ = 0;
    if (abandoned_) {
      drained_.notify_all();
      return;
    }
    if (pending_.empty()) drained_.notify_all();
  }
}

}  // namespace lanfeed::host
