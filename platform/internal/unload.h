// Work for the unload of the module that holds this code. Static state that
// keeps memory or system objects is constant-initialized and registers how
// to free it on first use; the module's unload runs what was registered:
// on Windows the device library's entry routine at its detach (not at
// process exit, when the system reclaims everything), elsewhere static
// destruction. Nothing runs at load.
#pragma once

namespace lanfeed::platform_internal {

using UnloadFn = void (*)();

// Registers `fn` to run at the unload; registering it again changes
// nothing. Returns false when the (small, fixed) table is full. Any thread.
bool RunAtUnload(UnloadFn fn);
// Runs every registered function, the last registered first, and forgets
// them. Only at the unload, when no other thread runs the module's code.
void RunUnloadFunctions();

}  // namespace lanfeed::platform_internal
