#include <atomic>

#include "platform/internal/unload.h"

namespace lanfeed::platform_internal {
namespace {

constexpr int kMaxUnloadFns = 8;
constinit std::atomic<UnloadFn> g_unloadFns[kMaxUnloadFns] = {};

}  // namespace

bool RunAtUnload(UnloadFn fn) {
  for (auto& slot : g_unloadFns) {
    UnloadFn expected = nullptr;
    if (slot.compare_exchange_strong(expected, fn, std::memory_order_acq_rel) || expected == fn) return true;
  }
  return false;
}

void RunUnloadFunctions() {
  for (int i = kMaxUnloadFns - 1; i >= 0; --i) {
    if (UnloadFn fn = g_unloadFns[i].exchange(nullptr, std::memory_order_acq_rel)) fn();
  }
}

}  // namespace lanfeed::platform_internal
