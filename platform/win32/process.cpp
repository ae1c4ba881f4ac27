#include "platform/process.h"

#include <windows.h>

#include <vector>

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace system_calls {

const WChar* CommandLine() { return GetCommandLineW(); }

}  // namespace system_calls

bool ProgramFilePath(WChar* dest, std::size_t capacity) {
  if (dest == nullptr || capacity == 0) return false;
  // One character more than the caller's room: a path that fills it was cut.
  std::vector<wchar_t> path(capacity + 1, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length + 1 > capacity) return false;
  for (DWORD i = 0; i <= length; ++i) dest[i] = path[i];
  return true;
}

}  // namespace lanfeed
