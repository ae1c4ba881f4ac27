// The handle table that every sockets backend keeps: our own SocketHandle
// numbers mapped to the backend's entries, plus the library's startup count.
// The entry type provides `void Shut()`: mark the socket closed, release or
// shut down its native socket and wake every call waiting on it.
//
// Guarantees:
// - Handles are handed out in increasing order from 1 and never reused within
//   the process, so a stale handle can only fail, never reach a newer socket.
// - Entries are shared: Find hands out a reference that keeps the entry (and
//   whatever native resource it owns) alive for the whole call using it, even
//   when another thread closes the handle meanwhile.
// - A closed handle is gone at once: every later Find or Close on it fails
//   with 10038 (WSAENOTSOCK), as does a handle never handed out. Its entry is
//   shut exactly once, after it left the table and outside the table lock.
// - While the library is not started Add, Find and Close fail with 10093
//   (WSANOTINITIALISED) and the table holds no entry: the last Cleanup shuts
//   every entry still open, as WSACleanup closes every socket.
// - The table never sets the last error: each call returns 0 or the error
//   number for the backend to report.
//
// Thread-safety: every member may be called from any thread; one mutex guards
// the count and the map. Keep one instance per backend as a function-local
// static of a function with internal linkage, not on the heap: the library
// that holds it can be unloaded and loaded again, and each unload must free it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/sockets.h"

namespace lanfeed {

template <typename Entry>
class SocketTable {
 public:
  using Ref = std::shared_ptr<Entry>;
  using Entries = std::unordered_map<SocketHandle, Ref>;

  SocketTable() = default;
  SocketTable(const SocketTable&) = delete;
  SocketTable& operator=(const SocketTable&) = delete;

  // Counts one successful startup of the library.
  void Startup() {
    std::lock_guard<std::mutex> guard(mutex_);
    ++started_;
  }

  // Counts one cleanup: 10093 when the library is not running (nothing
  // changes), else 0. The last cleanup empties the table and shuts every
  // entry that was still open.
  int32_t Cleanup() {
    std::vector<Ref> left_open;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (started_ == 0) return kWsaNotinitialised;
      if (--started_ > 0) return 0;
      for (auto& entry : open_) left_open.push_back(std::move(entry.second));
      open_.clear();
    }
    for (const Ref& entry : left_open) entry->Shut();
    return 0;
  }

  bool Started() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return started_ > 0;
  }

  // Enters `entry` under a new handle. On 10093 the entry is dropped here and
  // `handle` is left alone.
  int32_t Add(Ref entry, SocketHandle& handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (started_ == 0) return kWsaNotinitialised;
    handle = next_handle_++;
    open_.emplace(handle, std::move(entry));
    return 0;
  }

  // The entry of an open handle, or 10093 / 10038 with `entry` left alone.
  int32_t Find(SocketHandle s, Ref& entry) const {
    std::lock_guard<std::mutex> guard(mutex_);
    if (started_ == 0) return kWsaNotinitialised;
    auto it = open_.find(s);
    if (it == open_.end()) return kWsaEnotsock;
    entry = it->second;
    return 0;
  }

  // Takes an open handle out of the table and shuts its entry; the same
  // errors as Find. Calls still running on the entry keep it alive.
  int32_t Close(SocketHandle s) {
    Ref entry;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (started_ == 0) return kWsaNotinitialised;
      auto it = open_.find(s);
      if (it == open_.end()) return kWsaEnotsock;
      entry = std::move(it->second);
      open_.erase(it);
    }
    entry->Shut();
    return 0;
  }

  // Runs fn(open entries) with the table locked and returns its result, for a
  // check across sockets that no open, close or other such check may race.
  // `fn` must not call back into the table.
  template <typename Fn>
  auto WithLock(Fn&& fn) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::forward<Fn>(fn)(static_cast<const Entries&>(open_));
  }

 private:
  mutable std::mutex mutex_;
  int started_ = 0;
  SocketHandle next_handle_ = 1;
  Entries open_;
};

}  // namespace lanfeed
