// POSIX backend of the message box service: the box behind
// dialogs_common.cpp (internal/system_calls.h). win32/dialogs.cpp is the
// Windows one.
#include "platform/dialogs.h"

#include <cstdio>
#include <string>

#include "platform/internal/system_calls.h"

namespace lanfeed::system_calls {

// No window system here: the box goes to standard error and is answered OK.
int ShowBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style) {
  std::string caption8 = ToUtf8(WStringView(caption == nullptr ? LF_TEXT("") : caption));
  std::string text8 = ToUtf8(WStringView(text == nullptr ? LF_TEXT("") : text));
  std::fprintf(stderr, "[message box, style %u] %s\n%s\n[answered OK]\n",
               static_cast<unsigned>(style), caption8.c_str(), text8.c_str());
  return kAnswerOk;
}

}  // namespace lanfeed::system_calls
