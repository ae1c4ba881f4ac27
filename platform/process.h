// Facts about the running process: its command line and its program file.
//
// Test seam: SetCommandLineForTesting replaces the command line that
// ProcessCommandLine reports (null restores the real one). Set it only while
// no other thread asks.
#pragma once

#include <cstddef>

#include "platform/text.h"

namespace lanfeed {

// The whole command line as one text (GetCommandLineW). Elsewhere the
// program's arguments joined by single blanks. The text stays valid until the
// next SetCommandLineForTesting.
const WChar* ProcessCommandLine();

void SetCommandLineForTesting(const WChar* command_line);

// Full path of the running program's file (GetModuleFileNameW for the
// program, not a library) into `dest` of `capacity` wide characters. Fails,
// writing nothing, when the path and its terminator do not fit. Elsewhere the
// path is given as a Windows path, the inverse of the mapping in files.h: its
// slashes become backslashes, and below $LANFEED_DEVICE_ROOT the root is cut.
bool ProgramFilePath(WChar* dest, std::size_t capacity);

}  // namespace lanfeed
