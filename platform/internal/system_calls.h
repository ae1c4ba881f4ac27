// The system's own calls (in posix/, their stand-ins) behind the services
// that have a test seam (dialogs.h, process.h, system_info.h, com.h); not
// part of their interface. Each backend defines them in its file of the
// service's name (win32/dialogs.cpp, posix/dialogs.cpp, ...); the service's
// shared part (dialogs_common.cpp, ...) decides between them and the seam.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/text.h"
#include "platform/window.h"

namespace lanfeed::system_calls {

int ShowBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style);
const WChar* CommandLine();
bool PlatformType(WChar* buffer, std::size_t capacity);
bool ComInitialize();  // true on S_OK or S_FALSE
void ComUninitialize();

}  // namespace lanfeed::system_calls
