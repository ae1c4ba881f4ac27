// The window class of a desktop program's main frame window.
#pragma once

#include <cstdint>

#include "platform/text.h"

namespace lanfeed {

// Resource identifiers and commands of a main window with a menu and an About
// box, as a Win32 application wizard lays it out.
struct AppWindowClass {
  const WChar* class_name = nullptr;
  uint32_t icon_id = 0;           // large class icon
  uint32_t small_icon_id = 0;     // small class icon
  uint32_t menu_id = 0;           // class menu
  uint32_t about_dialog_id = 0;   // dialog shown by about_command
  uint32_t about_command = 0;     // menu command that opens the About box
  uint32_t exit_command = 0;      // menu command that destroys the window
};

// Registers the class (RegisterClassExW: styles CS_HREDRAW | CS_VREDRAW, the
// standard frame window procedure below, no extra bytes, this program's
// instance, the two icons, the arrow cursor, COLOR_WINDOW + 1, the menu).
// The procedure opens the About dialog on about_command, destroys the window
// on exit_command and ends the message loop when the window is destroyed.
// Returns false when the system refuses the class. Elsewhere there is no
// window system: the call only checks that a class name is given.
bool RegisterAppWindowClass(const AppWindowClass& description);

}  // namespace lanfeed
