// What the shared calls of the sockets service take from the test hooks
// (platform/socket_test_hooks.h), which socket_test_hooks.cpp keeps: the
// fault injected for an operation, and the call hook's place in a call.
//
// Cost while no test uses them: one atomic load each, no lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/socket_test_hooks.h"
#include "platform/sockets.h"

namespace lanfeed::sockets_internal {

// Consumes the fault injected for `op`: returns its code, or 0 when none is
// pending. The shared calls take it right before the system call it stands for.
int32_t TakeSocketFault(SocketOp op);

// Frees what the fault table keeps of the system (its lock). Only at the
// unload of the library that holds it.
void ReleaseSocketFaults();

// The hook SetSocketCallHook set, or null.
extern std::atomic<SocketCallHook> g_socketCallHook;

// The call hook's place in one call that may wait: it runs once, right
// before the call's first native operation and after the call's last check
// that its socket is open, which is the window where a call could reach a
// reused socket number if a close freed the native socket at once.
class CallSeam {
 public:
  explicit CallSeam(SocketHandle s) : handle_(s) {}
  void Pass() {
    if (passed_) return;
    passed_ = true;
    if (SocketCallHook hook = g_socketCallHook.load(std::memory_order_acquire)) hook(handle_);
  }

 private:
  const SocketHandle handle_;
  bool passed_ = false;
};

}  // namespace lanfeed::sockets_internal
