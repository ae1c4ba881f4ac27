// The values that LanFeedSetup keeps between its entry points for as long as
// it stays loaded: the entry points hand paths to each other through them.
// Used only on the installer's thread, one entry point at a time; not locked.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace lanfeed::setup {

struct SetupState {
  // The package's own install folder; empty at load.
  WChar package_folder[kMaxPath] = {};
  // Corvane's folder; written by every successful look-up only.
  WChar corvane_folder[kMaxPath] = {};
  // Install_Init's answer; once it is 1 (cancel) nothing sets it back.
  int32_t install_answer = 0;
};

SetupState& State();

// Back to the values at load, as if the library were loaded afresh.
void ResetStateForTesting();

}  // namespace lanfeed::setup
