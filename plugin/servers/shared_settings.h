// A server's settings copy, replaced on the host's thread while the server's
// receiving threads read it, without any lock.
//
// Each Assign publishes a new immutable record. A reader pins the record that
// is current at that moment and keeps it alive, wave-file path included, for
// as long as it holds the pin (across the host's ShowFeedback, say), however
// many records are published meanwhile. The next pin taken after Assign has
// returned sees the new record.
//
// Cost: a pin is three atomic read-modify-writes and a load, its release one
// read-modify-write; readers never block, never allocate and never wait for
// the writer. Assign allocates the new record (one block and the path) and
// never waits for a reader.
//
// How a record is kept alive: every record has a reference count, one
// reference held by the holder while it is current. A reader announces
// itself in `pins_` before it loads the current pointer and leaves only after
// it has counted its own reference, so a record that Assign has replaced is
// referenced by every reader that could still have loaded it once `pins_`
// reads 0. Assign therefore drops the holder's reference to replaced records
// only when it sees no reader between load and count; otherwise it keeps
// them on a short list and tries again at its next call (and at
// destruction). The last reference, the holder's or a reader's, frees the
// record.
//
// Threads: Acquire, Protocol, Port and TcpTimeout on any thread at once;
// Assign on one thread at a time (the host's); destruction once no pin is
// held.
#pragma once

#include <atomic>
#include <cstdint>

#include "plugin/config/device_settings.h"

namespace lanfeed {

class SharedSettings {
  struct Record;

 public:
  // A reader's hold on one record; movable, not copyable.
  class Pin {
   public:
    Pin(Pin&& other) noexcept : record_(other.record_) { other.record_ = nullptr; }
    Pin& operator=(Pin&&) = delete;
    ~Pin();
    const DeviceSettings& operator*() const;
    const DeviceSettings* operator->() const { return &**this; }

   private:
    friend class SharedSettings;
    explicit Pin(Record* record) : record_(record) {}
    Record* record_;
  };

  // Holds default-constructed settings; allocates nothing.
  SharedSettings();
  ~SharedSettings();
  SharedSettings(const SharedSettings&) = delete;
  SharedSettings& operator=(const SharedSettings&) = delete;

  // Publishes a deep copy of `source`. False, with the current record kept
  // as it was, when the copy cannot be allocated.
  bool Assign(const DeviceSettings& source);

  // Pins the current record.
  Pin Acquire() const;

  // Fields of the current record, as single atomic reads.
  int32_t Protocol() const { return protocol_.load(std::memory_order_relaxed); }
  int32_t Port() const { return port_.load(std::memory_order_relaxed); }
  int32_t TcpTimeout() const { return tcpTimeout_.load(std::memory_order_relaxed); }
  // DeviceSettings::HasPeerRules of the current record: while it is false a
  // server never pins the record to look at who sends.
  bool HasPeerRules() const { return peerRules_.load(std::memory_order_relaxed); }
  // Changes with every Assign: a reader that keeps something derived from
  // the record reads this first and pins again only when it has changed.
  uint32_t Generation() const { return generation_.load(std::memory_order_acquire); }

 private:
  struct Record {
    DeviceSettings settings;
    std::atomic<int32_t> references{1};
    Record* nextRetired = nullptr;  // Assign's list of replaced records
    bool embedded = false;          // initial_: not allocated, never freed
  };

  static void Release(Record* record);
  // Drops the holder's reference to every replaced record once no reader is
  // between its load of current_ and its count.
  void ReleaseRetiredWhenUnpinned();
  void StoreFields(const DeviceSettings& settings);

  Record initial_;
  std::atomic<Record*> current_;
  mutable std::atomic<uint32_t> pins_{0};
  Record* retired_ = nullptr;  // Assign's thread only
  std::atomic<int32_t> protocol_;
  std::atomic<int32_t> port_;
  std::atomic<int32_t> tcpTimeout_;
  std::atomic<bool> peerRules_;
  std::atomic<uint32_t> generation_{0};
};

}  // namespace lanfeed
