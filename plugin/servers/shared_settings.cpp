#include "plugin/servers/shared_settings.h"

#include <new>

#include "platform/thread.h"

namespace lanfeed {

namespace {
// Loads of a reader counter before Assign's wait starts to yield the
// processor: a reader needs only a few instructions to leave it, unless it
// was preempted there.
constexpr int kSpinsBeforeYield = 64;
}  // namespace

SharedSettings::SharedSettings() : current_(&initial_) {
  StoreFields(initial_.settings);
}

SharedSettings::~SharedSettings() {
  // No pin is held any more: the current record goes with the holder's
  // reference, and every replaced one went with its last pin.
  Release(current_.load(std::memory_order_relaxed));
}

bool SharedSettings::Assign(const DeviceSettings& source) {
  Record* fresh = new (std::nothrow) Record{source};
  if (fresh == nullptr) return false;
  // DeviceSettings leaves out a path it cannot allocate; a record without
  // the configured sound is not the configuration either.
  if (source.Feedback.WaveFilePath != nullptr && fresh->settings.Feedback.WaveFilePath == nullptr) {
    delete fresh;
    return false;
  }
  fresh->allocated = &allocated_;
  allocated_.fetch_add(1, std::memory_order_relaxed);  // a count for tests only
  StoreFields(fresh->settings);
  // Sequentially consistent: it publishes the record's contents (the
  // release part) and takes its place in the single order with the
  // readers' announcements and the counter loads of the wait below, which
  // the argument in the header relies on (store, then load of another
  // variable: only seq_cst orders the two).
  Record* replaced = current_.exchange(fresh, std::memory_order_seq_cst);
  // Release: a reader whose load of the generation (acquire) sees the new
  // value sees the new record's fields as well.
  generation_.fetch_add(1, std::memory_order_release);
  WaitForReadersToCount();
  Release(replaced);
  return true;
}

SharedSettings::Pin SharedSettings::Acquire() const {
  // Relaxed: the phase only steers readers away from the counter Assign is
  // waiting for; which counter a reader takes does not matter for safety,
  // as Assign waits for both.
  std::atomic<uint32_t>& pins = pins_[phase_.load(std::memory_order_relaxed) & 1];
  // Sequentially consistent, the announcement and the load after it: in
  // the single order either Assign's wait sees this announcement, or this
  // load comes after Assign's exchange and loads the new record. With
  // weaker orders the load could be made before the announcement is seen.
  pins.fetch_add(1, std::memory_order_seq_cst);
  Record* record = current_.load(std::memory_order_seq_cst);
  // Relaxed: the count only has to be atomic; the release below makes it
  // visible to the Assign that may drop the holder's reference next.
  record->references.fetch_add(1, std::memory_order_relaxed);
  // Release: Assign's wait (an acquiring load that reads this or a later
  // change of the counter) then sees the count above before it drops the
  // holder's reference.
  pins.fetch_sub(1, std::memory_order_release);
  return Pin(record);
}

void SharedSettings::WaitForReadersToCount() {
  // Assign runs on one thread at a time, so only this thread changes the
  // phase; relaxed for the reason given in Acquire.
  const uint32_t phase = phase_.load(std::memory_order_relaxed);
  for (uint32_t step = 1; step <= 2; ++step) {
    // New readers go to the other counter while this one empties.
    phase_.store(phase + step, std::memory_order_relaxed);
    const std::atomic<uint32_t>& pins = pins_[(phase + step - 1) & 1];
    // Sequentially consistent: after the exchange in Assign in the single
    // order (see there); acquiring, so the readers' counts are seen.
    for (int spins = 0; pins.load(std::memory_order_seq_cst) != 0;) {
      // A reader was preempted between its announcement and its count;
      // give it the processor (on the handheld it may have a lower
      // priority, which a busy wait would starve).
      if (++spins >= kSpinsBeforeYield) SleepMs(1);
    }
  }
}

void SharedSettings::Release(Record* record) {
  // Acquire and release: the thread that drops the last reference sees
  // every other holder's use of the record before it frees it.
  if (record->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (record->allocated == nullptr) return;  // initial_: not allocated, never freed
  record->allocated->fetch_sub(1, std::memory_order_relaxed);
  delete record;
}

void SharedSettings::StoreFields(const DeviceSettings& settings) {
  // Relaxed: each field is read on its own, as one value; no reader derives
  // anything from two of them together.
  protocol_.store(settings.Protocol, std::memory_order_relaxed);
  port_.store(settings.Port, std::memory_order_relaxed);
  tcpTimeout_.store(settings.TCPTimeout, std::memory_order_relaxed);
  peerRules_.store(settings.HasPeerRules(), std::memory_order_relaxed);
}

SharedSettings::Pin::~Pin() {
  if (record_ != nullptr) Release(record_);
}

const DeviceSettings& SharedSettings::Pin::operator*() const { return record_->settings; }

}  // namespace lanfeed
