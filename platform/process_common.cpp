// The shared part of the process service (process.h): the command line's
// test replacement, or else the backend's command line
// (internal/system_calls.h). The backends, posix/process.cpp and
// win32/process.cpp, also implement ProgramFilePath whole.
#include "platform/process.h"

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace {
// The replacement's own copy; null: the real command line. A replacement
// that cannot be copied reads as the empty text.
WChar* g_commandLine = nullptr;
bool g_overridden = false;
}  // namespace

const WChar* ProcessCommandLine() {
  if (!g_overridden) return system_calls::CommandLine();
  return g_commandLine != nullptr ? g_commandLine : LF_TEXT("");
}

void SetCommandLineForTesting(const WChar* command_line) {
  delete[] g_commandLine;
  g_overridden = command_line != nullptr;
  g_commandLine = g_overridden ? WStrDup(command_line) : nullptr;
}

}  // namespace lanfeed
