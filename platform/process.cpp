#include "platform/process.h"

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace {
bool g_overridden = false;
WString g_command_line;
}  // namespace

const WChar* ProcessCommandLine() {
  return g_overridden ? g_command_line.c_str() : system_calls::CommandLine();
}

void SetCommandLineForTesting(const WChar* command_line) {
  g_overridden = command_line != nullptr;
  g_command_line = g_overridden ? WString(command_line) : WString();
}

}  // namespace lanfeed
