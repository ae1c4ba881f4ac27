// The handle table of the sockets service: our own SocketHandle numbers
// mapped to their entries (sockets_internal.h), plus the library's startup
// count.
//
// Guarantees:
// - Handles are handed out in increasing order from 1 and never reused within
//   the process, so a stale handle can only fail, never reach a newer socket.
// - Looking a handle up (Find) takes no lock: it pins the entry with one
//   atomic increment of the entry's own counter, so calls on different
//   sockets never wait for each other and calls on one socket only share
//   that counter. A pinned entry and its native socket stay valid for the
//   whole call, even when another thread closes the handle meanwhile.
// - A closed handle is gone at once: every later Find or Close on it fails
//   with 10038 (WSAENOTSOCK), as does a handle never handed out. Its native
//   socket is shut (NativeShut) exactly once, at the close, and released
//   (NativeRelease) exactly once, when the last call that pinned it lets go.
// - While the library is not started Add, Find and Close fail with 10093
//   (WSANOTINITIALISED) and the table holds no open entry: the last Cleanup
//   closes every entry still open, as WSACleanup closes every socket.
// - The system's library stays started while any native socket is alive: a
//   native socket counts from its Add (or a Hold taken before it was opened)
//   until its release. The table runs NativeCleanup once per Cleanup, but
//   the last Cleanup's only when no native socket is alive; while calls
//   still pin closed entries it is owed and runs when the last of them
//   lets go. So no native socket is ever released, and no pinned call ever
//   runs, after the system's library has stopped, and the system can never
//   hand a pinned call's socket value to a newer socket meanwhile.
// - The table never sets the last error: each call returns 0 or the error
//   number for the caller to report.
//
// How a look-up stays safe without a lock: entries are never freed while the
// table lives. A closed entry, once released, is reused for a later socket,
// so a look-up that read a stale pointer still reads valid memory; it pins
// first and then checks that the entry is open and still stands for its
// handle, and lets go of it otherwise. The slots that map handles to entries
// are only a hint, read without a lock: handle h lives in slot h mod size,
// Add skips handle numbers whose slot is taken, and a grown slot array keeps
// the old one alive for look-ups still reading it.
//
// Thread-safety: every member may be called from any thread, except
// ReleaseAll. Add, Close, Cleanup, Hold, LetGo and WithLock take the table's
// lock; Find and unpinning do not (except the unpin that releases an entry,
// which files it for reuse). NativeCleanup always runs outside the lock.
//
// Storage: the table is constant-initialized and trivially destructible, so
// an instance of static storage duration runs no code at load or at exit. It
// allocates with the non-throwing operator new and reports 10055 when memory
// runs out. The library that holds it can be unloaded and loaded again:
// its unload calls ReleaseAll, which frees everything.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/lock.h"
#include "platform/sockets.h"
#include "platform/internal/sockets_internal.h"

namespace lanfeed::sockets_internal {

class SocketTable {
 public:
  // One call's hold on an entry: while it lives the entry keeps its handle
  // and its native socket. Not copyable; movable.
  class Pin {
   public:
    Pin() = default;
    ~Pin() { Reset(); }
    Pin(Pin&& other) noexcept : table_(other.table_), entry_(std::exchange(other.entry_, nullptr)) {}
    Pin& operator=(Pin&&) = delete;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

    explicit operator bool() const { return entry_ != nullptr; }
    SocketEntry& operator*() const { return *entry_; }
    SocketEntry* operator->() const { return entry_; }
    void Reset();

   private:
    friend class SocketTable;
    Pin(SocketTable* table, SocketEntry* entry) : table_(table), entry_(entry) {}
    SocketTable* table_ = nullptr;
    SocketEntry* entry_ = nullptr;
  };

  // The open entries, as WithLock hands them to its function.
  class OpenEntries {
   public:
    // Whether `predicate` holds for any open entry.
    template <typename Fn>
    bool Any(Fn&& predicate) const;

   private:
    friend class SocketTable;
    struct Slots;
    explicit OpenEntries(const Slots* slots) : slots_(slots) {}
    const Slots* slots_;  // null before the first Add
  };

  constexpr SocketTable() = default;
  SocketTable(const SocketTable&) = delete;
  SocketTable& operator=(const SocketTable&) = delete;

