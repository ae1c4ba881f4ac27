// Starting a program through the shell.
#pragma once

#include <cstdint>

#include "platform/text.h"
#include "platform/window.h"

namespace lanfeed {

inline constexpr int32_t kShowNormal = 1;  // SW_SHOWNORMAL

// The fields of SHELLEXECUTEINFOW that callers set; every other field is zero.
struct ShellExecuteRequest {
  uint32_t mask = 0;                  // fMask
  WindowHandle owner = nullptr;       // hwnd
  const WChar* verb = nullptr;        // lpVerb, e.g. "open"
  const WChar* file = nullptr;        // lpFile
  const WChar* parameters = nullptr;  // lpParameters
  const WChar* directory = nullptr;   // lpDirectory
  int32_t show = 0;                   // nShow
};

// ShellExecuteExW with the request (the structure's size is set by the call).
// Returns true when the program was started; never waits for it.
//
// Elsewhere: `file` is mapped like every path of platform/files.h and started
// with the parameter text as ONE argument (none when the text is null or
// empty), in `directory` when one is given. The verb, owner and show state
// have no meaning there; a process handle is never returned. The started
// program is not a child to be reaped: it belongs to init.
bool ShellStart(const ShellExecuteRequest& request);

}  // namespace lanfeed
