// Internal to the POSIX backend: Windows paths to host paths.
#pragma once

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

}  // namespace lanfeed::posix
