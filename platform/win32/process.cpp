// Windows backend of the process service: the command line behind
// process_common.cpp (internal/system_calls.h), and ProgramFilePath.
// posix/process.cpp is the stand-in elsewhere.
#include "platform/process.h"

#include <windows.h>

#include <new>

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace system_calls {

const WChar* CommandLine() { return GetCommandLineW(); }

}  // namespace system_calls

bool ProgramFilePath(WChar* dest, std::size_t capacity) {
  if (dest == nullptr || capacity == 0) return false;
  // One character more than the caller's room: a path that fills it was cut.
  WChar* path = new (std::nothrow) WChar[capacity + 1];
  if (path == nullptr) return false;
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(capacity + 1));
  const bool fits = length != 0 && length + 1 <= capacity;
  if (fits) {
    for (DWORD i = 0; i <= length; ++i) dest[i] = path[i];
  }
  delete[] path;
  return fits;
}

}  // namespace lanfeed
