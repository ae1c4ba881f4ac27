// The test hooks of the sockets service (platform/socket_test_hooks.h) and
// what the shared calls take from them (internal/socket_test_hooks.h): the
// table of injected faults and the call hook. While nothing is injected a
// call looks at the table with one atomic load and takes no lock.
#include "platform/socket_test_hooks.h"

#include <atomic>

#include "platform/internal/socket_test_hooks.h"
#include "platform/lock.h"

namespace lanfeed {

namespace {

constexpr int kOpCount = 6;

struct FaultTable {
  StaticLock lock;
  int32_t codes[kOpCount] = {};
  uint32_t uses[kOpCount] = {};  // calls left to fail with the code
  // How many operations have a fault injected: lets the calls skip the lock
  // while it is 0.
  std::atomic<int> pending{0};
};

constinit FaultTable g_faults;

}  // namespace

namespace sockets_internal {

constinit std::atomic<SocketCallHook> g_socketCallHook{nullptr};

int32_t TakeSocketFault(SocketOp op) {
  if (g_faults.pending.load() == 0) return 0;
  AutoStaticLock guard(g_faults.lock);
  int32_t& slot = g_faults.codes[static_cast<int>(op)];
  const int32_t code = slot;
  if (code != 0 && --g_faults.uses[static_cast<int>(op)] == 0) {
    slot = 0;
    g_faults.pending.fetch_sub(1);
  }
  return code;
}

void ReleaseSocketFaults() { g_faults.lock.Destroy(); }

}  // namespace sockets_internal

void InjectSocketFault(SocketOp op, int32_t code, uint32_t times) {
  AutoStaticLock guard(g_faults.lock);
  int32_t& slot = g_faults.codes[static_cast<int>(op)];
  if (slot != 0) g_faults.pending.fetch_sub(1);
  slot = times != 0 ? code : 0;
  g_faults.uses[static_cast<int>(op)] = times;
  if (slot != 0) g_faults.pending.fetch_add(1);
}

void ClearSocketFaults() {
  AutoStaticLock guard(g_faults.lock);
  for (int32_t& slot : g_faults.codes) slot = 0;
  g_faults.pending.store(0);
}

void SetSocketCallHook(SocketCallHook hook) {
  sockets_internal::g_socketCallHook.store(hook, std::memory_order_release);
}

}  // namespace lanfeed
