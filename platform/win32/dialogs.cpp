#include "platform/dialogs.h"

#include <windows.h>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

int ShowBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style) {
  return MessageBoxW(owner, text, caption, style);
}

}  // namespace lanfeed::system_calls
