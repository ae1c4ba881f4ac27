// A server's settings copy, replaced on the host's thread while the server's
// receiving threads read it, without any lock.
//
// Each Assign publishes a new immutable record. A reader pins the record that
// is current at that moment and keeps it alive, wave-file path included, for
// as long as it holds the pin (across the host's ShowFeedback, say), however
// many records are published meanwhile. The next pin taken after Assign has
// returned sees the new record.
//
// Cost: a pin is three atomic read-modify-writes and two loads, its release
// one read-modify-write; readers never block, never allocate and never wait
// for the writer. Assign allocates the new record (one block and the path)
// and waits only for the readers that are, at that moment, between their
// load of the current record and the count of their reference: a few
// instructions each (it yields the processor while it waits).
//
// What it keeps: the current record, plus each record that a pin still
// holds; a replaced record goes with its last pin, or at once when none
// holds it. Nothing piles up, however constantly readers pin.
//
// How a record is kept alive: every record has a reference count, one
// reference held by the holder while it is current. A reader announces
// itself in one of two counters (the one `phase_` names) before it loads
// the current pointer and leaves it only after it has counted its own
// reference. After publishing the new record, Assign waits until each of
// the two counters has read 0 once: a reader that loaded the replaced
// record announced itself before the publication, so it has counted its
// reference by then. Before each wait Assign points `phase_` at the other
// counter, so readers that come meanwhile do not hold the wait up and it
// ends however constantly readers pin (each reader thread can be in the
// waited counter with at most one pin). Then Assign drops the holder's
// reference to the replaced record. The last reference, the holder's or a
// reader's, frees the record.
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

  // How many records are allocated now (the initial one not counted): the
  // current one when it is not the initial one, and replaced ones that a
  // pin still holds. For tests.
  int32_t RecordsAllocated() const { return allocated_.load(std::memory_order_relaxed); }

 private:
  struct Record {
    DeviceSettings settings;
    std::atomic<int32_t> references{1};
    std::atomic<int32_t>* allocated = nullptr;  // the owner's count; null for initial_
  };

  static void Release(Record* record);
  // Returns once no reader that may have loaded a record replaced before
  // this call is still between that load and the count of its reference.
  void WaitForReadersToCount();
  void StoreFields(const DeviceSettings& settings);

  Record initial_;
  std::atomic<Record*> current_;
  // Readers between their announcement and their count, in the two
  // counters; phase_ names the one new readers use (see the top of this file).
  mutable std::atomic<uint32_t> pins_[2] = {0, 0};
  std::atomic<uint32_t> phase_{0};
  std::atomic<int32_t> allocated_{0};
  std::atomic<int32_t> protocol_;
  std::atomic<int32_t> port_;
  std::atomic<int32_t> tcpTimeout_;
  std::atomic<bool> peerRules_;
  std::atomic<uint32_t> generation_{0};
};

}  // namespace lanfeed
