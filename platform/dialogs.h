// Message boxes.
//
// Windows: MessageBoxW. Elsewhere there is no window system: the box is
// written to standard error (caption, text, style) and answered with OK (1).
//
// Test seam: SetMessageBoxHandlerForTesting routes every box to a handler,
// which records what was shown and picks the answer; a null handler restores
// the real box. Set it only while no other thread shows boxes.
#pragma once

#include <cstdint>

#include "platform/text.h"
#include "platform/window.h"

namespace lanfeed {

// Styles (the button sets) and answers, with the Win32 values.
inline constexpr uint32_t kMessageBoxOk = 0;        // MB_OK
inline constexpr uint32_t kMessageBoxOkCancel = 1;  // MB_OKCANCEL
inline constexpr int kAnswerOk = 1;                 // IDOK
inline constexpr int kAnswerCancel = 2;             // IDCANCEL

// Shows a modal box owned by `owner` (may be null) and returns the button
// pressed, or 0 when the box could not be shown.
int ShowMessageBox(WindowHandle owner, const WChar* text, const WChar* caption, uint32_t style);

using MessageBoxHandler = int (*)(void* context, WindowHandle owner, const WChar* text,
                                  const WChar* caption, uint32_t style);
void SetMessageBoxHandlerForTesting(MessageBoxHandler handler, void* context);

}  // namespace lanfeed
