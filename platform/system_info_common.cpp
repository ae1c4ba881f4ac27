// The shared part of the system information service (system_info.h): the
// test answers, the argument checks and the terminator, around the backend's
// query (internal/system_calls.h): win32/system_info.cpp asks the system,
// posix/system_info.cpp the environment.
#include "platform/system_info.h"

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace {
enum class Mode { kReal, kFail, kText };
Mode g_mode = Mode::kReal;
WChar* g_text = nullptr;  // kText's own copy
}  // namespace

bool QueryPlatformType(WChar* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return false;
  switch (g_mode) {
    case Mode::kFail:
      return false;
    case Mode::kText:
      WStrCopy(buffer, capacity, g_text);  // cut to fit, like the system
      return true;
    case Mode::kReal:
      break;
  }
  if (!system_calls::PlatformType(buffer, capacity)) return false;
  buffer[capacity - 1] = 0;  // the system does not promise a terminator
  return true;
}

void SetPlatformTypeForTesting(const WChar* text) {
  delete[] g_text;
  g_mode = text == nullptr ? Mode::kFail : Mode::kText;
  g_text = text == nullptr ? nullptr : WStrDup(text);
}

void ResetPlatformTypeForTesting() {
  g_mode = Mode::kReal;
  delete[] g_text;
  g_text = nullptr;
}

}  // namespace lanfeed
