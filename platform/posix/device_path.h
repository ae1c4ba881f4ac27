// Internal to the POSIX backend: Windows paths to host paths.
#pragma once

#include <new>
#include <string>

#include "platform/text.h"

namespace lanfeed::posix {

// Maps a Windows path (see platform/files.h): backslashes become slashes, a
// rooted path goes under $LANFEED_DEVICE_ROOT (when set), and each component
// is resolved without regard to ASCII letter case against what exists. A
// relative path stays relative to the working folder. A null path maps to "".
std::string MapDevicePath(const WChar* path);

// The inverse for a host path: below $LANFEED_DEVICE_ROOT (when set) the part
// after the root, else the whole path; slashes become backslashes.
WString UnmapDevicePath(const std::string& host_path);

// True when the two UTF-8 names are equal apart from ASCII letter case.
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

// Runs `body` and returns its result, or `failure` when one of its
// allocations failed: the stand-in's strings and containers throw
// std::bad_alloc, and a call of the platform layer fails then, as the
// system's call fails when memory runs out, rather than throwing into the
// device code (whose exports must never throw).
template <typename Result, typename Body>
Result FailOnNoMemory(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return failure;
  }
}

}  // namespace lanfeed::posix
