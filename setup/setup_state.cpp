#include "setup/setup_state.h"

namespace lanfeed::setup {

namespace {
SetupState g_state;
}

SetupState& State() { return g_state; }

void ResetStateForTesting() { g_state = SetupState{}; }

}  // namespace lanfeed::setup
