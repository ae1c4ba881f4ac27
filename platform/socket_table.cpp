// The handle table of the sockets service (internal/socket_table.h): its
// slots, entries and counts, and how a pin, a close and a cleanup change them.
#include "platform/internal/socket_table.h"

#include <limits>
#include <new>
#include <type_traits>

namespace lanfeed::sockets_internal {

// An instance of static storage duration runs no code at load or exit.
static_assert(std::is_trivially_destructible_v<SocketTable>);

namespace {

constexpr std::size_t kFirstSlotCount = 64;
constexpr SocketHandle kLastHandle = std::numeric_limits<SocketHandle>::max();
constexpr uint32_t kFlagBits = SocketEntry::kClosedBit | SocketEntry::kReleasingBit;

std::size_t SlotOf(SocketHandle s, std::size_t mask) { return static_cast<std::size_t>(s) & mask; }

// Marks a pinned entry closed, so that no look-up pins it successfully any
// more, and wakes every call waiting on its native socket.
void MarkClosedAndShut(SocketEntry* entry) {
  entry->state.fetch_or(SocketEntry::kClosedBit, std::memory_order_acq_rel);
  NativeShut(*entry->native);
}

// Lets go of one pin. True when it was the last pin of a closed entry and
// this caller won the right to release it (exactly one caller ever does).
bool DropPin(SocketEntry* entry) {
  const uint32_t left = entry->state.fetch_sub(SocketEntry::kPinUnit, std::memory_order_acq_rel) -
                        SocketEntry::kPinUnit;
  if (left != SocketEntry::kClosedBit) return false;
  uint32_t expected = SocketEntry::kClosedBit;
  return entry->state.compare_exchange_strong(expected, SocketEntry::kClosedBit | SocketEntry::kReleasingBit,
                                              std::memory_order_acq_rel);
}

// Frees the native socket of an entry that no call uses any more. A look-up
// that pins the entry from now on finds the releasing bit or, once the entry
// is back on the free list, a handle that is not its own.
void ReleaseNative(SocketEntry* entry) {
  NativeRelease(entry->native);
  entry->native = nullptr;
  entry->handle.store(0, std::memory_order_release);
}

}  // namespace

SocketTable::Slots* SocketTable::NewSlots(std::size_t count) {
  auto* slots = new (std::nothrow) Slots;
  if (slots == nullptr) return nullptr;
  slots->at = new (std::nothrow) std::atomic<SocketEntry*>[count];
  if (slots->at == nullptr) {
    delete slots;
    return nullptr;
  }
  slots->mask = count - 1;
  for (std::size_t i = 0; i < count; ++i) slots->at[i].store(nullptr, std::memory_order_relaxed);
  return slots;
}

void SocketTable::Pin::Reset() {
  if (entry_ != nullptr) table_->Unpin(std::exchange(entry_, nullptr));
}

void SocketTable::ReleaseAll() {
  for (SocketEntry* entry = made_; entry != nullptr;) {
    SocketEntry* next = entry->nextMade;
    if (entry->native != nullptr) NativeRelease(entry->native);
    delete entry;
    entry = next;
  }
  // A cleanup still owed here means a call outlived its cleanup up to the
  // unload, which the callers rule out; it is dropped rather than run, as
  // the system's library must not be stopped from a DLL's unload.
  nativeAlive_ = 0;
  cleanupsOwed_ = 0;
  for (Slots* slots = slots_; slots != nullptr;) {
    Slots* older = slots->older;
    delete[] slots->at;
    delete slots;
    slots = older;
  }
  made_ = free_ = nullptr;
  slots_ = nullptr;
  current_.store(nullptr, std::memory_order_release);
  openCount_ = 0;
  nextHandle_ = 1;
  started_.store(0, std::memory_order_release);
  lock_.Destroy();
}

void SocketTable::Startup() {
  AutoStaticLock guard(lock_);
  started_.fetch_add(1, std::memory_order_acq_rel);
}

int32_t SocketTable::Cleanup() {
  int cleanups = 0;
  {
    AutoStaticLock guard(lock_);
    if (started_.load(std::memory_order_acquire) == 0) return kWsaNotinitialised;
    // Not the last cleanup: a later startup's count keeps the library running.
    if (started_.fetch_sub(1, std::memory_order_acq_rel) > 1) {
      cleanups = 1;
    } else {
      if (slots_ != nullptr) {
        for (std::size_t i = 0; i <= slots_->mask; ++i) {
          SocketEntry* entry = slots_->at[i].load(std::memory_order_relaxed);
          if (entry == nullptr) continue;
          slots_->at[i].store(nullptr, std::memory_order_release);
          entry->state.fetch_add(SocketEntry::kPinUnit, std::memory_order_acq_rel);
          MarkClosedAndShut(entry);
          if (DropPin(entry)) {
            ReleaseNative(entry);
            PutOnFreeList(entry);
            cleanups += DropNative();
          }
        }
      }
      openCount_ = 0;
      // A call still pinning a closed entry keeps its native socket, and so
      // the library, until it lets go (DropNative then runs this one).
      if (nativeAlive_ > 0) {
        ++cleanupsOwed_;
      } else {
        ++cleanups;
      }
    }
  }
  RunNativeCleanups(cleanups);
  return 0;
}

int32_t SocketTable::Hold() {
  AutoStaticLock guard(lock_);
  if (started_.load(std::memory_order_acquire) == 0) return kWsaNotinitialised;
  ++nativeAlive_;
  return 0;
}

void SocketTable::LetGo() {
  int cleanups = 0;
  {
    AutoStaticLock guard(lock_);
    cleanups = DropNative();
  }
  RunNativeCleanups(cleanups);
}

int SocketTable::DropNative() {
  if (--nativeAlive_ > 0) return 0;
  const int owed = cleanupsOwed_;
  cleanupsOwed_ = 0;
  return owed;
}

void SocketTable::RunNativeCleanups(int count) {
  for (int i = 0; i < count; ++i) NativeCleanup();
}

int32_t SocketTable::Add(NativeSocket* native, int32_t family, int32_t type, bool connected,
                         SocketHandle& handle) {
  AutoStaticLock guard(lock_);
  if (started_.load(std::memory_order_acquire) == 0) return kWsaNotinitialised;
  if (!Reserve()) return kWsaEnobufs;
  SocketEntry* entry = TakeEntry();
  if (entry == nullptr) return kWsaEnobufs;
  // Handle numbers whose slot is taken are skipped, never handed out later.
  SocketHandle s = 0;
  do {
    if (nextHandle_ == kLastHandle) {
      PutOnFreeList(entry);
      return kWsaEmfile;
    }
    s = nextHandle_++;
  } while (slots_->at[SlotOf(s, slots_->mask)].load(std::memory_order_relaxed) != nullptr);

  entry->family = family;
  entry->type = type;
  entry->native = native;
  entry->bound.store(connected, std::memory_order_relaxed);
  entry->listening.store(false, std::memory_order_relaxed);
  entry->connected.store(connected, std::memory_order_relaxed);
  entry->bindAddress = SocketAddress{};
  entry->handle.store(s, std::memory_order_release);
  slots_->at[SlotOf(s, slots_->mask)].store(entry, std::memory_order_release);
  ++openCount_;
  ++nativeAlive_;  // until ReleaseNative
  handle = s;
  return 0;
}

int32_t SocketTable::Find(SocketHandle s, Pin& pin) {
  if (!Started()) return kWsaNotinitialised;
  if (s <= 0) return kWsaEnotsock;
  const Slots* slots = current_.load(std::memory_order_acquire);
  if (slots == nullptr) return kWsaEnotsock;
  SocketEntry* entry = slots->at[SlotOf(s, slots->mask)].load(std::memory_order_acquire);
  if (entry == nullptr) return kWsaEnotsock;
  const uint32_t before = entry->state.fetch_add(SocketEntry::kPinUnit, std::memory_order_acq_rel);
  if ((before & kFlagBits) != 0 || entry->handle.load(std::memory_order_acquire) != s) {
    Unpin(entry);  // closed, or reused for another socket since the slot was read
    return kWsaEnotsock;
  }
  pin.Reset();
  pin.table_ = this;
  pin.entry_ = entry;
  return 0;
}

int32_t SocketTable::Close(SocketHandle s) {
  SocketEntry* entry = nullptr;
  {
    AutoStaticLock guard(lock_);
    if (started_.load(std::memory_order_acquire) == 0) return kWsaNotinitialised;
    if (slots_ == nullptr || s <= 0) return kWsaEnotsock;
    std::atomic<SocketEntry*>& slot = slots_->at[SlotOf(s, slots_->mask)];
    entry = slot.load(std::memory_order_relaxed);
    if (entry == nullptr || entry->handle.load(std::memory_order_relaxed) != s) return kWsaEnotsock;
    slot.store(nullptr, std::memory_order_release);
    --openCount_;
    // Pinned by this call, so that the entry outlives the shut below.
    entry->state.fetch_add(SocketEntry::kPinUnit, std::memory_order_acq_rel);
  }
  MarkClosedAndShut(entry);
  Unpin(entry);
  return 0;
}

void SocketTable::Unpin(SocketEntry* entry) {
  if (!DropPin(entry)) return;
  ReleaseNative(entry);
  int cleanups = 0;
  {
    AutoStaticLock guard(lock_);
    PutOnFreeList(entry);
    cleanups = DropNative();
  }
  RunNativeCleanups(cleanups);
}

void SocketTable::PutOnFreeList(SocketEntry* entry) {
  entry->state.fetch_and(~kFlagBits, std::memory_order_acq_rel);
  entry->nextFree = free_;
  free_ = entry;
}

SocketEntry* SocketTable::TakeEntry() {
  if (SocketEntry* entry = free_) {
    free_ = entry->nextFree;
    entry->nextFree = nullptr;
    return entry;
  }
  auto* entry = new (std::nothrow) SocketEntry();
  if (entry == nullptr) return nullptr;
  entry->nextMade = made_;
  made_ = entry;
  return entry;
}

bool SocketTable::Reserve() {
  if (slots_ != nullptr && (openCount_ + 1) * 2 <= slots_->mask + 1) return true;
  const std::size_t count = slots_ != nullptr ? (slots_->mask + 1) * 2 : kFirstSlotCount;
  Slots* grown = NewSlots(count);
  if (grown == nullptr) return false;
  if (slots_ != nullptr) {
    // Open handles differ in their low bits, so they differ in the new slots too.
    for (std::size_t i = 0; i <= slots_->mask; ++i) {
      SocketEntry* entry = slots_->at[i].load(std::memory_order_relaxed);
      if (entry == nullptr) continue;
      grown->at[SlotOf(entry->handle.load(std::memory_order_relaxed), grown->mask)].store(
          entry, std::memory_order_relaxed);
    }
  }
  grown->older = slots_;
  slots_ = grown;
  current_.store(slots_, std::memory_order_release);
  return true;
}

}  // namespace lanfeed::sockets_internal
