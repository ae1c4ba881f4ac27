// How a program started by a test takes over the test's registry root (see
// platform/registry.h). Called by the Windows process entry only: the POSIX
// stand-in reads the root from the environment itself.
#pragma once

namespace lanfeed::internal {

// Applies the root named by the environment variable LANFEED_REGISTRY_ROOT,
// when there is one; otherwise does nothing.
void InheritRegistryRoot();

}  // namespace lanfeed::internal
