// POSIX backend of the system information service: the query behind
// system_info_common.cpp (internal/system_calls.h). win32/system_info.cpp is
// the Windows one.
#include "platform/system_info.h"

#include <cstdlib>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

// There is no such system parameter here; a person may play a device by
// setting LANFEED_PLATFORM_TYPE (e.g. "PocketPC WinCE").
bool PlatformType(WChar* buffer, std::size_t capacity) {
  const char* text = std::getenv("LANFEED_PLATFORM_TYPE");
  if (text == nullptr) return false;
  WStrCopy(buffer, capacity, FromUtf8(text).c_str());
  return true;
}

}  // namespace lanfeed::system_calls
