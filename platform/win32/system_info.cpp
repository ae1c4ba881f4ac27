// Windows backend of the system information service: the query behind
// system_info_common.cpp (internal/system_calls.h). posix/system_info.cpp is
// the stand-in elsewhere.
#include "platform/system_info.h"

#include <windows.h>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

namespace {
constexpr UINT kGetPlatformType = 257;  // SPI_GETPLATFORMTYPE (Windows CE)
}

bool PlatformType(WChar* buffer, std::size_t capacity) {
  return SystemParametersInfoW(kGetPlatformType, static_cast<UINT>(capacity * sizeof(WChar)),
                               buffer, 0) != FALSE;
}

}  // namespace lanfeed::system_calls