  // Counts one successful startup of the library (one NativeStartup).
  void Startup();
  // Counts one cleanup: 10093 when the library is not running (nothing
  // changes), else 0. The last cleanup closes every entry still open. Runs
  // the NativeCleanup that matches the startup, at once or, while a native
  // socket is still alive, when the last one is released.
  int32_t Cleanup();
  // Keeps the system's library started while a native socket is being
  // opened that is not in the table yet: 10093 when the library is not
  // running, else 0, to be matched by one LetGo after the socket has been
  // added (or released).
  int32_t Hold();
  void LetGo();
  bool Started() const { return started_.load(std::memory_order_acquire) > 0; }

  // Enters `native` under a new handle. On failure (10093; 10055 when memory
  // runs out; 10024 when the handle numbers are used up) the caller still
  // owns `native` and `handle` is left alone.
  int32_t Add(NativeSocket* native, int32_t family, int32_t type, bool connected, SocketHandle& handle);
  // Pins the entry of an open handle, or returns 10093 / 10038 with `pin`
  // left alone. Takes no lock.
  int32_t Find(SocketHandle s, Pin& pin);
  // Takes an open handle out of the table and shuts its native socket; the
  // same errors as Find. Calls still running on the entry keep its native
  // socket until they let go.
  int32_t Close(SocketHandle s);

  // Releases every native socket still held and frees all the table's
  // memory; the table is then as new. A NativeCleanup still owed is not run
  // (the unload of a DLL must not stop the system's library). For the unload of the library that
  // holds it, when no call can run any more.
  void ReleaseAll();

  // Runs fn(const OpenEntries&) with the table locked and returns its result,
  // for a check across sockets that no open, close or other such check may
  // race. `fn` must not call back into the table.
  template <typename Fn>
  auto WithLock(Fn&& fn) {
    AutoStaticLock guard(lock_);
    return std::forward<Fn>(fn)(OpenEntries(slots_));
  }

 private:
  using Slots = OpenEntries::Slots;

  // A slot array of `count` empty slots, or null when memory runs out.
  static Slots* NewSlots(std::size_t count);
  // Lets go of one pin; the last pin of a closed entry releases it.
  void Unpin(SocketEntry* entry);
  // One native socket (or Hold) less. Needs the lock. Returns how many
  // owed NativeCleanup calls the caller must run once it has let go of the
  // lock: all of them when this was the last native socket, else none.
  int DropNative();
  static void RunNativeCleanups(int count);
  // Puts a released entry on the free list for reuse. Needs the lock.
  void PutOnFreeList(SocketEntry* entry);
  // An entry for a new socket: one from the free list, else a new one (null when memory
  // runs out). Needs the lock.
  SocketEntry* TakeEntry();
  // Makes room for one more open entry (a slot array at most half full).
  // Needs the lock.
  bool Reserve();

  StaticLock lock_;
  std::atomic<int> started_{0};
  SocketHandle nextHandle_ = 1;
  std::size_t openCount_ = 0;
  // Native sockets alive (in entries not yet released) plus Holds, and the
  // NativeCleanup calls owed until that count is 0. Guarded by lock_.
  int nativeAlive_ = 0;
  int cleanupsOwed_ = 0;
  // The current slot array (null until the first Add); it links every older
  // array, kept for look-ups that may still read one.
  std::atomic<Slots*> current_{nullptr};
  Slots* slots_ = nullptr;  // the same, for code under the lock
  // Every entry ever made (linked through SocketEntry::nextMade), and those
  // free for reuse (through SocketEntry::nextFree): freeing never allocates.
  SocketEntry* made_ = nullptr;
  SocketEntry* free_ = nullptr;
};

struct SocketTable::OpenEntries::Slots {
  std::size_t mask = 0;  // count - 1; count is a power of two
  std::atomic<SocketEntry*>* at = nullptr;
  Slots* older = nullptr;
};

template <typename Fn>
bool SocketTable::OpenEntries::Any(Fn&& predicate) const {
  if (slots_ == nullptr) return false;
  for (std::size_t i = 0; i <= slots_->mask; ++i) {
    const SocketEntry* entry = slots_->at[i].load(std::memory_order_relaxed);
    if (entry != nullptr && predicate(*entry)) return true;
  }
  return false;
}

}  // namespace lanfeed::sockets_internal
