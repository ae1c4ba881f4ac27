// COM library initialisation for the calling thread.
//
// Windows: CoInitializeEx(nullptr, 0 = COINIT_MULTITHREADED) and
// CoUninitialize. Elsewhere there is no COM: initialising succeeds and both
// calls only count.
//
// Test seam: every call is counted (ComCallCountsForTesting); and
// FailComInitializeForTesting makes ComInitialize fail without calling the
// system, as when the thread already lives in another apartment.
#pragma once

#include <cstdint>

namespace lanfeed {

// Initialises COM for the calling thread in the multithreaded mode. Returns
// true when the call succeeded (S_OK or S_FALSE), which the caller must then
// balance with exactly one ComUninitialize.
bool ComInitialize();
void ComUninitialize();

// Initialises COM on construction and, only when that succeeded, uninitialises
// it on destruction, so every return path of a scope stays balanced and a
// failed initialisation never tears down a caller's apartment.
class ScopedComInitialize {
 public:
  ScopedComInitialize() : initialized_(ComInitialize()) {}
  ~ScopedComInitialize() {
    if (initialized_) ComUninitialize();
  }
  ScopedComInitialize(const ScopedComInitialize&) = delete;
  ScopedComInitialize& operator=(const ScopedComInitialize&) = delete;

 private:
  bool initialized_;
};

struct ComCallCounts {
  uint64_t initialize = 0;    // ComInitialize calls, failed ones included
  uint64_t uninitialize = 0;  // ComUninitialize calls
};
ComCallCounts ComCallCountsForTesting();
void FailComInitializeForTesting(bool fail);

}  // namespace lanfeed
