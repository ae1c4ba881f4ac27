// The shared part of the message box service (dialogs.h): the test handler,
// or else the backend's box (internal/system_calls.h): win32/dialogs.cpp
// shows a window, posix/dialogs.cpp writes to standard error.
#include "platform/dialogs.h"

#include "platform/internal/system_calls.h"

namespace lanfeed {

namespace {
MessageBoxHandler g_handler = nullptr;
void* g_context = nullptr;
}  // namespace

int ShowMessageBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style) {
  if (g_handler != nullptr) return g_handler(g_context, owner, text, caption, style);
  return system_calls::ShowBox(owner, text, caption, style);
}

void SetMessageBoxHandlerForTesting(MessageBoxHandler handler, void* context) {
  g_handler = handler;
  g_context = context;
}

}  // namespace lanfeed
