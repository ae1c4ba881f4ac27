// Windows backend of the message box service: the box behind
// dialogs_common.cpp (internal/system_calls.h). posix/dialogs.cpp is the
// stand-in elsewhere.
#include "platform/dialogs.h"

#include <windows.h>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

int ShowBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style) {
  return MessageBoxW(owner, text, caption, style);
}

}  // namespace lanfeed::system_calls
