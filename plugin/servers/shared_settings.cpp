#include "plugin/servers/shared_settings.h"

#include <new>

namespace lanfeed {

SharedSettings::SharedSettings() : current_(&initial_) {
  initial_.embedded = true;
  StoreFields(initial_.settings);
}

SharedSettings::~SharedSettings() {
  // No pin is held any more: every record goes with the holder's reference.
  Release(current_.load());
  while (retired_ != nullptr) {
    Record* next = retired_->nextRetired;
    Release(retired_);
    retired_ = next;
  }
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
  StoreFields(fresh->settings);
  Record* replaced = current_.exchange(fresh);
  generation_.fetch_add(1, std::memory_order_release);
  replaced->nextRetired = retired_;
  retired_ = replaced;
  ReleaseRetiredWhenUnpinned();
  return true;
}

SharedSettings::Pin SharedSettings::Acquire() const {
  // Announced before the load and left after the count (see the header):
  // Assign frees nothing that this reader may still be about to count.
  pins_.fetch_add(1);
  Record* record = current_.load();
  record->references.fetch_add(1, std::memory_order_relaxed);
  pins_.fetch_sub(1, std::memory_order_release);
  return Pin(record);
}

void SharedSettings::ReleaseRetiredWhenUnpinned() {
  // Seeing 0 after the exchange: a reader that loaded a replaced record has
  // already counted its reference (its release of pins_ came before this
  // load), and a reader that comes later loads the new record.
  if (pins_.load() != 0) return;
  Record* record = retired_;
  retired_ = nullptr;
  while (record != nullptr) {
    Record* next = record->nextRetired;
    Release(record);
    record = next;
  }
}

void SharedSettings::Release(Record* record) {
  if (record->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (!record->embedded) delete record;
}

void SharedSettings::StoreFields(const DeviceSettings& settings) {
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
